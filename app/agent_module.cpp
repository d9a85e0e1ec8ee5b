#include "app/agent_module.h"

#include <utility>

#include "app/agent_registration.h"
#include "platform/handles.h"
#include "support/registry_read.h"
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

namespace {

// A COM apartment of the registration's own, left again only when it was entered.
class CRegistrationApartment {
 public:
  explicit CRegistrationApartment(platform::ICom& com)
      : m_com(com), m_entered(SUCCEEDED(com.CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ~CRegistrationApartment() {
    if (m_entered) m_com.CoUninitialize();
  }
  CRegistrationApartment(const CRegistrationApartment&) = delete;
  CRegistrationApartment& operator=(const CRegistrationApartment&) = delete;

 private:
  platform::ICom& m_com;
  bool m_entered;
};

constexpr wchar_t kApplicationsKey[] = L"SOFTWARE\\Veridane\\Applications";

HRESULT ReadBinDir(platform::IPlatform& plat, std::wstring* dir) {
  VDTraceNS::CScope ts("Veridane::Configuration::BinDir");
  auto& reg = plat.Registry();
  platform::UniqueHKey key(reg);
  LSTATUS s = reg.RegOpenKeyExW(HKEY_LOCAL_MACHINE, kApplicationsKey, 0,
                                KEY_READ | support::SuiteView(reg), key.put());
  registration::StringRead read = registration::StringRead::Failed;
  if (s == ERROR_SUCCESS)
    read = registration::ReadString(reg, key.get(), L"BinDir", dir, /*allowExpand=*/true);
  if (read != registration::StringRead::Ok) {
    ts.Msg("Cannot read BinDir");
    return s != ERROR_SUCCESS                            ? HRESULT_FROM_WIN32(s)
           : read == registration::StringRead::WrongType ? HRESULT_FROM_WIN32(ERROR_INVALID_DATA)
                                                         : HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  }
  if (dir->empty()) {
    ts.Msg("BinDir is empty");
    return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  }
  return S_OK;
}

}  // namespace

HRESULT CVdAgentModule::RegisterServer(core::CAgentProcess& process, bool lowProfile) {
  VDTraceNS::CScope ts("CVdAgentModule::RegisterServer");
  ts.Msg("lowProfile = %d", lowProfile ? 1 : 0);
  auto& plat = process.Platform();
  CRegistrationApartment apartment(plat.Com());
  std::wstring modulePath;
  HRESULT hr = registration::GetModulePath(plat, &modulePath);
  if (SUCCEEDED(hr))
    hr = registration::CRegistryScript(plat, registration::ActivatorScript(modulePath),
                                       support::SuiteView(plat.Registry()))
             .Register();
  if (FAILED(hr)) return ts.Result("Registering module", hr);

  {
    // An entry of an older installation goes, whatever its folder; the current one is then
    // there exactly once, however often the installer runs.
    userinitkey_t userinit(plat);
    userinit.removeValue(modulePath, true);
    userinit.addUniqueValue(modulePath);
  }
  citrixlogoffmodulecheck_t citrix(plat);
  citrix.removeValue(modulePath);
  if (lowProfile) return hr;

  hr = InstallEnvironment(process, modulePath);
  if (FAILED(hr)) return ts.Result("Setting environment strings", hr);
  hr = InstallShortcut(process);
  if (FAILED(hr)) return ts.Result("Installing shortcut", hr);
  hr = RegisterCPL(process, modulePath, true);
  citrix.addUniqueValue(modulePath);
  return hr;
}

HRESULT CVdAgentModule::UnregisterServer(core::CAgentProcess& process, bool lowProfile) {
  VDTraceNS::CScope ts("CVdAgentModule::UnregisterServer");
  ts.Msg("lowProfile = %d", lowProfile ? 1 : 0);
  auto& plat = process.Platform();
  CRegistrationApartment apartment(plat.Com());
  std::wstring modulePath;
  HRESULT hr = registration::GetModulePath(plat, &modulePath);
  if (FAILED(hr)) return ts.Result("Getting module path", hr);

  // Only this installation's entry: another agent's stays.
  userinitkey_t(plat).removeValue(modulePath, false);
  if (!lowProfile) {
    citrixlogoffmodulecheck_t(plat).removeValue(modulePath);
    RegisterCPL(process, modulePath, false);
    ts.Result("Uninstalling shortcut", UninstallShortcut(process));
    UninstallEnvironment(process);
  }
  return ts.Result("Unregistering module",
                   registration::CRegistryScript(plat, registration::ActivatorScript(modulePath),
                                                 support::SuiteView(plat.Registry()))
                       .Unregister());
}

HRESULT CVdAgentModule::InstallEnvironment(core::CAgentProcess& process,
                                           const std::wstring& modulePath) {
  VDTraceNS::CScope ts("CVdAgentModule::InstallEnvironment");
  auto& plat = process.Platform();
  std::wstring installDir;
  HRESULT hr = ReadBinDir(plat, &installDir);
  if (FAILED(hr)) return hr;
  ts.Msg(L"installDir = %ls", installDir.c_str());
  const std::wstring installDir32 = registration::ModuleFolder(modulePath);
  ts.Msg(L"installDir32 = %ls", installDir32.c_str());
  using Tessaline::System::Environment::WriteEnvironmentVariable;
  hr = WriteEnvironmentVariable(plat, kInstallPathVariable, installDir);
  if (FAILED(hr)) return hr;
  return WriteEnvironmentVariable(plat, kInstallPathX86Variable, installDir32);
}

void CVdAgentModule::UninstallEnvironment(core::CAgentProcess& process) {
  VDTraceNS::CScope ts("CVdAgentModule::UninstallEnvironment");
  using Tessaline::System::Environment::WriteEnvironmentVariable;
  WriteEnvironmentVariable(process.Platform(), kInstallPathVariable, L"");
  WriteEnvironmentVariable(process.Platform(), kInstallPathX86Variable, L"");
}

HRESULT CVdAgentModule::InstallShortcut(core::CAgentProcess&) {
  VDTraceNS::CScope ts("CVdAgentModule::InstallShortcut");
  ts.Msg("No Start menu shortcut in this build");
  return S_FALSE;
}

HRESULT CVdAgentModule::UninstallShortcut(core::CAgentProcess&) {
  VDTraceNS::CScope ts("CVdAgentModule::UninstallShortcut");
  ts.Msg("Shortcut does not exist");
  return S_OK;
}
