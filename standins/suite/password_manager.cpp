#include "standins/suite/password_manager.h"

#include <atomic>
#include <cwchar>
#include <mutex>
#include <new>

namespace suite_standin {

struct CPasswordManagerServer::State {
  mutable std::mutex mu;
  PasswordManagerDesc desc;
  std::shared_ptr<IPasswordManagerSite> site;  // null once the server is gone
  std::vector<std::wstring> records;
  std::atomic<long> live{0};
  std::atomic<long> openDashboards{0};
  std::atomic<unsigned> closes{0};  // moves on each CloseDashboard that found one open

  // Records one call and shows it through the site (outside the lock); returns the site,
  // null once the server went.
  std::shared_ptr<IPasswordManagerSite> Say(const std::wstring& text) {
    std::shared_ptr<IPasswordManagerSite> s;
    {
      std::lock_guard lk(mu);
      if (!site) return nullptr;
      records.push_back(text);
      s = site;
    }
    s->Record(text);
    return s;
  }
};

namespace {

using State = CPasswordManagerServer::State;

template <typename Derived, typename Interface>
class CRefCounted : public Interface {
 public:
  explicit CRefCounted(std::shared_ptr<State> state) : m_state(std::move(state)) {
    ++m_state->live;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --m_refs;
    if (left == 0) {
      --m_state->live;
      delete static_cast<Derived*>(this);
    }
    return left;
  }

 protected:
  ~CRefCounted() = default;
  std::shared_ptr<State> m_state;

 private:
  std::atomic<ULONG> m_refs{1};
};

class CPasswordManager final : public CRefCounted<CPasswordManager, IVDPasswordManager> {
 public:
  using CRefCounted::CRefCounted;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!(riid == IID_IUnknown) && !(riid == IID_IVDPasswordManager)) return E_NOINTERFACE;
    AddRef();
    *ppv = static_cast<IVDPasswordManager*>(this);
    return S_OK;
  }
  // The password manager's own methods: nothing the agent calls.
  HRESULT STDMETHODCALLTYPE Reserved3() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved4() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved5() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved6() override { return E_NOTIMPL; }

  HRESULT STDMETHODCALLTYPE ShowMiniDashboard(BYTE bTrained) override {
    try {
      ULONGLONG openMs = 0;
      HRESULT hr = S_OK;
      {
        std::lock_guard lk(m_state->mu);
        openMs = m_state->desc.dashboardOpenMs;
        hr = m_state->desc.showResult;
      }
      if (FAILED(hr)) {
        wchar_t text[48];
        std::swprintf(text, sizeof(text) / sizeof(text[0]), L"mini dashboard failed 0x%08X",
                      static_cast<unsigned>(hr));
        m_state->Say(text);
        return hr;
      }
      const unsigned closesBefore = m_state->closes.load();
      ++m_state->openDashboards;
      auto site = m_state->Say(L"mini dashboard opened trained " + std::to_wstring(bTrained));
      if (site) {
        State* state = m_state.get();
        site->StayOpen(openMs, [state, closesBefore] { return state->closes != closesBefore; });
      }
      --m_state->openDashboards;
      if (site) m_state->Say(L"mini dashboard closed");
      return hr;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }

  HRESULT STDMETHODCALLTYPE InitUserTrainingTool() override {
    try {
      m_state->Say(L"training tool");
      std::lock_guard lk(m_state->mu);
      return m_state->desc.trainingResult;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }
};

class CFactory final : public CRefCounted<CFactory, IClassFactory> {
 public:
  using CRefCounted::CRefCounted;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!(riid == IID_IUnknown) && !(riid == IID_IClassFactory)) return E_NOINTERFACE;
    AddRef();
    *ppv = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (pUnkOuter) return CLASS_E_NOAGGREGATION;
    auto* pm = new (std::nothrow) CPasswordManager(m_state);
    if (!pm) return E_OUTOFMEMORY;
    const HRESULT hr = pm->QueryInterface(riid, ppv);
    pm->Release();  // the caller's reference, if any, keeps it
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

}  // namespace

CPasswordManagerServer::CPasswordManagerServer(PasswordManagerDesc desc,
                                               std::shared_ptr<IPasswordManagerSite> site)
    : m_state(std::make_shared<State>()) {
  m_state->desc = desc;
  m_state->site = std::move(site);
}

CPasswordManagerServer::~CPasswordManagerServer() {
  std::lock_guard lk(m_state->mu);
  m_state->site.reset();
}

HRESULT CPasswordManagerServer::GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!(rclsid == CLSID_VDPasswordManager)) return CLASS_E_CLASSNOTAVAILABLE;
  auto* factory = new (std::nothrow) CFactory(m_state);
  if (!factory) return E_OUTOFMEMORY;
  const HRESULT hr = factory->QueryInterface(riid, ppv);
  factory->Release();
  return hr;
}

std::vector<std::wstring> CPasswordManagerServer::Records() const {
  std::lock_guard lk(m_state->mu);
  return m_state->records;
}

long CPasswordManagerServer::LiveObjects() const { return m_state->live.load(); }
long CPasswordManagerServer::OpenDashboards() const { return m_state->openDashboards.load(); }

bool CPasswordManagerServer::CloseDashboard() {
  if (m_state->openDashboards.load() == 0) return false;
  ++m_state->closes;
  return true;
}

void CPasswordManagerServer::SetDashboardOpenMs(ULONGLONG ms) {
  std::lock_guard lk(m_state->mu);
  m_state->desc.dashboardOpenMs = ms;
}

void CPasswordManagerServer::SetShowResult(HRESULT hr) {
  std::lock_guard lk(m_state->mu);
  m_state->desc.showResult = hr;
}

void CPasswordManagerServer::SetTrainingResult(HRESULT hr) {
  std::lock_guard lk(m_state->mu);
  m_state->desc.trainingResult = hr;
}

}  // namespace suite_standin
