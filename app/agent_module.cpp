#include "app/agent_module.h"

#include <utility>

#include "support/toast_contract.h"
#include "support/trace/trace.h"

CVdAgentModule::CVdAgentModule(core::CAgentProcess& process,
                               CToastActivator::CommandHandler commands)
    : m_process(process), m_commands(std::move(commands)) {}

CVdAgentModule::~CVdAgentModule() {
  if (m_cookie) Term();
}

HRESULT CVdAgentModule::Init() {
  VDTraceNS::CScope ts("CVdAgentModule::Init");
  auto& plat = m_process.Platform();
  // COM holds its own reference on the class object until it is revoked.
  platform::ComPtr<IClassFactory> factory = CToastActivator::CreateFactory(m_commands);
  DWORD cookie = 0;
  HRESULT hr = plat.Com().CoRegisterClassObject(CLSID_ToastActivator, factory.get(),
                                                CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie);
  if (FAILED(hr)) return ts.Result("Registering COM Server clases", hr);
  m_cookie = cookie;
  // Only the grouping of the toasts depends on it, and systems before Windows 7 do not know
  // it: the agent runs without.
  const HRESULT aumid = plat.Shell().SetCurrentProcessExplicitAppUserModelID(kAgentAppUserModelId);
  if (FAILED(aumid)) ts.Result("Setting AppUserModelID for process", aumid);
  return hr;
}

void CVdAgentModule::Term() {
  VDTraceNS::CScope ts("CVdAgentModule::Term");
  if (!m_cookie) return;
  ts.Result("CoRevokeClassObject",
            m_process.Platform().Com().CoRevokeClassObject(std::exchange(m_cookie, 0)));
}

HRESULT CVdAgentModule::RegisterServer(core::CAgentProcess&, bool lowProfile) {
  VDTraceNS::CScope ts("CVdAgentModule::RegisterServer");
  ts.Msg("lowProfile = %d", lowProfile ? 1 : 0);
  return S_OK;
}

HRESULT CVdAgentModule::UnregisterServer(core::CAgentProcess&, bool lowProfile) {
  VDTraceNS::CScope ts("CVdAgentModule::UnregisterServer");
  ts.Msg("lowProfile = %d", lowProfile ? 1 : 0);
  return S_OK;
}
