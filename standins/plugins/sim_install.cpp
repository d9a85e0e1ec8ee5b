// The one file that binds the tray plug-in stand-ins to the simulated machine.
#include "standins/plugins/sim_install.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cwctype>
#include <map>
#include <mutex>
#include <stdexcept>

#include "platform/sim/desktop.h"
#include "platform/sim/module_table.h"
#include "platform/sim/process.h"
#include "platform/sim/registry_store.h"
#include "support/guid_string.h"
#include "support/tray_plugin_contract.h"

namespace plugin_standin {

struct SimTrayPluginInstallation::Impl {
  sim::Machine& machine;
  TrayPluginsDescription desc;
  std::atomic<int> live{0};

  const TrayPluginDesc* Find(const GUID& clsid) const {
    const std::wstring text = support::GuidToString(clsid);
    for (const auto& p : desc.plugins)
      if (SameText(p.clsid, text)) return &p;
    return nullptr;
  }
  static bool SameText(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
      if (std::towupper(a[i]) != std::towupper(b[i])) return false;
    return true;
  }
  void Record(const TrayPluginDesc& p, const std::wstring& text) {
    sim::Process* proc = sim::CurrentProcess();
    machine.GetDesktop().Record(proc ? proc->SessionId() : 0, kPluginKind, p.name + L" " + text);
  }
};

namespace {

std::mutex g_mu;
std::map<sim::Machine*, std::weak_ptr<SimTrayPluginInstallation::Impl>> g_installations;

std::shared_ptr<SimTrayPluginInstallation::Impl> CallerInstallation() {
  sim::Process* p = sim::CurrentProcess();
  if (!p) return nullptr;
  std::lock_guard lk(g_mu);
  auto it = g_installations.find(&p->GetMachine());
  return it == g_installations.end() ? nullptr : it->second.lock();
}

std::wstring Hex(HRESULT hr) {
  wchar_t buf[16];
  std::swprintf(buf, 16, L"0x%08X", static_cast<unsigned>(hr));
  return buf;
}

// One plug-in object, doing what its description says.
class StandInPlugin final : public IVDNXTrayMenuPlugin,
                            public IVDNXHostAwarePlugin,
                            public IVDNXTraySubscriber {
 public:
  StandInPlugin(std::shared_ptr<SimTrayPluginInstallation::Impl> impl, const TrayPluginDesc& d)
      : m_impl(std::move(impl)), m_desc(d) {
    ++m_impl->live;
  }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown)
      *ppv = static_cast<IVDNXTrayMenuPlugin*>(this);
    else if (riid == IID_IVDNXTrayMenuPlugin && m_desc.menu)
      *ppv = static_cast<IVDNXTrayMenuPlugin*>(this);
    else if (riid == IID_IVDNXHostAwarePlugin && m_desc.hostAware)
      *ppv = static_cast<IVDNXHostAwarePlugin*>(this);
    else if (riid == IID_IVDNXTraySubscriber && m_desc.subscriber)
      *ppv = static_cast<IVDNXTraySubscriber*>(this);
    else
      return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --m_refs;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE AddMenuItems(HMENU menu, UINT firstId, UINT* count) override {
    if (!count) return E_POINTER;
    if (sim::Process* p = sim::CurrentProcess())
      for (std::size_t i = 0; i < m_desc.items.size(); ++i)
        p->Ui().AppendMenuW(menu, MF_STRING, firstId + static_cast<UINT>(i), m_desc.items[i].c_str());
    m_firstId = firstId;
    *count = m_desc.count;
    m_impl->Record(m_desc, L"items " + std::to_wstring(firstId) + L" " + std::to_wstring(m_desc.count));
    return m_desc.addResult;
  }
  HRESULT STDMETHODCALLTYPE ExecuteMenuItem(UINT id) override {
    const std::size_t index = id - m_firstId;
    const std::wstring text = index < m_desc.items.size() ? m_desc.items[index] : L"";
    m_impl->Record(m_desc, L"item " + std::to_wstring(id) + L" \"" + text + L"\"");
    switch (m_desc.execute) {
      case ExecuteAction::Record:
        return S_OK;
      case ExecuteAction::Throw:
        throw std::runtime_error("tray plug-in stand-in: execute throws");
      case ExecuteAction::Notify: {
        const HRESULT hr = m_host ? m_host->ShowNotification(m_desc.name.c_str(), text.c_str(), 0,
                                                             static_cast<DWORD>(index), nullptr)
                                  : E_UNEXPECTED;
        m_impl->Record(m_desc, L"notify " + Hex(hr));
        return hr;
      }
      case ExecuteAction::Console: {
        HRESULT hr = E_UNEXPECTED;
        IVDNXPluginHost* console = nullptr;
        if (m_host && SUCCEEDED(m_host->QueryInterface(IID_IVDNXPluginHost,
                                                       reinterpret_cast<void**>(&console)))) {
          hr = console->OpenConsole(1, text.c_str(), 0, nullptr);
          console->Release();
        }
        m_impl->Record(m_desc, L"console " + Hex(hr));
        return hr;
      }
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetHost(IVDNXTrayNotify* host) override {
    Keep(host);
    m_impl->Record(m_desc, L"host");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Subscribe(IVDNXTrayNotify* host) override {
    if (SUCCEEDED(m_desc.subscribeResult)) {
      Keep(host);
      m_impl->Record(m_desc, L"subscribed");
    }
    return m_desc.subscribeResult;
  }

 private:
  ~StandInPlugin() {
    if (m_host) m_host->Release();
    --m_impl->live;
  }
  void Keep(IVDNXTrayNotify* host) {
    if (!host || host == m_host) return;
    host->AddRef();
    if (m_host) m_host->Release();
    m_host = host;
  }

  std::shared_ptr<SimTrayPluginInstallation::Impl> m_impl;
  TrayPluginDesc m_desc;
  std::atomic<ULONG> m_refs{1};
  UINT m_firstId = 0;
  IVDNXTrayNotify* m_host = nullptr;  // counted
};

class StandInClassObject final : public IClassFactory {
 public:
  StandInClassObject(std::shared_ptr<SimTrayPluginInstallation::Impl> impl, const TrayPluginDesc& d)
      : m_impl(std::move(impl)), m_desc(d) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!(riid == IID_IUnknown) && !(riid == IID_IClassFactory)) return E_NOINTERFACE;
    *ppv = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --m_refs;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    if (m_desc.blockCreationMs) {
      m_impl->Record(m_desc, L"creating");
      // A platform wait: the machine sees the thread idle and lets time pass.
      if (sim::Process* p = sim::CurrentProcess()) p->Kernel().Sleep(m_desc.blockCreationMs);
      m_impl->Record(m_desc, L"created");
    }
    auto* object = new StandInPlugin(m_impl, m_desc);
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

 private:
  ~StandInClassObject() = default;
  std::shared_ptr<SimTrayPluginInstallation::Impl> m_impl;
  TrayPluginDesc m_desc;
  std::atomic<ULONG> m_refs{1};
};

HRESULT STDAPICALLTYPE StandInDllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  auto impl = CallerInstallation();
  const TrayPluginDesc* desc = impl ? impl->Find(clsid) : nullptr;
  if (!desc) return CLASS_E_CLASSNOTAVAILABLE;
  auto* object = new StandInClassObject(impl, *desc);
  const HRESULT hr = object->QueryInterface(riid, ppv);
  object->Release();
  return hr;
}

}  // namespace

SimTrayPluginInstallation::SimTrayPluginInstallation(std::shared_ptr<Impl> impl)
    : m_impl(std::move(impl)) {}

SimTrayPluginInstallation::~SimTrayPluginInstallation() {
  std::lock_guard lk(g_mu);
  g_installations.erase(&m_impl->machine);
}

const TrayPluginsDescription& SimTrayPluginInstallation::Description() const {
  return m_impl->desc;
}

int SimTrayPluginInstallation::LiveObjects() const { return m_impl->live.load(); }

DWORD SimTrayPluginInstallation::LongestCreationBlockMs() const {
  DWORD longest = 0;
  for (const auto& p : m_impl->desc.plugins) longest = std::max(longest, p.blockCreationMs);
  return longest;
}

std::unique_ptr<SimTrayPluginInstallation> InstallTrayPluginStandIns(sim::Machine& machine,
                                                                      TrayPluginsDescription desc) {
  auto impl = std::make_shared<SimTrayPluginInstallation::Impl>(machine, std::move(desc));
  {
    std::lock_guard lk(g_mu);
    auto& slot = g_installations[&machine];
    if (slot.lock()) throw std::logic_error("tray plug-ins are installed on this machine already");
    slot = impl;
  }
  auto& reg = machine.Registry();
  for (const auto& p : impl->desc.plugins) {
    if (p.installed)
      machine.Modules().Install(p.path, {{"DllGetClassObject", reinterpret_cast<FARPROC>(
                                              reinterpret_cast<void*>(&StandInDllGetClassObject))}});
    // A 32-bit agent on 64-bit Windows reads the 32-bit view; a 64-bit one the other.
    for (const wchar_t* root : {L"HKLM\\SOFTWARE\\", L"HKLM\\SOFTWARE\\WOW6432Node\\"})
      reg.SetString(std::wstring(root) + L"Veridane\\VDNX\\Plugins\\TrayIcon\\" + p.clsid, L"",
                    p.path);
  }
  return std::unique_ptr<SimTrayPluginInstallation>(new SimTrayPluginInstallation(impl));
}

}  // namespace plugin_standin
