#include "platform/sim/desktop.h"

#include <cwchar>
#include <utility>

#include "platform/sim/machine.h"

namespace sim {

Desktop::Desktop(Machine& m) : m_machine(m) {}

void Desktop::RecordLocked(DWORD sessionId, std::wstring kind, std::wstring text) {
  // The clock's own lock is a leaf too, so reading it here is safe.
  m_events.push_back(
      DesktopEvent{m_machine.GetClock().NowMs(), sessionId, std::move(kind), std::move(text)});
}

void Desktop::SetDialogUser(DialogUser user) {
  std::lock_guard lk(m_mu);
  m_dialogUser = std::move(user);
}

Desktop::DialogUser Desktop::GetDialogUser() const {
  std::lock_guard lk(m_mu);
  return m_dialogUser;
}

void Desktop::Record(DWORD sessionId, std::wstring kind, std::wstring text) {
  std::lock_guard lk(m_mu);
  RecordLocked(sessionId, std::move(kind), std::move(text));
}

void Desktop::NoteLocked(DWORD sessionId) {
  std::lock_guard lk(m_mu);
  ++m_sessions[sessionId].lockCount;
  RecordLocked(sessionId, desktop_kind::kSession, L"locked");
}

void Desktop::NoteLockRequest(DWORD sessionId) {
  std::lock_guard lk(m_mu);
  ++m_sessions[sessionId].lockRequests;
}

void Desktop::SetForeground(DWORD sessionId, HWND h, const std::wstring& className) {
  std::lock_guard lk(m_mu);
  m_sessions[sessionId].foreground = h;
  RecordLocked(sessionId, desktop_kind::kWindow, L"foreground " + className);
}

HWND Desktop::SetFocus(DWORD sessionId, HWND h, const std::wstring& className) {
  std::lock_guard lk(m_mu);
  HWND previous = std::exchange(m_sessions[sessionId].focus, h);
  if (h) RecordLocked(sessionId, desktop_kind::kWindow, L"focus " + className);
  return previous;
}

void Desktop::ForgetWindow(HWND h) {
  std::lock_guard lk(m_mu);
  for (auto& [id, s] : m_sessions) {
    if (s.foreground == h) s.foreground = nullptr;
    if (s.focus == h) s.focus = nullptr;
  }
}

std::vector<DesktopEvent> Desktop::Events() const {
  std::lock_guard lk(m_mu);
  return m_events;
}

std::vector<DesktopEvent> Desktop::Events(DWORD sessionId) const {
  std::lock_guard lk(m_mu);
  std::vector<DesktopEvent> r;
  for (const auto& e : m_events) {
    if (e.sessionId == sessionId) r.push_back(e);
  }
  return r;
}

std::vector<DesktopEvent> Desktop::EventsOfKind(const std::wstring& kind) const {
  std::lock_guard lk(m_mu);
  std::vector<DesktopEvent> r;
  for (const auto& e : m_events) {
    if (e.kind == kind) r.push_back(e);
  }
  return r;
}

std::vector<std::wstring> Desktop::Texts(DWORD sessionId, const std::wstring& kind) const {
  std::lock_guard lk(m_mu);
  std::vector<std::wstring> r;
  for (const auto& e : m_events) {
    if (e.sessionId == sessionId && e.kind == kind) r.push_back(e.text);
  }
  return r;
}

std::wstring Desktop::Render(const DesktopEvent& e) {
  wchar_t head[64];
  std::swprintf(head, sizeof(head) / sizeof(head[0]), L"%8llu.%03llus  session %lu  %-8ls  ",
                static_cast<unsigned long long>(e.timeMs / 1000),
                static_cast<unsigned long long>(e.timeMs % 1000),
                static_cast<unsigned long>(e.sessionId), e.kind.c_str());
  return head + e.text;
}

std::wstring Desktop::Render() const {
  std::wstring out;
  for (const auto& e : Events()) out += Render(e) + L"\n";
  return out;
}

SessionDesktop Desktop::Session(DWORD sessionId) const {
  SessionDesktop r;
  r.sessionId = sessionId;
  if (auto info = m_machine.Sessions().Find(sessionId)) r.state = info->State();
  std::lock_guard lk(m_mu);
  auto it = m_sessions.find(sessionId);
  if (it != m_sessions.end()) {
    r.lockCount = it->second.lockCount;
    r.lockRequests = it->second.lockRequests;
    r.foreground = it->second.foreground;
    r.focus = it->second.focus;
  }
  return r;
}

int Desktop::LockCount(DWORD sessionId) const { return Session(sessionId).lockCount; }
HWND Desktop::Foreground(DWORD sessionId) const { return Session(sessionId).foreground; }
HWND Desktop::Focus(DWORD sessionId) const { return Session(sessionId).focus; }

bool Desktop::StartShell(DWORD sessionId) { return m_machine.Sessions().StartShell(sessionId); }
bool Desktop::RestartShell(DWORD sessionId) { return m_machine.Sessions().RestartShell(sessionId); }

}  // namespace sim
