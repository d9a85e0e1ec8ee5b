#include "tests/ext/fake_tray_plugins.h"

#include <atomic>
#include <cwctype>
#include <stdexcept>

#include "ext/agent_plugins.h"
#include "platform/sim/module_table.h"
#include "support/guid_string.h"

namespace plugin_test {

namespace {

FakePlugins* g_fakes = nullptr;

std::wstring Upper(std::wstring s) {
  for (auto& c : s) c = static_cast<wchar_t>(std::towupper(c));
  return s;
}

class FakePlugin final : public IVDNXTrayMenuPlugin,
                         public IVDNXHostAwarePlugin,
                         public IVDNXTraySubscriber {
 public:
  FakePlugin(FakePlugins& fakes, const FakePluginDesc& desc) : m_fakes(fakes), m_desc(desc) {
    ++m_fakes.live;
  }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    *ppv = nullptr;
    if (riid == IID_IUnknown) {
      *ppv = static_cast<IVDNXTrayMenuPlugin*>(this);
    } else if (riid == IID_IVDNXTrayMenuPlugin && m_desc.menu) {
      *ppv = static_cast<IVDNXTrayMenuPlugin*>(this);
    } else if (riid == IID_IVDNXHostAwarePlugin && m_desc.hostAware) {
      *ppv = static_cast<IVDNXHostAwarePlugin*>(this);
    } else if (riid == IID_IVDNXTraySubscriber && m_desc.subscriber) {
      *ppv = static_cast<IVDNXTraySubscriber*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --m_refs;
    if (left == 0) {
      m_fakes.Record({m_desc.clsid, "released", 0, S_OK, m_fakes.DllLoaded(m_desc.path)});
      --m_fakes.live;
      delete this;
    }
    return left;
  }
  HRESULT STDMETHODCALLTYPE AddMenuItems(HMENU menu, UINT firstId, UINT* count) override {
    m_fakes.Record({m_desc.clsid, "add", firstId});
    if (m_desc.addThrows) throw std::runtime_error("add items blew up");
    auto& ui = m_fakes.Process().Ui();
    for (UINT i = 0; i < m_desc.items && i < 8; ++i)
      ui.AppendMenuW(menu, MF_STRING, firstId + i, (m_desc.clsid + L" item").c_str());
    if (m_desc.strayId) ui.AppendMenuW(menu, MF_STRING, m_desc.strayId, L"stray");
    *count = m_desc.items;
    return m_desc.addResult;
  }
  HRESULT STDMETHODCALLTYPE ExecuteMenuItem(UINT id) override {
    m_fakes.Record({m_desc.clsid, "execute", id});
    if (m_desc.executeThrows) throw std::runtime_error("execute blew up");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetHost(IVDNXTrayNotify* host) override {
    m_fakes.Record({m_desc.clsid, "sethost"});
    if (m_desc.notifyAtSetHost) {
      const HRESULT hr = host->ShowNotification(L"From", m_desc.clsid.c_str(), 0, 7, nullptr);
      m_fakes.Record({m_desc.clsid, "notify", 0, hr});
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Subscribe(IVDNXTrayNotify*) override {
    m_fakes.Record({m_desc.clsid, "subscribe", 0, m_desc.subscribeResult});
    return m_desc.subscribeResult;
  }

 private:
  ~FakePlugin() = default;
  FakePlugins& m_fakes;
  FakePluginDesc m_desc;
  std::atomic<ULONG> m_refs{1};
};

class FakeClassObject final : public IClassFactory {
 public:
  FakeClassObject(FakePlugins& fakes, const FakePluginDesc& desc) : m_fakes(fakes), m_desc(desc) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    *ppv = nullptr;
    if (riid == IID_IUnknown || (riid == IID_IClassFactory && !m_desc.noFactory)) {
      *ppv = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --m_refs;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    m_fakes.Record({m_desc.clsid, "create"});
    if (m_desc.createGate) m_fakes.Process().Kernel().WaitForSingleObject(m_desc.createGate, INFINITE);
    if (FAILED(m_desc.createResult)) return m_desc.createResult;
    auto* plugin = new FakePlugin(m_fakes, m_desc);
    const HRESULT hr = plugin->QueryInterface(riid, ppv);
    plugin->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

 private:
  ~FakeClassObject() = default;
  FakePlugins& m_fakes;
  FakePluginDesc m_desc;
  std::atomic<ULONG> m_refs{1};
};

HRESULT STDAPICALLTYPE FakeDllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* ppv) {
  *ppv = nullptr;
  const FakePluginDesc* desc = g_fakes ? g_fakes->Find(clsid) : nullptr;
  if (!desc) return CLASS_E_CLASSNOTAVAILABLE;
  auto* object = new FakeClassObject(*g_fakes, *desc);
  const HRESULT hr = object->QueryInterface(riid, ppv);
  object->Release();
  return hr;
}

}  // namespace

FakePlugins::FakePlugins(sim::Machine& machine, sim::Process& process)
    : m_machine(machine), m_process(process) {
  g_fakes = this;
}

FakePlugins::~FakePlugins() { g_fakes = nullptr; }

void FakePlugins::Add(const FakePluginDesc& desc, bool install) {
  {
    std::lock_guard lk(m_mu);
    m_descs[Upper(desc.clsid)] = desc;
  }
  if (install)
    m_machine.Modules().Install(
        desc.path, {{"DllGetClassObject", reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&FakeDllGetClassObject))}});
  Register(desc.clsid, REG_SZ, desc.path);
}

void FakePlugins::Register(const std::wstring& subkey, DWORD type, const std::wstring& value) {
  platform::IRegistry& reg = m_process.Registry();
  HKEY key = nullptr;
  const std::wstring path = std::wstring(kTrayPluginsKey) + L"\\" + subkey;
  if (reg.RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                          nullptr) != ERROR_SUCCESS)
    throw std::runtime_error("cannot create the registration");
  if (type == REG_DWORD) {
    const DWORD v = 1;
    reg.RegSetValueExW(key, L"", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v);
  } else {
    reg.RegSetValueExW(key, L"", 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  }
  reg.RegCloseKey(key);
}

const FakePluginDesc* FakePlugins::Find(const GUID& clsid) {
  std::lock_guard lk(m_mu);
  auto it = m_descs.find(support::GuidToString(clsid));
  return it == m_descs.end() ? nullptr : &it->second;
}

void FakePlugins::Record(PluginEvent e) {
  std::lock_guard lk(m_mu);
  m_events.push_back(std::move(e));
}

std::vector<PluginEvent> FakePlugins::EventsOf(const std::string& what) {
  std::lock_guard lk(m_mu);
  std::vector<PluginEvent> out;
  for (auto& e : m_events)
    if (e.what == what) out.push_back(e);
  return out;
}

bool FakePlugins::DllLoaded(const std::wstring& path) {
  return m_process.Modules().GetModuleHandleW(path.c_str()) != nullptr;
}

}  // namespace plugin_test
