#include "tray/tray_balloons.h"

#include "support/trace/trace.h"
#include "tray/tray_icon.h"

HRESULT CTrayIconBalloons::AddBalloon(CTrayIcon& icon, const std::wstring& title,
                                      const std::wstring& message, DWORD flags, LPARAM param,
                                      UINT timeoutMs, UINT id, TrayNotifyCallback callback) {
  VDTraceNS::CScope ts("CTrayIconBalloons::AddBalloon");
  ts.Msg("id = 0x%08X, flags = 0x%08X, param = %ld, timeout = %u", id, static_cast<unsigned>(flags),
         static_cast<long>(param), timeoutMs);
  // The shell replaces a balloon on show without a word: its requester hears it ended here.
  End(NIN_BALLOONHIDE);
  if (!icon.ShowBalloon(title, message, flags, timeoutMs)) return ts.Result("ShowBalloon", E_FAIL);
  std::lock_guard lk(m_lock);
  m_onShow = CBalloonItem{id, std::move(callback)};
  return S_OK;
}

HRESULT CTrayIconBalloons::HideBalloon(CTrayIcon& icon) {
  return icon.HideBalloon(false) ? S_OK : E_FAIL;
}

void CTrayIconBalloons::OnBalloonHide(CTrayIcon& icon) {
  icon.HideBalloon(true);
  End(NIN_BALLOONHIDE);
}

void CTrayIconBalloons::OnBalloonTimeout(CTrayIcon& icon) {
  icon.HideBalloon(false);
  End(NIN_BALLOONTIMEOUT);
}

void CTrayIconBalloons::OnBalloonUserClick(CTrayIcon&) { End(NIN_BALLOONUSERCLICK); }

void CTrayIconBalloons::Clear() {
  std::optional<CBalloonItem> gone;
  std::lock_guard lk(m_lock);
  gone.swap(m_onShow);
}

bool CTrayIconBalloons::HasBalloonOnShow() const {
  std::lock_guard lk(m_lock);
  return m_onShow.has_value();
}

void CTrayIconBalloons::End(UINT code) {
  std::optional<CBalloonItem> item;
  {
    std::lock_guard lk(m_lock);
    item.swap(m_onShow);
  }
  if (!item || !item->callback) return;
  VDTraceNS::CScope ts("CTrayIconBalloons::DoAction");
  ts.Msg("code = %u, id = 0x%08X", code, item->id);
  try {
    ts.Result("OnTrayNotify", item->callback(code, item->id));
  } catch (...) {
    ts.Result("Unexpected exception", E_UNEXPECTED);  // a requester's fault stays with it
  }
}
