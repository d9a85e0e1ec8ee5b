// The one file that binds the stand-in component to the simulated machine.
#include "standins/eventlog/sim_install.h"

#include <cwchar>
#include <map>
#include <mutex>
#include <stdexcept>

#include "platform/sim/desktop.h"
#include "platform/sim/module_table.h"
#include "platform/sim/process.h"
#include "platform/sim/registry_store.h"

namespace eventlog_standin {

struct SimEventLogInstallation::Impl final : IEventLogSite {
  explicit Impl(sim::Machine& m) : machine(m), component(this) {}

  void EventWritten(const EventRecord& e) override {
    machine.GetDesktop().Record(e.sessionId, kDesktopKind, RenderEvent(e));
  }

  sim::Machine& machine;
  CEventLogComponent component;
  std::wstring path;
  std::wstring registrationKey;  // empty when not registered
  bool moduleInstalled = false;
};

namespace {

std::mutex g_mu;
std::map<sim::Machine*, std::weak_ptr<SimEventLogInstallation::Impl>> g_installations;

// DllGetClassObject of the DLL: the installation of the calling process's machine answers,
// as a real DLL's globals would.
HRESULT STDAPICALLTYPE StandinDllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  sim::Process* p = sim::CurrentProcess();
  if (!p) return E_UNEXPECTED;
  std::shared_ptr<SimEventLogInstallation::Impl> impl;
  {
    std::lock_guard lk(g_mu);
    auto it = g_installations.find(&p->GetMachine());
    if (it != g_installations.end()) impl = it->second.lock();
  }
  if (!impl) return CLASS_E_CLASSNOTAVAILABLE;  // uninstalled while the DLL stayed loaded
  try {
    return impl->component.GetClassObject(rclsid, riid, ppv, p->Pid(), p->SessionId());
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

std::wstring ClsidText(const GUID& g) {
  wchar_t buf[39];
  std::swprintf(buf, sizeof(buf) / sizeof(buf[0]),
                L"{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(g.Data1), static_cast<unsigned>(g.Data2),
                static_cast<unsigned>(g.Data3), g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3],
                g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return buf;
}

FARPROC Proc(PFN_DLLGETCLASSOBJECT f) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(f));
}

}  // namespace

SimEventLogInstallation::SimEventLogInstallation(std::shared_ptr<Impl> impl)
    : m_impl(std::move(impl)) {}

SimEventLogInstallation::~SimEventLogInstallation() {
  {
    std::lock_guard lk(g_mu);
    g_installations.erase(&m_impl->machine);
  }
  if (m_impl->moduleInstalled) m_impl->machine.Modules().Uninstall(m_impl->path);
  if (!m_impl->registrationKey.empty()) {
    // The class key, not only InprocServer32 below it.
    const std::wstring key = m_impl->registrationKey;
    m_impl->machine.Registry().DeleteKey(key.substr(0, key.rfind(L'\\')));
  }
}

CEventLogComponent& SimEventLogInstallation::Component() { return m_impl->component; }
const std::wstring& SimEventLogInstallation::Path() const { return m_impl->path; }
const std::wstring& SimEventLogInstallation::RegistrationKey() const {
  return m_impl->registrationKey;
}

std::unique_ptr<SimEventLogInstallation> InstallEventLog(sim::Machine& machine,
                                                         SimEventLogOptions options) {
  {
    std::lock_guard lk(g_mu);
    auto it = g_installations.find(&machine);
    if (it != g_installations.end() && !it->second.expired())
      throw std::logic_error("the event-log component is already installed on this machine");
  }
  const bool is64 = machine.Description().is64BitWindows;
  auto impl = std::make_shared<SimEventLogInstallation::Impl>(machine);
  impl->path = !options.path.empty()
                   ? options.path
                   : std::wstring(is64 ? L"C:\\Program Files (x86)" : L"C:\\Program Files") +
                         L"\\Veridane\\Shared\\VDEvtLog.dll";

  if (options.installModule) {
    sim::ModuleTable::Exports exports;
    if (options.exportGetClassObject)
      exports["DllGetClassObject"] = Proc(&StandinDllGetClassObject);
    machine.Modules().Install(impl->path, std::move(exports));
    impl->moduleInstalled = true;
  }
  if (options.registerClass) {
    // A 32-bit server: on 64-bit Windows its class lives in the 32-bit view of HKCR\CLSID.
    impl->registrationKey = std::wstring(is64 ? L"HKCR\\Wow6432Node\\CLSID\\" : L"HKCR\\CLSID\\") +
                            ClsidText(CLSID_VDEventLog) + L"\\InprocServer32";
    std::wstring value = impl->path;
    DWORD type = REG_SZ;
    if (options.expandablePath && value.rfind(L"C:", 0) == 0) {
      value = L"%SystemDrive%" + value.substr(2);
      type = REG_EXPAND_SZ;
    }
    auto& reg = machine.Registry();
    reg.SetString(impl->registrationKey, L"", value, type);
    reg.SetString(impl->registrationKey, L"ThreadingModel", L"Both");
  }
  {
    std::lock_guard lk(g_mu);
    g_installations[&machine] = impl;
  }
  return std::unique_ptr<SimEventLogInstallation>(new SimEventLogInstallation(std::move(impl)));
}

}  // namespace eventlog_standin
