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
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/sim/session_manager.h"
#include "platform/win_types.h"

namespace sim {

class Machine;

namespace desktop_kind {
inline constexpr wchar_t kSession[] = L"session";  // locked, unlocked, connected, logged off...
inline constexpr wchar_t kShell[] = L"shell";      // shell started/stopped, taskbar created
inline constexpr wchar_t kWindow[] = L"window";    // foreground, focus
}  // namespace desktop_kind

struct DesktopEvent {
  ULONGLONG timeMs = 0;  // virtual time
  DWORD sessionId = 0;
  std::wstring kind;
  std::wstring text;

  bool operator==(const DesktopEvent&) const = default;
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

  // ---- Shell of a session (forwarded to the session manager) ----
  bool StartShell(DWORD sessionId);
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
  };
  void RecordLocked(DWORD sessionId, std::wstring kind, std::wstring text);

  Machine& m_machine;
  mutable std::mutex m_mu;  // a leaf: nothing is called while it is held
  std::map<DWORD, PerSession> m_sessions;
  std::vector<DesktopEvent> m_events;
  DialogUser m_dialogUser;
};

}  // namespace sim
