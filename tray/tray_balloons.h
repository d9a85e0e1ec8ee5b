// Notifications on the tray icon. Each request is shown at once as the icon's balloon and
// told how it ended through its callback: the shell's end code (NIN_BALLOONHIDE 1027,
// NIN_BALLOONTIMEOUT 1028, NIN_BALLOONUSERCLICK 1029) and the request's id. A new balloon
// takes the place of the one on show, whose requester is told 1027 (hidden).
//
//   balloons.AddBalloon(icon, L"Title", L"Text", NIIF_INFO, 0, 25000, 7, callback);
//   ... the shell reports NIN_BALLOONUSERCLICK ... balloons.OnBalloonUserClick(icon);
//
// Safe from any thread; callbacks run outside the lock.
#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "platform/win_types.h"

class CTrayIcon;

// Told how a notification ended: (code, id). Its result is the requester's business.
using TrayNotifyCallback = std::function<HRESULT(UINT code, UINT id)>;

class CTrayIconBalloons {
 public:
  HRESULT AddBalloon(CTrayIcon& icon, const std::wstring& title, const std::wstring& message,
                     DWORD flags, LPARAM param, UINT timeoutMs, UINT id,
                     TrayNotifyCallback callback);
  // Hides the balloon on show (the empty balloon is sent).
  HRESULT HideBalloon(CTrayIcon& icon);
  // The shell's end notifications, run as tasks on the window's thread.
  void OnBalloonHide(CTrayIcon& icon);
  void OnBalloonTimeout(CTrayIcon& icon);
  void OnBalloonUserClick(CTrayIcon& icon);
  // Forgets every request without telling anyone (the window is going).
  void Clear();
  bool HasBalloonOnShow() const;

 private:
  struct CBalloonItem {
    UINT id = 0;
    TrayNotifyCallback callback;
  };
  // Takes the request on show and tells it `code`.
  void End(UINT code);

  mutable std::mutex m_lock;  // guards m_onShow
  std::optional<CBalloonItem> m_onShow;
};
