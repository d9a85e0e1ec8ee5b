#include "tray/toast_activator.h"

#include <utility>

#include "support/result_error.h"
#include "support/trace/trace.h"

namespace {

std::atomic<long> g_live{0};

class CToastActivatorFactory final : public IClassFactory {
 public:
  explicit CToastActivatorFactory(CToastActivator::CommandHandler handler)
      : m_handler(std::move(handler)) {
    ++g_live;
  }

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
    return CToastActivator::CreateInstance(m_handler, outer, riid, ppv);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

 private:
  ~CToastActivatorFactory() { --g_live; }

  CToastActivator::CommandHandler m_handler;
  std::atomic<ULONG> m_refs{1};
};

}  // namespace

long CToastActivator::LiveObjects() { return g_live.load(); }

platform::ComPtr<IClassFactory> CToastActivator::CreateFactory(CommandHandler handler) {
  platform::ComPtr<IClassFactory> f;
  *f.put_void() = static_cast<IClassFactory*>(new CToastActivatorFactory(std::move(handler)));
  return f;
}

HRESULT CToastActivator::CreateInstance(CommandHandler handler, IUnknown* outer, REFIID riid,
                                        void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  // An aggregate may only ask for the inner unknown.
  if (outer && !(riid == IID_IUnknown)) return CLASS_E_NOAGGREGATION;
  auto* object = new (std::nothrow) CToastActivator(std::move(handler), outer);
  if (!object) return E_OUTOFMEMORY;
  // The new object's one reference goes to whoever asked, or nowhere on failure.
  const HRESULT hr = object->m_inner.QueryInterface(riid, ppv);
  object->m_inner.Release();
  return hr;
}

CToastActivator::CToastActivator(CommandHandler handler, IUnknown* outer)
    : m_handler(std::move(handler)), m_outer(outer ? outer : &m_inner) {
  m_inner.self = this;
  ++g_live;
}

CToastActivator::~CToastActivator() { --g_live; }

HRESULT STDMETHODCALLTYPE CToastActivator::CInner::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (riid == IID_IUnknown)
    *ppv = static_cast<IUnknown*>(this);
  else if (riid == IID_INotificationActivationCallback)
    *ppv = static_cast<INotificationActivationCallback*>(self);
  else
    return E_NOINTERFACE;
  static_cast<IUnknown*>(*ppv)->AddRef();
  return S_OK;
}

ULONG STDMETHODCALLTYPE CToastActivator::CInner::AddRef() { return ++refs; }

ULONG STDMETHODCALLTYPE CToastActivator::CInner::Release() {
  const ULONG left = --refs;
  if (left == 0) delete self;
  return left;
}

HRESULT STDMETHODCALLTYPE CToastActivator::QueryInterface(REFIID riid, void** ppv) {
  return m_outer->QueryInterface(riid, ppv);
}
ULONG STDMETHODCALLTYPE CToastActivator::AddRef() { return m_outer->AddRef(); }
ULONG STDMETHODCALLTYPE CToastActivator::Release() { return m_outer->Release(); }

HRESULT STDMETHODCALLTYPE CToastActivator::Activate(LPCWSTR appUserModelId, LPCWSTR invokedArgs,
                                                    const NOTIFICATION_USER_INPUT_DATA*, ULONG) {
  VDTraceNS::CScope ts("CToastActivator::Activate");
  ts.Msg(L"appUserModelId = %ls", appUserModelId ? appUserModelId : L"(null)");
  if (!invokedArgs) return S_FALSE;
  ts.Msg(L"invokedArgs = %ls", invokedArgs);
  if (!m_handler) return S_FALSE;
  // Nothing thrown may cross back into COM.
  try {
    return m_handler(invokedArgs) ? S_OK : S_FALSE;
  } catch (const CResultError& e) {
    return ts.Result("Command failed", e.Result());
  } catch (...) {
    return ts.Result("Unexpected exception", E_UNEXPECTED);
  }
}
