// Launching the suite's applications by identifier: 0 is the agent itself, 1 the console of
// the installed edition.
//
//   LAUNCHAPPID::LaunchApp(process, LAUNCHAPPID::Agent, L"-ShowAbout");   // About box
//   LAUNCHAPPID::LaunchApp(process, LAUNCHAPPID::Console, L"-mode:UserReset");
//
// Programs are named with the suite's machine environment variables ("NXWDINSTALLPATH",
// "NXWDINSTALLPATH_X86"), expanded by the shell at launch.
#pragma once

#include <string>

#include "core/agent_process.h"

namespace LAUNCHAPPID {

enum AppId : int { Agent = 0, Console = 1 };

// The program of `appId`, environment variables not expanded; empty when the identifier is
// unknown or no edition with a console is installed.
std::wstring GetProcessName(core::CAgentProcess& process, int appId);

// True when `path` (environment variables expanded) names an existing file.
bool IsAppInstalled(core::CAgentProcess& process, const wchar_t* path);

// Starts application `appId` with `arguments`; true when it started.
bool LaunchApp(core::CAgentProcess& process, int appId, const std::wstring& arguments);

// Records that the out-of-box experience has passed, then starts `executable` (environment
// variables expanded) with `arguments` as the shell would; true when it started.
bool LaunchProcessName(core::CAgentProcess& process, const std::wstring& executable,
                       const std::wstring& arguments);

}  // namespace LAUNCHAPPID
