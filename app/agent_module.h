// The agent's module: its start (toast activator class object, application user model
// id) and its registration tasks. Their bodies arrive with the installation work; until
// then each reports success without doing anything beyond tracing.
#pragma once

#include "core/agent_process.h"

namespace CVdAgentModule {

HRESULT Init(core::CAgentProcess& process);
void Term(core::CAgentProcess& process);
HRESULT RegisterServer(core::CAgentProcess& process, bool lowProfile);
HRESULT UnregisterServer(core::CAgentProcess& process, bool lowProfile);

}  // namespace CVdAgentModule
