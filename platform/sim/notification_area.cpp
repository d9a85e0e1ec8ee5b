#include "platform/sim/notification_area.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <cwchar>

#include "platform/sim/clock.h"
#include "platform/sim/desktop.h"
#include "platform/sim/machine.h"
#include "platform/sim/session_manager.h"
#include "platform/sim/window_manager.h"

namespace sim {

namespace {

// The sizes NOTIFYICONDATAW had: the first (64-character tip, nothing after it), with
// balloons and state, with the item GUID, and the current one.
constexpr size_t kSizeV1 = offsetof(NOTIFYICONDATAW, szTip) + 64 * sizeof(WCHAR);
constexpr size_t kSizeV2 = offsetof(NOTIFYICONDATAW, guidItem);
constexpr size_t kSizeV3 = offsetof(NOTIFYICONDATAW, hBalloonIcon);
constexpr size_t kSizeV4 = sizeof(NOTIFYICONDATAW);

// Where icons sit: from the clock leftwards along a bottom taskbar.
constexpr int kFirstIconX = 1800;
constexpr int kIconStep = 24;
constexpr int kIconY = 1060;

template <size_t N>
std::wstring Text(const WCHAR (&a)[N], size_t limit = N) {
  const size_t n = std::min(N, limit);
  size_t len = 0;
  while (len < n && a[len] != 0) ++len;
  return std::wstring(a, a + len);
}

std::wstring Hex(const void* p) {
  wchar_t b[32];
  std::swprintf(b, 32, L"0x%llX", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p)));
  return b;
}

std::wstring Quoted(const std::wstring& s) { return L"\"" + s + L"\""; }

}  // namespace

NotificationArea::NotificationArea(Machine& m, DWORD sessionId)
    : m_machine(m), m_session(sessionId) {}

NotificationArea::~NotificationArea() {
  if (m_balloonClockItem) m_machine.GetClock().Cancel(m_balloonClockItem);
}

bool NotificationArea::ShellRunning() const {
  return m_machine.Windows().ShellWindow(m_session) != nullptr;
}

bool NotificationArea::SessionShowsDesktop() const {
  auto s = m_machine.Sessions().Find(m_session);
  return s && s->State() == SessionState::Active;
}

std::wstring NotificationArea::IconName(HICON icon) const {
  if (!icon) return L"none";
  if (auto namer = m_machine.GetDesktop().GetIconNamer()) {
    std::wstring name = namer(icon);
    if (!name.empty()) return name;
  }
  return Hex(icon);
}

void NotificationArea::Carry(Effects& fx) {
  Desktop& d = m_machine.GetDesktop();
  for (auto& r : fx.records) d.Record(m_session, desktop_kind::kTray, std::move(r));
  // A window that is gone meanwhile simply misses its callback, as on Windows.
  for (const auto& p : fx.posts) m_machine.Windows().Post(p.hwnd, p.msg, p.wp, p.lp);
}

std::optional<NotificationArea::Post> NotificationArea::CallbackLocked(const Icon& icon,
                                                                       UINT event) const {
  const auto& i = icon.info;
  if (!i.callbackMessage) return std::nullopt;
  if (i.version >= 4) {
    const WPARAM where = static_cast<WPARAM>(static_cast<WORD>(i.position.x)) |
                         (static_cast<WPARAM>(static_cast<WORD>(i.position.y)) << 16);
    const LPARAM what = static_cast<LPARAM>(static_cast<WORD>(event)) |
                        (static_cast<LPARAM>(static_cast<WORD>(i.id)) << 16);
    return Post{i.hwnd, i.callbackMessage, where, what};
  }
  return Post{i.hwnd, i.callbackMessage, static_cast<WPARAM>(i.id), static_cast<LPARAM>(event)};
}

void NotificationArea::EndBalloonLocked(UINT event, const wchar_t* what, Effects& fx) {
  if (!m_balloon) return;
  auto it = m_icons.find(*m_balloon);
  m_balloon.reset();
  ++m_balloonSerial;
  if (m_balloonClockItem) {
    m_machine.GetClock().Cancel(m_balloonClockItem);
    m_balloonClockItem = 0;
  }
  if (it == m_icons.end()) return;
  it->second.info.balloonShown = false;
  fx.records.push_back(std::wstring(what) + L" " + std::to_wstring(it->second.info.id));
  if (auto p = CallbackLocked(it->second, event)) fx.posts.push_back(*p);
}

void NotificationArea::ShowBalloonLocked(Icon& icon, UINT timeoutMs, Effects& fx) {
  icon.info.balloonShown = true;
  m_balloon = Key{icon.info.hwnd, icon.info.id};
  const uint64_t serial = ++m_balloonSerial;
  fx.records.push_back(L"balloon shown " + std::to_wstring(icon.info.id) + L" " +
                       Quoted(icon.info.balloonTitle) + L" " + Quoted(icon.info.balloonText));
  if (auto p = CallbackLocked(icon, NIN_BALLOONSHOW)) fx.posts.push_back(*p);
  const UINT shownMs = std::clamp(timeoutMs, kMinBalloonMs, kMaxBalloonMs);
  Clock& clock = m_machine.GetClock();
  m_balloonClockItem =
      clock.ScheduleAt(clock.NowMs() + shownMs, [this, serial] { OnBalloonDue(serial); });
}

void NotificationArea::OnBalloonDue(uint64_t serial) {
  Effects fx;
  {
    std::lock_guard lk(m_mu);
    if (serial != m_balloonSerial) return;
    m_balloonClockItem = 0;  // it is running: nothing left to cancel
    EndBalloonLocked(NIN_BALLOONTIMEOUT, L"balloon timed out", fx);
  }
  Carry(fx);
}

BOOL NotificationArea::NotifyIcon(DWORD message, const NOTIFYICONDATAW* data, DWORD* error) {
  if (!data) {
    *error = ERROR_INVALID_PARAMETER;
    return FALSE;
  }
  // Only the bytes the caller declared are read: an older structure may be shorter.
  const size_t size = data->cbSize;
  const bool known = size == kSizeV1 || size == kSizeV2 || size == kSizeV3 || size == kSizeV4;
  NOTIFYICONDATAW d{};
  if (known) std::memcpy(&d, data, size);
  const std::wstring iconName = known && (d.uFlags & NIF_ICON) ? IconName(d.hIcon) : L"";
  const bool running = ShellRunning();

  Effects fx;
  BOOL ok = FALSE;
  {
    std::lock_guard lk(m_mu);
    TrayCall call{message, d.hWnd, d.uID, d.uFlags, false, 0};
    auto& failures = m_failures[message];
    if (!known) {
      *error = ERROR_INVALID_PARAMETER;
    } else if (!failures.empty()) {
      *error = failures.front();
      failures.erase(failures.begin());
    } else if (!running) {
      *error = ERROR_FILE_NOT_FOUND;
    } else {
      ok = ApplyLocked(message, d, size, iconName, error, fx);
    }
    call.succeeded = ok != FALSE;
    call.error = ok ? 0 : *error;
    m_calls.push_back(call);
  }
  Carry(fx);
  return ok;
}

BOOL NotificationArea::ApplyLocked(DWORD message, const NOTIFYICONDATAW& d, size_t size,
                                   const std::wstring& iconName, DWORD* error, Effects& fx) {
  const Key key{d.hWnd, d.uID};
  auto it = m_icons.find(key);
  const bool there = it != m_icons.end();
  // The shell refuses without a reason.
  auto refuse = [&] {
    *error = ERROR_SUCCESS;
    return FALSE;
  };
  const std::wstring id = std::to_wstring(d.uID);
  const bool old = size == kSizeV1;

  auto apply = [&](Icon& icon, std::wstring& text) {
    auto& i = icon.info;
    if (d.uFlags & NIF_MESSAGE) {
      i.callbackMessage = d.uCallbackMessage;
      text += L" message " + std::to_wstring(d.uCallbackMessage);
    }
    if (d.uFlags & NIF_ICON) {
      i.icon = d.hIcon;
      text += L" icon " + iconName;
    }
    if (d.uFlags & NIF_TIP) {
      i.tip = Text(d.szTip, old ? 64 : 128);
      text += L" tip " + Quoted(i.tip);
    }
    if (!old && (d.uFlags & NIF_STATE)) {
      i.state = (i.state & ~d.dwStateMask) | (d.dwState & d.dwStateMask);
      text += L" state " + std::to_wstring(i.state);
    }
  };
  // After the icon's own change is recorded: a balloon shows or hides.
  auto balloon = [&](Icon& icon) {
    if (old || !(d.uFlags & NIF_INFO)) return;
    std::wstring info = Text(d.szInfo);
    if (info.empty()) {
      if (m_balloon == key) EndBalloonLocked(NIN_BALLOONHIDE, L"balloon hidden", fx);
      return;
    }
    EndBalloonLocked(NIN_BALLOONHIDE, L"balloon hidden", fx);
    icon.info.balloonTitle = Text(d.szInfoTitle);
    icon.info.balloonText = std::move(info);
    ShowBalloonLocked(icon, d.uTimeout, fx);
  };

  switch (message) {
    case NIM_ADD: {
      if (there) return refuse();
      Icon icon;
      icon.info.hwnd = d.hWnd;
      icon.info.id = d.uID;
      icon.slot = m_nextSlot++;
      icon.info.position = POINT{kFirstIconX - kIconStep * icon.slot, kIconY};
      std::wstring text = L"added " + id;
      apply(icon, text);
      fx.records.push_back(std::move(text));
      auto& added = m_icons.emplace(key, std::move(icon)).first->second;
      balloon(added);
      return TRUE;
    }
    case NIM_MODIFY: {
      if (!there) return refuse();
      const std::wstring head = L"modified " + id;
      std::wstring text = head;
      apply(it->second, text);
      // A balloon alone changes nothing of the icon itself.
      if (text != head) fx.records.push_back(std::move(text));
      balloon(it->second);
      return TRUE;
    }
    case NIM_DELETE: {
      if (!there) return refuse();
      if (m_balloon == key) EndBalloonLocked(NIN_BALLOONHIDE, L"balloon hidden", fx);
      m_icons.erase(it);
      fx.records.push_back(L"deleted " + id);
      return TRUE;
    }
    case NIM_SETFOCUS:
      if (!there) return refuse();
      fx.records.push_back(L"focus " + id);
      return TRUE;
    case NIM_SETVERSION:
      if (!there || old) return refuse();
      if (d.uVersion != 0 && d.uVersion != 3 && d.uVersion != 4) return refuse();
      it->second.info.version = d.uVersion;
      fx.records.push_back(L"version " + id + L" " + std::to_wstring(d.uVersion));
      return TRUE;
    default:
      *error = ERROR_INVALID_PARAMETER;
      return FALSE;
  }
}

std::vector<TrayIconInfo> NotificationArea::Icons() const {
  std::lock_guard lk(m_mu);
  std::vector<const Icon*> bySlot;
  for (const auto& [k, icon] : m_icons) bySlot.push_back(&icon);
  std::sort(bySlot.begin(), bySlot.end(),
            [](const Icon* a, const Icon* b) { return a->slot < b->slot; });
  std::vector<TrayIconInfo> out;
  for (const Icon* icon : bySlot) out.push_back(icon->info);
  return out;
}

std::optional<TrayIconInfo> NotificationArea::Find(HWND hwnd, UINT id) const {
  std::lock_guard lk(m_mu);
  auto it = m_icons.find(Key{hwnd, id});
  if (it == m_icons.end()) return std::nullopt;
  return it->second.info;
}

std::vector<TrayCall> NotificationArea::Calls() const {
  std::lock_guard lk(m_mu);
  return m_calls;
}

int NotificationArea::CallCount(DWORD message) const {
  std::lock_guard lk(m_mu);
  return static_cast<int>(std::count_if(m_calls.begin(), m_calls.end(),
                                        [&](const TrayCall& c) { return c.message == message; }));
}

void NotificationArea::FailNext(DWORD message, DWORD error, int count) {
  std::lock_guard lk(m_mu);
  auto& f = m_failures[message];
  for (int i = 0; i < count; ++i) f.push_back(error);
}

bool NotificationArea::Mouse(HWND hwnd, UINT id, const std::vector<UINT>& events,
                             const wchar_t* what) {
  if (!SessionShowsDesktop()) return false;
  Effects fx;
  POINT where{};
  {
    std::lock_guard lk(m_mu);
    auto it = m_icons.find(Key{hwnd, id});
    if (it == m_icons.end() || !it->second.info.callbackMessage) return false;
    where = it->second.info.position;
    fx.records.push_back(std::wstring(what) + L" " + std::to_wstring(id));
    for (UINT e : events) fx.posts.push_back(*CallbackLocked(it->second, e));
  }
  // The pointer is on the icon before the button goes down.
  m_machine.GetDesktop().MoveCursor(m_session, where.x, where.y);
  Carry(fx);
  return true;
}

bool NotificationArea::Click(HWND hwnd, UINT id) {
  return Mouse(hwnd, id, {WM_LBUTTONDOWN, WM_LBUTTONUP}, L"clicked");
}

bool NotificationArea::DoubleClick(HWND hwnd, UINT id) {
  return Mouse(hwnd, id, {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP},
               L"double-clicked");
}

bool NotificationArea::RightClick(HWND hwnd, UINT id) {
  return Mouse(hwnd, id, {WM_RBUTTONDOWN, WM_RBUTTONUP}, L"right-clicked");
}

bool NotificationArea::ClickBalloon(HWND hwnd, UINT id) {
  if (!SessionShowsDesktop()) return false;
  Effects fx;
  {
    std::lock_guard lk(m_mu);
    if (m_balloon != Key{hwnd, id}) return false;
    EndBalloonLocked(NIN_BALLOONUSERCLICK, L"balloon clicked", fx);
  }
  Carry(fx);
  return true;
}

bool NotificationArea::CloseBalloon(HWND hwnd, UINT id) {
  if (!SessionShowsDesktop()) return false;
  Effects fx;
  {
    std::lock_guard lk(m_mu);
    if (m_balloon != Key{hwnd, id}) return false;
    EndBalloonLocked(NIN_BALLOONTIMEOUT, L"balloon closed", fx);
  }
  Carry(fx);
  return true;
}

bool NotificationArea::HideBalloon(HWND hwnd, UINT id) {
  Effects fx;
  {
    std::lock_guard lk(m_mu);
    if (m_balloon != Key{hwnd, id}) return false;
    EndBalloonLocked(NIN_BALLOONHIDE, L"balloon hidden", fx);
  }
  Carry(fx);
  return true;
}

std::optional<std::pair<HWND, UINT>> NotificationArea::ShownBalloon() const {
  std::lock_guard lk(m_mu);
  return m_balloon;
}

void NotificationArea::ShellStopped() {
  Effects fx;
  {
    std::lock_guard lk(m_mu);
    if (m_balloon) {
      m_balloon.reset();
      ++m_balloonSerial;
      if (m_balloonClockItem) m_machine.GetClock().Cancel(m_balloonClockItem);
      m_balloonClockItem = 0;
    }
    if (!m_icons.empty()) fx.records.push_back(L"emptied (shell stopped)");
    m_icons.clear();
    m_nextSlot = 0;
  }
  Carry(fx);
}

}  // namespace sim
