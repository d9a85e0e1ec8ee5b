// Commands on the agent's command line ("-OpenConsole", "/ShowAbout", ...): carried out in
// the starting process, never passed to a running agent.
#pragma once

#include <string>

#include "core/agent_process.h"

namespace CLI {

// True when `text` (compared whole, without regard to case) is one of the commands and was
// carried out here; false otherwise, also when another command process is still running.
bool Handle(core::CAgentProcess& process, const std::wstring& text);

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
