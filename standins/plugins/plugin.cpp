#include "standins/plugins/plugin.h"

#include <atomic>
#include <cwchar>
#include <stdexcept>

namespace plugin_standin {

namespace {

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
  StandInPlugin(std::shared_ptr<IPluginSite> site, const TrayPluginDesc& d)
      : m_site(std::move(site)), m_desc(d) {
    m_site->CountObject(1);
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
    for (std::size_t i = 0; i < m_desc.items.size(); ++i)
      m_site->AppendMenuItem(menu, firstId + static_cast<UINT>(i), m_desc.items[i]);
    m_firstId = firstId;
    *count = m_desc.count;
    Record(L"items " + std::to_wstring(firstId) + L" " + std::to_wstring(m_desc.count));
    return m_desc.addResult;
  }
  HRESULT STDMETHODCALLTYPE ExecuteMenuItem(UINT id) override {
    const std::size_t index = id - m_firstId;
    const std::wstring text = index < m_desc.items.size() ? m_desc.items[index] : L"";
    Record(L"item " + std::to_wstring(id) + L" \"" + text + L"\"");
    switch (m_desc.execute) {
      case ExecuteAction::Record:
        return S_OK;
      case ExecuteAction::Throw:
        throw std::runtime_error("tray plug-in stand-in: execute throws");
      case ExecuteAction::Notify: {
        const HRESULT hr = m_host ? m_host->ShowNotification(m_desc.name.c_str(), text.c_str(), 0,
                                                             static_cast<DWORD>(index), nullptr)
                                  : E_UNEXPECTED;
        Record(L"notify " + Hex(hr));
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
        Record(L"console " + Hex(hr));
        return hr;
      }
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetHost(IVDNXTrayNotify* host) override {
    Keep(host);
    Record(L"host");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Subscribe(IVDNXTrayNotify* host) override {
    if (SUCCEEDED(m_desc.subscribeResult)) {
      Keep(host);
      Record(L"subscribed");
    }
    return m_desc.subscribeResult;
  }

 private:
  ~StandInPlugin() {
    if (m_host) m_host->Release();
    m_site->CountObject(-1);
  }
  void Record(const std::wstring& text) { m_site->Record(m_desc.name + L" " + text); }
  void Keep(IVDNXTrayNotify* host) {
    if (!host || host == m_host) return;
    host->AddRef();
    if (m_host) m_host->Release();
    m_host = host;
  }

  std::shared_ptr<IPluginSite> m_site;
  TrayPluginDesc m_desc;
  std::atomic<ULONG> m_refs{1};
  UINT m_firstId = 0;
  IVDNXTrayNotify* m_host = nullptr;  // counted
};

class StandInClassObject final : public IClassFactory {
 public:
  StandInClassObject(std::shared_ptr<IPluginSite> site, const TrayPluginDesc& d)
      : m_site(std::move(site)), m_desc(d) {}
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
      Record(L"creating");
      m_site->Block(m_desc.blockCreationMs);
      Record(L"created");
    }
    auto* object = new StandInPlugin(m_site, m_desc);
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

 private:
  ~StandInClassObject() = default;
  void Record(const std::wstring& text) { m_site->Record(m_desc.name + L" " + text); }
  std::shared_ptr<IPluginSite> m_site;
  TrayPluginDesc m_desc;
  std::atomic<ULONG> m_refs{1};
};

}  // namespace

HRESULT CreateClassObject(const TrayPluginDesc& desc, std::shared_ptr<IPluginSite> site,
                          REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  auto* object = new StandInClassObject(std::move(site), desc);
  const HRESULT hr = object->QueryInterface(riid, ppv);
  object->Release();
  return hr;
}

}  // namespace plugin_standin
