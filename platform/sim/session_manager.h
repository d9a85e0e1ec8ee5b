// The simulated machine's sessions: who is signed in where, lock and connection state, the
// console, the shell of each session, and session-change notifications.
//
//   sim::SessionManager& sm = machine.Sessions();          // console session 1, "alice"
//   DWORD bob = sm.CreateSession({.userName = L"bob", .remote = true});
//   sm.Lock(1);           // WTS_SESSION_LOCK reaches windows registered for session 1
//   sm.RestartShell(1);   // the taskbar goes and comes back: "TaskbarCreated" broadcast
//   sm.LogOff(bob);       // WM_QUERYENDSESSION, WM_ENDSESSION, then WTS_SESSION_LOGOFF
//
// Every operation posts WM_WTSSESSION_CHANGE (wParam the WTS_* code, lParam the session id)
// to the windows registered with WTSRegisterSessionNotification: NOTIFY_FOR_THIS_SESSION
// windows for events of their own session, NOTIFY_FOR_ALL_SESSIONS windows for all. What a
// user would see is recorded on the Desktop.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/win_types.h"

namespace sim {

class Machine;

enum class SessionState { Active, Locked, Disconnected, LoggedOff };
const wchar_t* ToString(SessionState s);

struct SessionOptions {
  std::optional<DWORD> id{};  // default: the next free id
  std::wstring userName = L"alice";
  std::wstring userSid{};  // default: the user's SID on this machine (one per user name)
  bool remote = false;
  // A console session takes the console only when it is free; otherwise it starts
  // disconnected, as a session put aside by fast user switching.
  bool connected = true;
  bool loggedOn = true;
  bool startShell = true;
};

struct SessionInfo {
  DWORD id = 0;
  std::wstring userName;
  std::wstring userSid;
  bool remote = false;
  bool connected = false;
  bool locked = false;
  bool loggedOn = false;

  SessionState State() const;
};

class SessionManager {
 public:
  static constexpr DWORD kNoConsoleSession = 0xFFFFFFFF;

  // Starts with console session 1 of user "alice", shell running.
  explicit SessionManager(Machine& m);
  SessionManager(const SessionManager&) = delete;
  SessionManager& operator=(const SessionManager&) = delete;

  // Throws std::invalid_argument when the id is taken. Posts no notification: it sets
  // the scene (use LogOn on a session created logged off to simulate an arrival).
  DWORD CreateSession(const SessionOptions& opts);
  std::optional<SessionInfo> Find(DWORD sessionId) const;
  std::vector<SessionInfo> All() const;
  // The SID of the user signed in to the session (HKCU of its processes is
  // HKEY_USERS\<sid>); the local system's SID for a session without a user.
  std::wstring UserSid(DWORD sessionId) const;
  DWORD ActiveConsoleSession() const;

  // ---- Operations: each returns false (and changes nothing) when it does not apply ----
  bool Lock(DWORD sessionId);
  bool Unlock(DWORD sessionId);
  // To the console (taking it from its current session, which is disconnected) or remote.
  bool Connect(DWORD sessionId, bool remote);
  bool Disconnect(DWORD sessionId);
  bool LogOn(DWORD sessionId);
  // WM_QUERYENDSESSION then WM_ENDSESSION (wParam TRUE, lParam ENDSESSION_LOGOFF) are
  // sent from the calling thread to the session's top-level windows (a refusal is recorded
  // on the desktop and overridden, as a user choosing "log off anyway"), then the shell
  // stops and the session is logged off.
  bool LogOff(DWORD sessionId);

  // ---- The shell (taskbar window "Shell_TrayWnd") ----
  // Starting the taskbar broadcasts "TaskbarCreated" to the session's top-level windows.
  bool StartShell(DWORD sessionId);
  bool StopShell(DWORD sessionId);
  bool RestartShell(DWORD sessionId);
  HWND ShellWindow(DWORD sessionId) const;

  // ---- Notification registrations (WTSRegisterSessionNotification) ----
  void Register(HWND h, DWORD windowSessionId, DWORD flags);
  void Unregister(HWND h);
  // The window is gone.
  void DropWindow(HWND h);
  bool IsRegistered(HWND h) const;
  // While the notification service is not running (early in a boot, before the remote
  // desktop services are up) registering and unregistering fail with RPC_S_INVALID_BINDING.
  void SetNotificationServiceRunning(bool running);
  bool NotificationServiceRunning() const;
  // WTSUnRegisterSessionNotification calls made for the window, whatever their outcome.
  void NoteUnregisterCall(HWND h);
  int UnregisterCalls(HWND h) const;

 private:
  struct Registration {
    DWORD session;
    DWORD flags;
  };

  std::wstring SidForUserLocked(const std::wstring& userName);
  // The op lock is held by the callers of these.
  void Notify(DWORD sessionId, WPARAM code);
  void Record(DWORD sessionId, const std::wstring& text);
  bool DisconnectHeld(DWORD sessionId);
  void TakeConsoleHeld(DWORD sessionId);

  Machine& m_machine;
  // Serialises operations so notifications go out in the order the state changed. Not
  // held while LogOff sends its end-session messages (a receiver may lock the session).
  mutable std::recursive_mutex m_opMu;
  mutable std::mutex m_mu;  // the state below
  std::map<DWORD, SessionInfo> m_sessions;
  std::map<std::wstring, DWORD> m_userRids;  // lower-case user name -> relative id
  DWORD m_nextRid = 1001;
  DWORD m_console = kNoConsoleSession;
  std::map<HWND, Registration> m_registrations;
  bool m_notificationService = true;
  std::map<HWND, int> m_unregisterCalls;
};

}  // namespace sim
