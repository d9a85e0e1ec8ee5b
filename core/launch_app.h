// Launching the suite's applications by identifier: 0 is the agent itself, 1 the console of
// the installed edition.
#pragma once

#include <string>

#include "core/agent_process.h"

namespace LAUNCHAPPID {

enum AppId : int { Agent = 0, Console = 1 };

// S_OK when the program was started; a failure when it cannot be resolved or started.
HRESULT LaunchApp(core::CAgentProcess& process, int appId, const std::wstring& arguments);

}  // namespace LAUNCHAPPID
