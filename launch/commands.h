// The command functions of the agent's command line, also called directly by other parts of
// the agent (tray menu, notifications, plug-ins): each opens a console page or the About box.
//
//   CLI::OpenConsole(process);                  // the console's start page
//   CLI::EnrollCredentials(process, 0x2, 0);    // the fingerprint enrollment page
#pragma once

#include <string>

#include "core/agent_process.h"

namespace CLI {

// The console page argument for a credential mask given as two 32-bit halves.
std::wstring EnrollmentPage(DWORD lowMask, DWORD highMask);

// The command functions, also called directly by other parts of the agent.
HRESULT ShowAbout(core::CAgentProcess& process);
HRESULT OpenConsole(core::CAgentProcess& process);
HRESULT EnrollCredentials(core::CAgentProcess& process, DWORD lowMask, DWORD highMask);
HRESULT ManageCredentials(core::CAgentProcess& process);
HRESULT ResetCredentials(core::CAgentProcess& process);
HRESULT StartRecovery(core::CAgentProcess& process);

}  // namespace CLI
