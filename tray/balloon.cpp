#include "tray/balloon.h"

#include <utility>

#include "support/result_error.h"
#include "support/trace/trace.h"

namespace {
std::atomic<long> g_liveBalloons{0};
}  // namespace

CBalloonItemBase::CBalloonItemBase() { ++g_liveBalloons; }
CBalloonItemBase::~CBalloonItemBase() { --g_liveBalloons; }

long CBalloonItemBase::LiveObjects() { return g_liveBalloons.load(); }

HRESULT STDMETHODCALLTYPE CBalloonItemBase::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!(riid == IID_IUnknown) && !(riid == IID_IVDNXTrayNotifyCallback)) return E_NOINTERFACE;
  *ppv = static_cast<IVDNXTrayNotifyCallback*>(this);
  AddRef();
  return S_OK;
}

ULONG STDMETHODCALLTYPE CBalloonItemBase::AddRef() { return ++m_refs; }

ULONG STDMETHODCALLTYPE CBalloonItemBase::Release() {
  const ULONG left = --m_refs;
  if (left == 0) delete this;
  return left;
}

platform::ComPtr<IUnknown> CBalloon::Create(TrayTaskPoster poster, Action action) {
  platform::ComPtr<IUnknown> p;
  *p.put_void() = static_cast<IUnknown*>(new CBalloon(std::move(poster), std::move(action)));
  return p;
}

CBalloon::CBalloon(TrayTaskPoster poster, Action action)
    : m_poster(std::move(poster)), m_action(std::move(action)) {}

HRESULT STDMETHODCALLTYPE CBalloon::OnTrayNotify(UINT code, UINT id) {
  VDTraceNS::CScope ts("CBalloon::OnTrayNotify");
  ts.Msg("code = %u, id = 0x%08X", code, id);
  if (code != NIN_BALLOONUSERCLICK) return S_OK;
  Action action;
  TrayTaskPoster poster;
  {
    std::lock_guard lk(m_lock);
    action = std::exchange(m_action, nullptr);
    poster = m_poster;
  }
  if (!action || !poster) return S_OK;  // clicked before: the action ran already
  // The action runs on the window's thread whatever thread the click came from; it keeps
  // this object alive only through what it captured itself.
  const bool posted = poster([action = std::move(action)] {
    VDTraceNS::CScope task("CBalloon::Action");
    try {
      task.Result("Action", action());
    } catch (const CResultError& e) {
      task.Result("Action", e.Result());
    } catch (...) {
      task.Result("Unexpected exception", E_UNEXPECTED);
    }
  });
  if (!posted) ts.Msg("No window: the action is dropped");
  return posted ? S_OK : S_FALSE;
}
