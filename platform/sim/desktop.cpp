#include "platform/sim/desktop.h"

#include <cwchar>
#include <utility>

#include "platform/sim/machine.h"
#include "platform/sim/notification_area.h"
#include "platform/sim/window_manager.h"

namespace sim {

namespace {

// The key a driver reports for a generic modifier: the left one.
int SidedKey(int vk) {
  switch (vk) {
    case VK_CONTROL:
      return VK_LCONTROL;
    case VK_SHIFT:
      return VK_LSHIFT;
    case VK_MENU:
      return VK_LMENU;
    default:
      return vk;
  }
}

bool IsModifier(int vk) {
  switch (SidedKey(vk)) {
    case VK_LCONTROL:
    case VK_RCONTROL:
    case VK_LSHIFT:
    case VK_RSHIFT:
    case VK_LMENU:
    case VK_RMENU:
    case VK_LWIN:
    case VK_RWIN:
      return true;
    default:
      return false;
  }
}

// Virtual-key codes run from 1 to 254.
bool IsKey(int vk) { return vk > 0 && vk < 255; }

bool Down(const std::set<int>& keys, int vk) {
  switch (vk) {
    case VK_CONTROL:
      return keys.count(VK_LCONTROL) || keys.count(VK_RCONTROL);
    case VK_SHIFT:
      return keys.count(VK_LSHIFT) || keys.count(VK_RSHIFT);
    case VK_MENU:
      return keys.count(VK_LMENU) || keys.count(VK_RMENU);
    default:
      return keys.count(vk) != 0;
  }
}

UINT Modifiers(const std::set<int>& keys) {
  UINT mods = 0;
  if (Down(keys, VK_CONTROL)) mods |= MOD_CONTROL;
  if (Down(keys, VK_SHIFT)) mods |= MOD_SHIFT;
  if (Down(keys, VK_MENU)) mods |= MOD_ALT;
  if (Down(keys, VK_LWIN) || Down(keys, VK_RWIN)) mods |= MOD_WIN;
  return mods;
}

}  // namespace

Desktop::Desktop(Machine& m) : m_machine(m), m_menus(std::make_unique<MenuTable>()) {}

Desktop::~Desktop() = default;

void Desktop::SetMenuUser(MenuUser user) {
  std::lock_guard lk(m_mu);
  m_menuUser = std::move(user);
}

Desktop::MenuUser Desktop::GetMenuUser() const {
  std::lock_guard lk(m_mu);
  return m_menuUser;
}

NotificationArea& Desktop::Tray(DWORD sessionId) {
  std::lock_guard lk(m_mu);
  auto& tray = m_trays[sessionId];
  if (!tray) tray = std::make_unique<NotificationArea>(m_machine, sessionId);
  return *tray;
}

void Desktop::SetIconNamer(IconNamer namer) {
  std::lock_guard lk(m_mu);
  m_iconNamer = std::move(namer);
}

Desktop::IconNamer Desktop::GetIconNamer() const {
  std::lock_guard lk(m_mu);
  return m_iconNamer;
}

void Desktop::MoveCursor(DWORD sessionId, int x, int y) {
  std::lock_guard lk(m_mu);
  m_sessions[sessionId].cursor = POINT{x, y};
}

POINT Desktop::Cursor(DWORD sessionId) const {
  std::lock_guard lk(m_mu);
  auto it = m_sessions.find(sessionId);
  return it == m_sessions.end() ? PerSession{}.cursor : it->second.cursor;
}

void Desktop::SetDoubleClickTime(UINT ms) {
  std::lock_guard lk(m_mu);
  m_doubleClickMs = ms;
}

UINT Desktop::DoubleClickTime() const {
  std::lock_guard lk(m_mu);
  return m_doubleClickMs;
}

HDESK Desktop::OpenInputDesktop(DWORD processId, DWORD sessionId) {
  auto s = m_machine.Sessions().Find(sessionId);
  if (!s || s->State() != SessionState::Active) return nullptr;
  std::lock_guard lk(m_mu);
  HDESK h = reinterpret_cast<HDESK>(m_nextDesktop);
  m_nextDesktop += 4;
  m_desktops.emplace(h, processId);
  return h;
}

bool Desktop::CloseDesktop(DWORD processId, HDESK h) {
  std::lock_guard lk(m_mu);
  auto it = m_desktops.find(h);
  if (it == m_desktops.end() || it->second != processId) return false;
  m_desktops.erase(it);
  return true;
}

int Desktop::OpenDesktopCount(DWORD processId) const {
  std::lock_guard lk(m_mu);
  int n = 0;
  for (const auto& [h, pid] : m_desktops) n += processId == 0 || pid == processId ? 1 : 0;
  return n;
}

void Desktop::ProcessExited(DWORD processId) {
  m_menus->ProcessExited(processId);
  std::lock_guard lk(m_mu);
  std::erase_if(m_desktops, [&](const auto& kv) { return kv.second == processId; });
}

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

void Desktop::SetPromptUser(PromptUser user) {
  std::lock_guard lk(m_mu);
  m_promptUser = std::move(user);
}

Desktop::PromptUser Desktop::GetPromptUser() const {
  std::lock_guard lk(m_mu);
  return m_promptUser;
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

void Desktop::PressKeys(DWORD sessionId, const std::vector<int>& keys) {
  std::vector<std::pair<UINT, UINT>> combinations;
  {
    std::lock_guard lk(m_mu);
    auto& down = m_sessions[sessionId].keysDown;
    for (int vk : keys) {
      if (!IsKey(vk)) continue;
      const bool wasDown = !down.insert(SidedKey(vk)).second;
      // Holding a key down repeats it, but a hotkey fires once per press here.
      if (!wasDown && !IsModifier(vk)) {
        combinations.emplace_back(Modifiers(down), static_cast<UINT>(vk));
      }
    }
  }
  // Outside our lock: the window manager posts, records and asks the sessions.
  for (const auto& [mods, vk] : combinations) {
    m_machine.Windows().FireHotKey(sessionId, mods, vk, false);
  }
}

void Desktop::ReleaseKeys(DWORD sessionId, const std::vector<int>& keys) {
  std::lock_guard lk(m_mu);
  auto& down = m_sessions[sessionId].keysDown;
  for (int vk : keys) down.erase(SidedKey(vk));
}

void Desktop::ReleaseAll(DWORD sessionId) {
  std::lock_guard lk(m_mu);
  auto it = m_sessions.find(sessionId);
  if (it != m_sessions.end()) it->second.keysDown.clear();
}

bool Desktop::IsKeyDown(DWORD sessionId, int vk) const {
  std::lock_guard lk(m_mu);
  auto it = m_sessions.find(sessionId);
  return it != m_sessions.end() && Down(it->second.keysDown, vk);
}

UINT Desktop::ModifiersDown(DWORD sessionId) const {
  std::lock_guard lk(m_mu);
  auto it = m_sessions.find(sessionId);
  return it == m_sessions.end() ? 0 : Modifiers(it->second.keysDown);
}

bool Desktop::PressHotKey(DWORD sessionId, UINT modifiers, UINT vk) {
  return m_machine.Windows().FireHotKey(sessionId, modifiers, vk, true);
}

bool Desktop::StartScreenSaver(DWORD sessionId) {
  std::lock_guard lk(m_mu);
  if (std::exchange(m_sessions[sessionId].screenSaver, true)) return false;
  RecordLocked(sessionId, desktop_kind::kScreenSaver, L"started");
  return true;
}

bool Desktop::StopScreenSaver(DWORD sessionId) {
  std::lock_guard lk(m_mu);
  if (!std::exchange(m_sessions[sessionId].screenSaver, false)) return false;
  RecordLocked(sessionId, desktop_kind::kScreenSaver, L"stopped");
  return true;
}

bool Desktop::ScreenSaverRunning(DWORD sessionId) const {
  std::lock_guard lk(m_mu);
  auto it = m_sessions.find(sessionId);
  return it != m_sessions.end() && it->second.screenSaver;
}

int Desktop::LockCount(DWORD sessionId) const { return Session(sessionId).lockCount; }
HWND Desktop::Foreground(DWORD sessionId) const { return Session(sessionId).foreground; }
HWND Desktop::Focus(DWORD sessionId) const { return Session(sessionId).focus; }

bool Desktop::StartShell(DWORD sessionId) { return m_machine.Sessions().StartShell(sessionId); }
bool Desktop::StopShell(DWORD sessionId) { return m_machine.Sessions().StopShell(sessionId); }
bool Desktop::RestartShell(DWORD sessionId) { return m_machine.Sessions().RestartShell(sessionId); }

}  // namespace sim
