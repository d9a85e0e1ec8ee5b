#include "tray/tray_balloons.h"

#include <utility>
#include <vector>

#include "support/result_error.h"
#include "support/trace/trace.h"
#include "tray/tray_icon.h"

namespace {

bool IsWindows8OrLater(platform::IKernel& kernel) {
  OSVERSIONINFOEXW v{};
  v.dwOSVersionInfoSize = sizeof(v);
  if (!kernel.GetVersionExW(&v)) return false;
  return v.dwMajorVersion > 6 || (v.dwMajorVersion == 6 && v.dwMinorVersion >= 2);
}

}  // namespace

HRESULT CTrayIconBalloons::CBalloonItem::DoAction(UINT code) const {
  VDTraceNS::CScope ts("CTrayIconBalloons::CBalloonItem::DoAction");
  ts.Msg("code = %u, id = 0x%08X", code, id);
  if (!callback) return S_OK;
  HRESULT hr = S_OK;
  try {
    platform::ComPtr<IVDNXTrayNotifyCallback> notify;
    if (FAILED(callback->QueryInterface(IID_IVDNXTrayNotifyCallback, notify.put_void())) || !notify)
      return S_OK;  // an object that cannot be told is not told
    hr = notify->OnTrayNotify(code, id);
  } catch (const CResultError& e) {
    hr = e.Result();
  } catch (...) {
    hr = E_UNEXPECTED;  // a requester's fault stays with it
  }
  return ts.Result("OnTrayNotify", hr);
}

CTrayIconBalloons::CTrayIconBalloons(platform::IKernel& kernel)
    : m_kernel(kernel), m_toastsOn(IsWindows8OrLater(kernel)) {}

CTrayIconBalloons::~CTrayIconBalloons() { Clear(); }

HRESULT CTrayIconBalloons::AddBalloon(CTrayIcon& icon, const std::wstring& title,
                                      const std::wstring& message, DWORD flags,
                                      const wchar_t* param, UINT timeoutMs, UINT id,
                                      IUnknown* callback) {
  VDTraceNS::CScope ts("CTrayIconBalloons::AddBalloon");
  ts.Msg("id = 0x%08X, flags = 0x%08X, timeout = %u", id, static_cast<unsigned>(flags), timeoutMs);
  std::optional<std::wstring> command;
  if (param) command = param;

  if (m_toastsOn) {
    auto request = std::make_unique<CToastParameters>(title, message, flags, command, id, callback);
    if (icon.PostToast(m_toasts, request)) return S_OK;
    ts.Msg("No window for the toast: shown as a balloon");
    request.reset();
  }

  CBalloonItem item;
  item.title = title;
  item.message = message;
  item.flags = flags;
  item.param = std::move(command);
  item.timeoutMs = timeoutMs;
  item.id = id;
  if (callback) {
    callback->AddRef();
    item.callback.reset(callback);
  }
  std::lock_guard lk(m_lock);
  m_queue.push_back(std::move(item));
  if (OnShowLocked()) return S_OK;
  ShowHeadLocked(icon);
  return S_OK;
}

HRESULT CTrayIconBalloons::DisplayNextBalloonInQueue(CTrayIcon& icon) {
  std::lock_guard lk(m_lock);
  ShowHeadLocked(icon);
  return S_OK;
}

void CTrayIconBalloons::ShowHeadLocked(CTrayIcon& icon) {
  VDTraceNS::CScope ts("CTrayIconBalloons::DisplayNextBalloonInQueue");
  if (m_queue.empty()) {
    m_displayedTick.reset();
    return;
  }
  // Set before the shell call: a balloon the shell refused blocks the queue for 30 seconds
  // at most, after which the next request shows the head again.
  m_displayedTick = m_kernel.GetTickCount64();
  const CBalloonItem& head = m_queue.front();
  try {
    icon.ShowBalloon(head.title, head.message, head.flags, head.timeoutMs);
  } catch (const CResultError& e) {
    ts.Result("ShowBalloon", e.Result());
  }
}

bool CTrayIconBalloons::OnShowLocked() const {
  // The tick count, not the wall clock: a clock set back must not keep the queue blocked.
  return m_displayedTick && m_kernel.GetTickCount64() - *m_displayedTick < kOnShowLimitMs;
}

HRESULT CTrayIconBalloons::HideBalloon(CTrayIcon& icon) {
  return icon.HideBalloon(false) ? S_OK : E_FAIL;
}

void CTrayIconBalloons::OnBalloonHide(CTrayIcon& icon) {
  VDTraceNS::CScope ts("CTrayIconBalloons::OnBalloonHide");
  icon.HideBalloon(true);
  EndHead(icon, NIN_BALLOONHIDE, true);
}

void CTrayIconBalloons::OnBalloonTimeout(CTrayIcon& icon) {
  VDTraceNS::CScope ts("CTrayIconBalloons::OnBalloonTimeout");
  icon.HideBalloon(false);
  EndHead(icon, NIN_BALLOONTIMEOUT, false);
}

void CTrayIconBalloons::OnBalloonUserClick(CTrayIcon& icon) {
  VDTraceNS::CScope ts("CTrayIconBalloons::OnBalloonUserClick");
  EndHead(icon, NIN_BALLOONUSERCLICK, false);
}

void CTrayIconBalloons::EndHead(CTrayIcon& icon, UINT code, bool keepHead) {
  std::optional<CBalloonItem> told;  // who hears of it, outside the lock
  {
    std::lock_guard lk(m_lock);
    m_displayedTick.reset();
    if (m_queue.empty()) return;
    CBalloonItem& head = m_queue.front();
    if (keepHead) {
      // Shown again at the next display step.
      told.emplace();
      told->id = head.id;
      if (head.callback) {
        head.callback->AddRef();
        told->callback.reset(head.callback.get());
      }
    } else {
      told.emplace(std::move(head));
      m_queue.pop_front();
      ShowHeadLocked(icon);
    }
  }
  told->DoAction(code);
}

void CTrayIconBalloons::DisplayPendingToasts(const CToastEnvironment& env) {
  VDTraceNS::CScope ts("CTrayIconHandler<class CVdAgentMain>::OnShowToast");
  // Each record is destroyed after its display, whatever the result.
  for (auto& request : m_toasts.TakeAll()) request->DisplayToast(env);
}

void CTrayIconBalloons::Clear() {
  std::list<CBalloonItem> gone;
  {
    std::lock_guard lk(m_lock);
    gone.swap(m_queue);
    m_displayedTick.reset();
  }
  m_toasts.TakeAll();  // released here, outside every lock
}

bool CTrayIconBalloons::HasBalloonOnShow() const {
  std::lock_guard lk(m_lock);
  return OnShowLocked();
}

size_t CTrayIconBalloons::QueueSize() const {
  std::lock_guard lk(m_lock);
  return m_queue.size();
}
