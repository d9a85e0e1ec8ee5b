// The notification area of one session's shell: the icons programs put there with
// Shell_NotifyIconW, their balloons on the virtual clock, and the user's clicks on them.
//
//   sim::NotificationArea& tray = machine.GetDesktop().Tray(1);
//   ... the agent adds its icon ...
//   auto icon = tray.Find(agentWindow, 1);           // tip, icon handle, callback message
//   tray.Click(agentWindow, 1);                      // WM_LBUTTONDOWN, WM_LBUTTONUP
//   tray.FailNext(NIM_MODIFY, ERROR_TIMEOUT, 2);     // the shell is busy twice
//   machine.AdvanceBy(30000);                        // a shown balloon times out
//
// Results follow Windows: NIM_ADD of an icon that is there fails, NIM_MODIFY, NIM_DELETE,
// NIM_SETFOCUS and NIM_SETVERSION of one that is not fail. A refusal by the shell gives no
// reason: the last error is ERROR_SUCCESS. While the session's taskbar is not running there
// is no shell to take the call: ERROR_FILE_NOT_FOUND. A busy shell (injected) answers
// ERROR_TIMEOUT. cbSize must be one of the four sizes NOTIFYICONDATAW had over the
// versions (ERROR_INVALID_PARAMETER otherwise); the oldest size carries no balloon, state
// or version, and a 64-character tip. Texts are taken up to their terminator or the end of
// their array, whichever comes first. When the shell stops, its icons go with it; programs
// add them again when "TaskbarCreated" arrives.
//
// Callbacks are posted to the icon's window with its uCallbackMessage: wParam the icon's
// uID and lParam the event, or, after NIM_SETVERSION 4, wParam the cursor position and
// lParam MAKELPARAM(event, uID). A balloon (NIF_INFO with text) posts NIN_BALLOONSHOW; it
// ends with NIN_BALLOONTIMEOUT after its time-out (held between 10 and 30 seconds, as the
// shell does), NIN_BALLOONHIDE when another balloon replaces it, an empty szInfo hides it
// or its icon is deleted, or NIN_BALLOONUSERCLICK when the user clicks it. One balloon is
// shown at a time per session.
//
// What the user sees is recorded on the desktop (kind "tray"):
//   added 1 icon 0x50004 tip "VdAgent"    modified 1 icon 0x50008    deleted 1
//   focus 1    version 1 4    balloon shown 1 "Title" "Text"    balloon hidden 1
//   balloon timed out 1    balloon clicked 1    clicked 1    double-clicked 1
//   right-clicked 1    emptied (shell stopped)
// An icon handle reads as the desktop's icon name for it when one is set (see
// Desktop::SetIconNamer), else in hexadecimal.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/win_types.h"

namespace sim {

class Machine;

namespace desktop_kind {
inline constexpr wchar_t kTray[] = L"tray";
}  // namespace desktop_kind

struct TrayIconInfo {
  HWND hwnd = nullptr;
  UINT id = 0;
  UINT callbackMessage = 0;  // 0 until NIF_MESSAGE gave one
  HICON icon = nullptr;      // as given
  std::wstring tip;
  DWORD state = 0;
  UINT version = 0;  // NIM_SETVERSION: 0, 3 or 4
  POINT position{};  // where the icon sits on the screen; clicks move the cursor there
  bool balloonShown = false;
  std::wstring balloonTitle;
  std::wstring balloonText;
};

// One Shell_NotifyIconW call as the shell received it.
struct TrayCall {
  DWORD message = 0;  // NIM_*
  HWND hwnd = nullptr;
  UINT id = 0;
  UINT flags = 0;
  bool succeeded = false;
  DWORD error = 0;  // the last error of a failed call
};

class NotificationArea {
 public:
  // The shell's limits for a balloon's time-out.
  static constexpr UINT kMinBalloonMs = 10000;
  static constexpr UINT kMaxBalloonMs = 30000;

  NotificationArea(Machine& m, DWORD sessionId);
  ~NotificationArea();
  NotificationArea(const NotificationArea&) = delete;
  NotificationArea& operator=(const NotificationArea&) = delete;

  // ---- Shell_NotifyIconW (sim::ProcessShell forwards here) ----
  // TRUE or FALSE with *error the last error to set.
  BOOL NotifyIcon(DWORD message, const NOTIFYICONDATAW* data, DWORD* error);

  // ---- Reading ----
  std::vector<TrayIconInfo> Icons() const;
  std::optional<TrayIconInfo> Find(HWND hwnd, UINT id) const;
  std::vector<TrayCall> Calls() const;
  // Calls of one kind (NIM_*), successful or not.
  int CallCount(DWORD message) const;

  // ---- Tests: a busy or failing shell ----
  // The next `count` calls of `message` fail with `error` (ERROR_TIMEOUT: the shell did not
  // answer in time) before the shell looks at them.
  void FailNext(DWORD message, DWORD error, int count = 1);

  // ---- The user ----
  // Each moves the session's cursor onto the icon and posts the mouse events Windows
  // posts: down, up (click); down, up, double-click, up (double click); right down, right
  // up (right click). False when the icon is not there, has no callback message, or the
  // session shows no desktop (locked or disconnected).
  bool Click(HWND hwnd, UINT id);
  bool DoubleClick(HWND hwnd, UINT id);
  bool RightClick(HWND hwnd, UINT id);
  // The user clicks the balloon shown for the icon: NIN_BALLOONUSERCLICK, and the balloon
  // closes. False when no balloon of that icon is shown.
  bool ClickBalloon(HWND hwnd, UINT id);
  // The balloon shown for the icon ends before its time: the user closes it
  // (NIN_BALLOONTIMEOUT), or the shell takes it away for another reason (NIN_BALLOONHIDE).
  // False when no balloon of that icon is shown.
  bool CloseBalloon(HWND hwnd, UINT id);
  bool HideBalloon(HWND hwnd, UINT id);
  // The icon whose balloon is shown, if any.
  std::optional<std::pair<HWND, UINT>> ShownBalloon() const;

  // ---- The shell's lifetime (sim::SessionManager) ----
  // The taskbar went away: every icon and the shown balloon vanish, no callback sent.
  void ShellStopped();

 private:
  struct Icon {
    TrayIconInfo info;
    int slot = 0;
  };
  using Key = std::pair<HWND, UINT>;
  // A message to post once the lock is released.
  struct Post {
    HWND hwnd;
    UINT msg;
    WPARAM wp;
    LPARAM lp;
  };

  // What a change makes happen, carried out once the lock is released: the desktop
  // records first, then the callbacks.
  struct Effects {
    std::vector<std::wstring> records;
    std::vector<Post> posts;
  };

  bool ShellRunning() const;
  bool SessionShowsDesktop() const;
  std::wstring IconName(HICON icon) const;
  // The callback for an event of the icon, per its version. Lock held.
  std::optional<Post> CallbackLocked(const Icon& icon, UINT event) const;
  // Ends the shown balloon with `event`, if there is one. Lock held.
  void EndBalloonLocked(UINT event, const wchar_t* what, Effects& fx);
  void ShowBalloonLocked(Icon& icon, UINT timeoutMs, Effects& fx);
  void OnBalloonDue(uint64_t serial);
  bool Mouse(HWND hwnd, UINT id, const std::vector<UINT>& events, const wchar_t* what);
  void Carry(Effects& fx);
  BOOL ApplyLocked(DWORD message, const NOTIFYICONDATAW& data, size_t size,
                   const std::wstring& iconName, DWORD* error, Effects& fx);

  Machine& m_machine;
  const DWORD m_session;
  mutable std::mutex m_mu;  // the state below; never held while posting or recording
  std::map<Key, Icon> m_icons;
  int m_nextSlot = 0;
  std::vector<TrayCall> m_calls;
  std::map<DWORD, std::vector<DWORD>> m_failures;  // message -> errors to answer, in order
  std::optional<Key> m_balloon;
  uint64_t m_balloonSerial = 0;  // tells a stale time-out from the current one
  uint64_t m_balloonClockItem = 0;
};

}  // namespace sim
