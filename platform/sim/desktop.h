// What a user in front of the simulated machine would see: per session the lock state and
// how often it was locked, the foreground and focus windows, and a chronological list of
// desktop events on the virtual clock that a test or the simulator can read or print.
//
//   const auto& d = machine.GetDesktop();
//   EXPECT_EQ(d.LockCount(1), 1);
//   std::wcout << d.Render();      // "    12.500s  session 1  session  locked" ...
//
// Other parts of the simulation add their own kinds of events through Record (tray icon,
// balloons, sounds, launched programs).
//
// The user's hands are here too: a keyboard and a screen saver per session.
//
//   d.PressKeys(1, {VK_LCONTROL, VK_LWIN, 'H'});   // a hotkey held by a window fires
//   d.ReleaseAll(1);
//   d.PressHotKey(1, MOD_CONTROL | MOD_WIN, 'H');  // the same, as one tap
//   d.StartScreenSaver(1);                         // SPI_GETSCREENSAVERRUNNING: TRUE
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/sim/menus.h"
#include "platform/sim/session_manager.h"
#include "platform/win_types.h"

namespace sim {

class Machine;
class NotificationArea;

namespace desktop_kind {
inline constexpr wchar_t kSession[] = L"session";  // locked, unlocked, connected, logged off...
inline constexpr wchar_t kShell[] = L"shell";      // shell started/stopped, taskbar created
inline constexpr wchar_t kWindow[] = L"window";    // foreground, focus
inline constexpr wchar_t kHotKey[] = L"hotkey";    // registered, unregistered, pressed
inline constexpr wchar_t kScreenSaver[] = L"screensaver";     // started, stopped
inline constexpr wchar_t kBroadcast[] = L"broadcast";         // BroadcastSystemMessageW
inline constexpr wchar_t kPrompt[] = L"prompt";               // a dialog shown: caption, text
inline constexpr wchar_t kPromptAnswer[] = L"prompt-answer";  // the user's button and boxes
inline constexpr wchar_t kShortcut[] = L"shortcut";  // a shell link saved: path and properties
inline constexpr wchar_t kHelp[] = L"help";                   // HtmlHelpW: the file shown
}  // namespace desktop_kind

struct DesktopEvent {
  ULONGLONG timeMs = 0;  // virtual time
  DWORD sessionId = 0;
  std::wstring kind;
  std::wstring text;

  bool operator==(const DesktopEvent&) const = default;
};

// What the user does at a dialog box (DialogBoxParamW): looks at it for `openMs` of virtual
// time (the program's messages and timers run meanwhile), sets the check boxes named in
// `checks` (control id -> checked) and clicks `button` (a control id; 0 clicks nothing).
// `link`, when not 0, is a link control the user clicks first (before the boxes).
struct PromptAnswer {
  int button = IDCANCEL;
  std::map<int, bool> checks;
  ULONGLONG openMs = 0;
  int link = 0;
};

struct SessionDesktop {
  DWORD sessionId = 0;
  SessionState state = SessionState::LoggedOff;
  int lockCount = 0;     // times the session went to the lock screen
  int lockRequests = 0;  // LockWorkStation calls, also those finding it locked already
  HWND foreground = nullptr;
  HWND focus = nullptr;
};

class Desktop {
 public:
  explicit Desktop(Machine& m);
  ~Desktop();
  Desktop(const Desktop&) = delete;
  Desktop& operator=(const Desktop&) = delete;

  // ---- Reading ----
  std::vector<DesktopEvent> Events() const;
  std::vector<DesktopEvent> Events(DWORD sessionId) const;
  std::vector<DesktopEvent> EventsOfKind(const std::wstring& kind) const;
  // Event texts only, in order, for compact expectations.
  std::vector<std::wstring> Texts(DWORD sessionId, const std::wstring& kind) const;
  // "what the desktop saw": one line per event.
  std::wstring Render() const;
  static std::wstring Render(const DesktopEvent& e);

  SessionDesktop Session(DWORD sessionId) const;
  int LockCount(DWORD sessionId) const;
  HWND Foreground(DWORD sessionId) const;
  HWND Focus(DWORD sessionId) const;

  // ---- The user at a message box ----
  // While a message box is up its owner and the rest of the program stay alive; the user
  // (a test) may act then and answers with the button pressed. Without one, every box is
  // answered IDOK at once. Called on the thread that shows the box, no lock held.
  using DialogUser =
      std::function<int(HWND owner, const std::wstring& caption, const std::wstring& text)>;
  void SetDialogUser(DialogUser user);
  DialogUser GetDialogUser() const;

  // ---- The user at a dialog box ----
  // Asked on the thread that shows the dialog, no lock held, once the dialog procedure has
  // initialised it, and again whenever the dialog is still up after an answer. Without
  // one, the user closes every dialog with IDCANCEL at once, boxes untouched.
  using PromptUser =
      std::function<PromptAnswer(DWORD sessionId, UINT templateId, const std::wstring& caption)>;
  void SetPromptUser(PromptUser user);
  PromptUser GetPromptUser() const;

  // ---- The user at a popup menu ----
  // Asked on the thread that calls TrackPopupMenu, no lock held, with what the menu
  // shows; answers with the item picked or a dismissal. Without one, every menu is
  // dismissed at once.
  using MenuUser = std::function<MenuChoice(const ShownMenu& menu)>;
  void SetMenuUser(MenuUser user);
  MenuUser GetMenuUser() const;
  MenuTable& Menus() { return *m_menus; }

  // ---- The notification area of a session's shell ----
  NotificationArea& Tray(DWORD sessionId);
  // How tray records name an icon handle ("image 133"); empty or unset: in hexadecimal.
  using IconNamer = std::function<std::wstring(HICON)>;
  void SetIconNamer(IconNamer namer);
  IconNamer GetIconNamer() const;

  // ---- The mouse of a session ----
  // The cursor starts in the middle of the screen; clicks on tray icons move it there.
  void MoveCursor(DWORD sessionId, int x, int y);
  POINT Cursor(DWORD sessionId) const;
  // GetDoubleClickTime for every session (500 ms unless set).
  void SetDoubleClickTime(UINT ms);
  UINT DoubleClickTime() const;

  // ---- Input desktops (OpenInputDesktop) ----
  // A handle for the process, or null while the session shows no desktop of its own
  // (locked or disconnected).
  HDESK OpenInputDesktop(DWORD processId, DWORD sessionId);
  bool CloseDesktop(DWORD processId, HDESK h);
  // Handles open; of every process when pid is 0.
  int OpenDesktopCount(DWORD processId = 0) const;

  // A process ended: its menus and desktop handles go.
  void ProcessExited(DWORD processId);

  // ---- The keyboard of a session ----
  // Keys are virtual-key codes. A generic modifier (VK_CONTROL, VK_SHIFT, VK_MENU) stands
  // for its left key, pressed or released, as a keyboard driver reports it; asked about, a
  // generic modifier is down while either side is. Pressing a key that is not a modifier
  // fires the hotkey of the modifiers down at that moment, as Windows does. Keys go up
  // when the session is disconnected or logged off.
  void PressKeys(DWORD sessionId, const std::vector<int>& keys);
  void ReleaseKeys(DWORD sessionId, const std::vector<int>& keys);
  void ReleaseAll(DWORD sessionId);
  bool IsKeyDown(DWORD sessionId, int vk) const;
  // The MOD_ flags of the modifiers down.
  UINT ModifiersDown(DWORD sessionId) const;
  // A tap of the combination, whatever keys are down: posts WM_HOTKEY to the window that
  // holds it and returns true; false when nobody holds it or the session shows no desktop
  // (locked or disconnected: the lock screen has the keyboard). Recorded either way.
  bool PressHotKey(DWORD sessionId, UINT modifiers, UINT vk);

  // ---- The screen saver of a session ----
  // False when it already was in that state.
  bool StartScreenSaver(DWORD sessionId);
  bool StopScreenSaver(DWORD sessionId);
  bool ScreenSaverRunning(DWORD sessionId) const;

  // ---- What the shell tells programs about the user's attention ----
  // SHQueryUserNotificationState of the session: a QUERY_USER_NOTIFICATION_STATE value,
  // QUNS_ACCEPTS_NOTIFICATIONS (5) unless set. A failure set with a non-zero HRESULT makes
  // the query fail with it until it is set back to 0.
  void SetNotificationState(DWORD sessionId, int state);
  int NotificationState(DWORD sessionId) const;
  void FailNotificationStateQuery(DWORD sessionId, HRESULT hr);
  HRESULT NotificationStateFailure(DWORD sessionId) const;

  // ---- Shell of a session (forwarded to the session manager) ----
  bool StartShell(DWORD sessionId);
  bool StopShell(DWORD sessionId);
  bool RestartShell(DWORD sessionId);

  // ---- Fed by the rest of the simulation ----
  void Record(DWORD sessionId, std::wstring kind, std::wstring text);
  void NoteLocked(DWORD sessionId);
  void NoteLockRequest(DWORD sessionId);
  void SetForeground(DWORD sessionId, HWND h, const std::wstring& className);
  // Returns the previous focus window.
  HWND SetFocus(DWORD sessionId, HWND h, const std::wstring& className);
  // The window is gone: it no longer has the foreground or the focus.
  void ForgetWindow(HWND h);

 private:
  struct PerSession {
    int lockCount = 0;
    int lockRequests = 0;
    HWND foreground = nullptr;
    HWND focus = nullptr;
    std::set<int> keysDown;  // left or right keys only: VK_LCONTROL, never VK_CONTROL
    bool screenSaver = false;
    POINT cursor{960, 540};
    int notificationState = 5;  // QUNS_ACCEPTS_NOTIFICATIONS
    HRESULT notificationFailure = 0;
  };
  void RecordLocked(DWORD sessionId, std::wstring kind, std::wstring text);

  Machine& m_machine;
  mutable std::mutex m_mu;  // a leaf: nothing is called while it is held
  std::map<DWORD, PerSession> m_sessions;
  std::vector<DesktopEvent> m_events;
  DialogUser m_dialogUser;
  PromptUser m_promptUser;
  MenuUser m_menuUser;
  IconNamer m_iconNamer;
  UINT m_doubleClickMs = 500;
  std::unique_ptr<MenuTable> m_menus;
  std::map<DWORD, std::unique_ptr<NotificationArea>> m_trays;  // by session, made on demand
  uintptr_t m_nextDesktop = 0x40010;
  std::map<HDESK, DWORD> m_desktops;  // open input-desktop handles -> process
};

}  // namespace sim
