#include "app/agent_module.h"

#include "support/trace/trace.h"

namespace CVdAgentModule {

HRESULT Init(core::CAgentProcess&) {
  VDTraceNS::CScope ts("CVdAgentModule::Init");
  return S_OK;
}

void Term(core::CAgentProcess&) { VDTraceNS::CScope ts("CVdAgentModule::Term"); }

HRESULT RegisterServer(core::CAgentProcess&, bool lowProfile) {
  VDTraceNS::CScope ts("CVdAgentModule::RegisterServer");
  ts.Msg("lowProfile = %d", lowProfile ? 1 : 0);
  return S_OK;
}

HRESULT UnregisterServer(core::CAgentProcess&, bool lowProfile) {
  VDTraceNS::CScope ts("CVdAgentModule::UnregisterServer");
  ts.Msg("lowProfile = %d", lowProfile ? 1 : 0);
  return S_OK;
}

}  // namespace CVdAgentModule
