// Commands on the agent's command line ("-OpenConsole", "/ShowAbout", ...): carried out in
// the starting process, never passed to a running agent.
#pragma once

#include <string>

#include "core/agent_process.h"
#include "launch/commands.h"

namespace CLI {

// True when `text` (compared whole, without regard to case) is one of the commands and was
// carried out here; false otherwise, also when another command process is still running.
bool Handle(core::CAgentProcess& process, const std::wstring& text);

}  // namespace CLI
