// The notification queue of the tray icon.
//
// On Windows 8 and later (6.2+) every request becomes its own toast at once: the record goes
// to the toast queue and the window is woken to display it (tray/toast.h). On older systems
// requests wait in a queue in arrival order and are shown one at a time as the icon's
// balloon; the head is the balloon on show or next to show. When the shell ends a balloon
// (time-out, click, hidden), the head's requester is told and the next one is shown. A
// hidden balloon stays at the head and is shown again first. A balloon that the shell never
// ends stops blocking the queue after 30 seconds.
//
//   CTrayIconBalloons balloons(plat.Kernel());
//   balloons.AddBalloon(icon, L"Title", L"Text", NIIF_INFO, nullptr, 25000, 7, callback);
//   ... the shell reports NIN_BALLOONUSERCLICK ... balloons.OnBalloonUserClick(icon);
//
// AddBalloon is safe from any thread; the end handlers run as tasks on the window's thread.
// Requesters are told outside the queue lock, so a callback may add a notification. Lock
// order: queue lock, then the icon's lock.
#pragma once

#include <list>
#include <mutex>
#include <optional>
#include <string>

#include "platform/com.h"
#include "platform/kernel.h"
#include "tray/toast.h"

class CTrayIcon;

class CTrayIconBalloons {
 public:
  // A balloon on show for this long no longer blocks the queue.
  static constexpr ULONGLONG kOnShowLimitMs = 30000;

  // One queued request: the seven fields, the strings copied and the callback counted.
  struct CBalloonItem {
    std::wstring title;
    std::wstring message;
    DWORD flags = 0;
    std::optional<std::wstring> param;
    UINT timeoutMs = 0;
    UINT id = 0;
    platform::ComPtr<IUnknown> callback;

    // Tells the callback `code` and the id, when it answers for IVDNXTrayNotifyCallback;
    // the call's result, or S_OK when nobody is there to tell.
    HRESULT DoAction(UINT code) const;
  };

  explicit CTrayIconBalloons(platform::IKernel& kernel);
  ~CTrayIconBalloons();
  CTrayIconBalloons(const CTrayIconBalloons&) = delete;
  CTrayIconBalloons& operator=(const CTrayIconBalloons&) = delete;

  // `param`: the toast's command (null: none). `callback` may be null; it is held counted.
  HRESULT AddBalloon(CTrayIcon& icon, const std::wstring& title, const std::wstring& message,
                     DWORD flags, const wchar_t* param, UINT timeoutMs, UINT id,
                     IUnknown* callback);
  // Shows the head, if any; always S_OK.
  HRESULT DisplayNextBalloonInQueue(CTrayIcon& icon);
  // Hides the balloon on show (the empty balloon is sent).
  HRESULT HideBalloon(CTrayIcon& icon);
  // The shell's end notifications; window thread.
  void OnBalloonHide(CTrayIcon& icon);
  void OnBalloonTimeout(CTrayIcon& icon);
  void OnBalloonUserClick(CTrayIcon& icon);

  // Window thread: displays every toast request waiting in the toast queue.
  void DisplayPendingToasts(const CToastEnvironment& env);
  // Forgets every queued balloon and toast request without telling anyone (the window is
  // going).
  void Clear();

  // ---- State, for the handler and tests ----
  bool HasBalloonOnShow() const;
  size_t QueueSize() const;
  size_t PendingToasts() const { return m_toasts.Size(); }
  // True on Windows 6.2 and later: requests become toasts.
  bool UsesToasts() const { return m_toastsOn; }

 private:
  // Under m_lock.
  void ShowHeadLocked(CTrayIcon& icon);
  bool OnShowLocked() const;
  // The end handlers' common part: the head told `code` (outside the lock), removed unless
  // `keepHead`, and the next one shown.
  void EndHead(CTrayIcon& icon, UINT code, bool keepHead);

  platform::IKernel& m_kernel;
  const bool m_toastsOn;

  mutable std::mutex m_lock;                 // guards the two below
  std::list<CBalloonItem> m_queue;           // arrival order
  std::optional<ULONGLONG> m_displayedTick;  // tick count when the head was last shown

  CToastQueue m_toasts;
};
