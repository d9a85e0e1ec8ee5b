#include "platform/sim/session_manager.h"

#include <cwctype>
#include <stdexcept>

#include "platform/sim/desktop.h"
#include "platform/sim/machine.h"
#include "platform/sim/notification_area.h"
#include "platform/sim/window_manager.h"

namespace sim {

namespace {
constexpr wchar_t kDomainSidPrefix[] = L"S-1-5-21-3623811015-3361044348-30300820-";
constexpr wchar_t kLocalSystemSid[] = L"S-1-5-18";

std::wstring Lower(std::wstring s) {
  for (auto& ch : s) ch = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(ch)));
  return s;
}
}  // namespace

const wchar_t* ToString(SessionState s) {
  switch (s) {
    case SessionState::Active:
      return L"active";
    case SessionState::Locked:
      return L"locked";
    case SessionState::Disconnected:
      return L"disconnected";
    case SessionState::LoggedOff:
      return L"logged off";
  }
  return L"?";
}

SessionState SessionInfo::State() const {
  if (!loggedOn) return SessionState::LoggedOff;
  if (!connected) return SessionState::Disconnected;
  if (locked) return SessionState::Locked;
  return SessionState::Active;
}

SessionManager::SessionManager(Machine& m) : m_machine(m) {
  // The window manager does not exist yet: it starts the boot sessions' shells itself.
  SessionInfo s;
  s.id = 1;
  s.userName = L"alice";
  s.userSid = SidForUserLocked(s.userName);
  s.connected = true;
  s.loggedOn = true;
  m_sessions.emplace(s.id, s);
  m_console = s.id;
}

std::wstring SessionManager::SidForUserLocked(const std::wstring& userName) {
  auto [it, added] = m_userRids.try_emplace(Lower(userName), m_nextRid);
  if (added) ++m_nextRid;
  return kDomainSidPrefix + std::to_wstring(it->second);
}

DWORD SessionManager::CreateSession(const SessionOptions& opts) {
  std::lock_guard op(m_opMu);
  DWORD id = 0;
  {
    std::lock_guard lk(m_mu);
    if (opts.id) {
      id = *opts.id;
      if (m_sessions.count(id)) throw std::invalid_argument("session id already in use");
    } else {
      id = 1;
      while (m_sessions.count(id)) ++id;
    }
    SessionInfo s;
    s.id = id;
    s.userName = opts.userName;
    s.userSid = opts.userSid.empty() ? SidForUserLocked(opts.userName) : opts.userSid;
    s.remote = opts.remote;
    s.loggedOn = opts.loggedOn;
    s.connected = opts.loggedOn && opts.connected;
    if (s.connected && !s.remote) {
      if (m_console == kNoConsoleSession) {
        m_console = id;
      } else {
        s.connected = false;
      }
    }
    m_sessions.emplace(id, s);
  }
  if (opts.loggedOn && opts.startShell) StartShell(id);
  return id;
}

std::optional<SessionInfo> SessionManager::Find(DWORD sessionId) const {
  std::lock_guard lk(m_mu);
  auto it = m_sessions.find(sessionId);
  if (it == m_sessions.end()) return std::nullopt;
  return it->second;
}

std::vector<SessionInfo> SessionManager::All() const {
  std::lock_guard lk(m_mu);
  std::vector<SessionInfo> r;
  for (const auto& [id, s] : m_sessions) r.push_back(s);
  return r;
}

std::wstring SessionManager::UserSid(DWORD sessionId) const {
  std::lock_guard lk(m_mu);
  auto it = m_sessions.find(sessionId);
  return it == m_sessions.end() ? std::wstring(kLocalSystemSid) : it->second.userSid;
}

DWORD SessionManager::ActiveConsoleSession() const {
  std::lock_guard lk(m_mu);
  return m_console;
}

// ---- Notifications ------------------------------------------------------------------------

void SessionManager::Notify(DWORD sessionId, WPARAM code) {
  std::vector<HWND> targets;
  {
    std::lock_guard lk(m_mu);
    for (const auto& [h, r] : m_registrations) {
      if (r.flags == NOTIFY_FOR_ALL_SESSIONS || r.session == sessionId) targets.push_back(h);
    }
  }
  for (HWND h : targets) {
    m_machine.Windows().Post(h, WM_WTSSESSION_CHANGE, code, static_cast<LPARAM>(sessionId));
  }
}

void SessionManager::Record(DWORD sessionId, const std::wstring& text) {
  m_machine.GetDesktop().Record(sessionId, desktop_kind::kSession, text);
}

void SessionManager::Register(HWND h, DWORD windowSessionId, DWORD flags) {
  std::lock_guard lk(m_mu);
  m_registrations[h] = Registration{windowSessionId, flags};
}

void SessionManager::Unregister(HWND h) {
  std::lock_guard lk(m_mu);
  m_registrations.erase(h);
}

void SessionManager::DropWindow(HWND h) { Unregister(h); }

bool SessionManager::IsRegistered(HWND h) const {
  std::lock_guard lk(m_mu);
  return m_registrations.count(h) != 0;
}

void SessionManager::SetNotificationServiceRunning(bool running) {
  std::lock_guard lk(m_mu);
  m_notificationService = running;
}

bool SessionManager::NotificationServiceRunning() const {
  std::lock_guard lk(m_mu);
  return m_notificationService;
}

void SessionManager::NoteUnregisterCall(HWND h) {
  std::lock_guard lk(m_mu);
  ++m_unregisterCalls[h];
}

int SessionManager::UnregisterCalls(HWND h) const {
  std::lock_guard lk(m_mu);
  auto it = m_unregisterCalls.find(h);
  return it == m_unregisterCalls.end() ? 0 : it->second;
}

// ---- Operations ---------------------------------------------------------------------------

bool SessionManager::Lock(DWORD sessionId) {
  std::lock_guard op(m_opMu);
  {
    std::lock_guard lk(m_mu);
    auto it = m_sessions.find(sessionId);
    if (it == m_sessions.end() || !it->second.loggedOn || it->second.locked) return false;
    it->second.locked = true;
  }
  m_machine.GetDesktop().NoteLocked(sessionId);
  Notify(sessionId, WTS_SESSION_LOCK);
  return true;
}

bool SessionManager::Unlock(DWORD sessionId) {
  std::lock_guard op(m_opMu);
  {
    std::lock_guard lk(m_mu);
    auto it = m_sessions.find(sessionId);
    if (it == m_sessions.end() || !it->second.loggedOn || !it->second.locked) return false;
    it->second.locked = false;
  }
  Record(sessionId, L"unlocked");
  Notify(sessionId, WTS_SESSION_UNLOCK);
  return true;
}

bool SessionManager::DisconnectHeld(DWORD sessionId) {
  bool remote = false;
  {
    std::lock_guard lk(m_mu);
    auto it = m_sessions.find(sessionId);
    if (it == m_sessions.end() || !it->second.loggedOn || !it->second.connected) return false;
    it->second.connected = false;
    remote = it->second.remote;
    if (m_console == sessionId) m_console = kNoConsoleSession;
  }
  // The keyboard went with the terminal: nothing stays held down for the next connection.
  m_machine.GetDesktop().ReleaseAll(sessionId);
  Record(sessionId, remote ? L"remote disconnected" : L"console disconnected");
  Notify(sessionId, remote ? WTS_REMOTE_DISCONNECT : WTS_CONSOLE_DISCONNECT);
  return true;
}

void SessionManager::TakeConsoleHeld(DWORD sessionId) {
  DWORD current;
  {
    std::lock_guard lk(m_mu);
    current = m_console;
  }
  // One session at a time owns the console: the one there is put aside.
  if (current != kNoConsoleSession && current != sessionId) DisconnectHeld(current);
}

bool SessionManager::Disconnect(DWORD sessionId) {
  std::lock_guard op(m_opMu);
  return DisconnectHeld(sessionId);
}

bool SessionManager::Connect(DWORD sessionId, bool remote) {
  std::lock_guard op(m_opMu);
  {
    std::lock_guard lk(m_mu);
    auto it = m_sessions.find(sessionId);
    if (it == m_sessions.end() || !it->second.loggedOn) return false;
    if (it->second.connected && it->second.remote == remote) return false;
  }
  // Moving between console and remote passes through a disconnect.
  DisconnectHeld(sessionId);
  if (!remote) TakeConsoleHeld(sessionId);
  {
    std::lock_guard lk(m_mu);
    auto& s = m_sessions.at(sessionId);
    s.connected = true;
    s.remote = remote;
    if (!remote) m_console = sessionId;
  }
  Record(sessionId, remote ? L"remote connected" : L"console connected");
  Notify(sessionId, remote ? WTS_REMOTE_CONNECT : WTS_CONSOLE_CONNECT);
  return true;
}

bool SessionManager::LogOn(DWORD sessionId) {
  std::lock_guard op(m_opMu);
  bool remote = false;
  {
    std::lock_guard lk(m_mu);
    auto it = m_sessions.find(sessionId);
    if (it == m_sessions.end() || it->second.loggedOn) return false;
    remote = it->second.remote;
  }
  if (!remote) TakeConsoleHeld(sessionId);
  {
    std::lock_guard lk(m_mu);
    auto& s = m_sessions.at(sessionId);
    s.loggedOn = true;
    s.connected = true;
    s.locked = false;
    if (!remote) m_console = sessionId;
  }
  Record(sessionId, L"logged on");
  Notify(sessionId, WTS_SESSION_LOGON);
  StartShell(sessionId);
  return true;
}

bool SessionManager::LogOff(DWORD sessionId) {
  {
    auto s = Find(sessionId);
    if (!s || !s->loggedOn) return false;
  }
  // Sent without the op lock: a receiver may lock the workstation or post to us.
  WindowManager& wm = m_machine.Windows();
  const std::vector<HWND> windows = wm.TopLevelWindows(sessionId);
  for (HWND h : windows) {
    if (!wm.Send(h, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF)) {
      auto info = wm.Info(h);
      if (info) Record(sessionId, L"log off blocked by " + info->className);
    }
  }
  for (HWND h : windows) wm.Send(h, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);

  std::lock_guard op(m_opMu);
  {
    std::lock_guard lk(m_mu);
    auto it = m_sessions.find(sessionId);
    if (it == m_sessions.end() || !it->second.loggedOn) return false;
    it->second.loggedOn = false;
    it->second.connected = false;
    it->second.locked = false;
    if (m_console == sessionId) m_console = kNoConsoleSession;
  }
  StopShell(sessionId);
  m_machine.GetDesktop().ReleaseAll(sessionId);
  Record(sessionId, L"logged off");
  Notify(sessionId, WTS_SESSION_LOGOFF);
  return true;
}

// ---- Shell --------------------------------------------------------------------------------

bool SessionManager::StartShell(DWORD sessionId) {
  std::lock_guard op(m_opMu);
  {
    auto s = Find(sessionId);
    if (!s || !s->loggedOn) return false;
  }
  WindowManager& wm = m_machine.Windows();
  if (wm.ShellWindow(sessionId)) return false;
  wm.CreateShellWindow(sessionId);
  // The taskbar announces itself so that programs started before it add their icons.
  const UINT taskbarCreated = wm.RegisterWindowMessageW(L"TaskbarCreated");
  wm.Broadcast(sessionId, taskbarCreated, 0, 0);
  m_machine.GetDesktop().Record(sessionId, desktop_kind::kShell, L"taskbar created");
  return true;
}

bool SessionManager::StopShell(DWORD sessionId) {
  std::lock_guard op(m_opMu);
  WindowManager& wm = m_machine.Windows();
  HWND shell = wm.ShellWindow(sessionId);
  if (!shell) return false;
  wm.DestroyAnyWindow(shell);
  // The icons lived in the taskbar's process: they go with it.
  m_machine.GetDesktop().Tray(sessionId).ShellStopped();
  m_machine.GetDesktop().Record(sessionId, desktop_kind::kShell, L"shell stopped");
  return true;
}

bool SessionManager::RestartShell(DWORD sessionId) {
  std::lock_guard op(m_opMu);
  StopShell(sessionId);
  return StartShell(sessionId);
}

HWND SessionManager::ShellWindow(DWORD sessionId) const {
  return m_machine.Windows().ShellWindow(sessionId);
}

}  // namespace sim
