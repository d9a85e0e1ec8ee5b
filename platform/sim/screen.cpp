#include "platform/sim/screen.h"

#include <cwchar>

#include "platform/sim/desktop.h"
#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "platform/sim/window_manager.h"
#include "platform/ui.h"

namespace sim {

namespace {
std::wstring Point(LONG x, LONG y) {
  return L"(" + std::to_wstring(x) + L", " + std::to_wstring(y) + L")";
}

bool Contains(const RECT& r, POINT p) {
  return p.x >= r.left && p.x < r.right && p.y >= r.top && p.y < r.bottom;
}
}  // namespace

Screen::Screen(Machine& m) : m_machine(m) {}

RECT Screen::WorkArea() const {
  RECT area{0, 0, kWidth, kHeight};
  const Appearance look = m_machine.GetAppearance();
  const RECT& bar = look.taskbarRect;
  switch (look.taskbarEdge) {
    case ABE_LEFT:
      area.left = bar.right;
      break;
    case ABE_TOP:
      area.top = bar.bottom;
      break;
    case ABE_RIGHT:
      area.right = bar.left;
      break;
    default:
      area.bottom = bar.top;
      break;
  }
  return area;
}

std::optional<RECT> Screen::Rect(HWND h) const {
  std::lock_guard lk(m_mu);
  auto it = m_places.find(h);
  if (it == m_places.end()) return std::nullopt;
  return it->second.rect;
}

void Screen::SetRect(HWND h, const RECT& r) {
  bool moved = false;
  {
    std::lock_guard lk(m_mu);
    auto& place = m_places[h];
    moved = place.rect.left != r.left || place.rect.top != r.top;
    place.rect = r;
  }
  if (!moved) return;
  auto info = m_machine.Windows().Info(h);
  if (info && (info->exStyle & WS_EX_LAYERED) && info->visible)
    m_machine.GetDesktop().Record(info->sessionId, desktop_kind::kLayered,
                                  info->title + L" moved to " + Point(r.left, r.top));
}

void Screen::SetTopmost(HWND h, bool topmost) {
  std::lock_guard lk(m_mu);
  m_places[h].topmost = topmost;
}

bool Screen::IsTopmost(HWND h) const {
  std::lock_guard lk(m_mu);
  auto it = m_places.find(h);
  return it != m_places.end() && it->second.topmost;
}

void Screen::SetPictureNamer(PictureNamer namer) {
  std::lock_guard lk(m_mu);
  m_namer = std::move(namer);
}

void Screen::SetPicture(HWND h, Picture picture) {
  PictureNamer namer;
  {
    std::lock_guard lk(m_mu);
    namer = m_namer;
  }
  std::wstring name = namer ? namer(picture) : L"";
  if (name.empty()) {
    wchar_t centre[16] = L"-";
    if (picture.width > 0 && picture.height > 0)
      std::swprintf(centre, 16, L"0x%08X", picture.At(picture.width / 2, picture.height / 2));
    name = std::wstring(L"centre ") + centre;
  }
  std::wstring text;
  {
    std::lock_guard lk(m_mu);
    auto& place = m_places[h];
    place.rect.right = place.rect.left + picture.width;
    place.rect.bottom = place.rect.top + picture.height;
    text = L" drawn at " + Point(place.rect.left, place.rect.top) + L" " +
           std::to_wstring(picture.width) + L"x" + std::to_wstring(picture.height) + L", " + name;
    place.picture = std::move(picture);
  }
  if (auto info = m_machine.Windows().Info(h))
    m_machine.GetDesktop().Record(info->sessionId, desktop_kind::kLayered, info->title + text);
}

std::optional<Screen::Picture> Screen::PictureOf(HWND h) const {
  std::lock_guard lk(m_mu);
  auto it = m_places.find(h);
  if (it == m_places.end()) return std::nullopt;
  return it->second.picture;
}

// ---- Capture --------------------------------------------------------------------------------

HWND Screen::SetCapture(DWORD sessionId, DWORD threadId, HWND h) {
  std::lock_guard lk(m_mu);
  auto& holder = m_capture[sessionId];
  const HWND previous = holder.hwnd;
  holder = CaptureHolder{h, threadId};
  return previous;
}

HWND Screen::Capture(DWORD sessionId, DWORD threadId) const {
  std::lock_guard lk(m_mu);
  auto it = m_capture.find(sessionId);
  if (it == m_capture.end() || it->second.threadId != threadId) return nullptr;
  return it->second.hwnd;
}

HWND Screen::ReleaseCapture(DWORD sessionId, DWORD threadId) {
  std::lock_guard lk(m_mu);
  auto it = m_capture.find(sessionId);
  if (it == m_capture.end() || it->second.threadId != threadId) return nullptr;
  const HWND had = it->second.hwnd;
  m_capture.erase(it);
  return had;
}

// ---- Tooltips -------------------------------------------------------------------------------

std::optional<Screen::Tip> Screen::TipOf(HWND h) const {
  std::lock_guard lk(m_mu);
  auto it = m_tips.find(h);
  if (it == m_tips.end()) return std::nullopt;
  return it->second;
}

void Screen::ForgetTip(HWND h) {
  std::lock_guard lk(m_mu);
  m_tips.erase(h);
}

// The messages a tracking balloon needs; the rest go to the default procedure. A tooltip
// window shows itself while tracking is active.
LRESULT CALLBACK Screen::TooltipProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  Process* p = CurrentProcess();
  if (!p) return 0;
  Machine& m = p->GetMachine();
  Screen& screen = m.GetScreen();
  const DWORD session = p->SessionId();
  auto text = [](LPCWSTR s) { return s && !IS_INTRESOURCE(s) ? std::wstring(s) : std::wstring(); };
  switch (msg) {
    case WM_CREATE: {
      const auto* cs = reinterpret_cast<const CREATESTRUCTW*>(lp);
      screen.WithTip(h, [&](Tip& t) {
        t.owner = cs->hwndParent;
        t.style = static_cast<DWORD>(cs->style);
        return 0;
      });
      return 0;
    }
    case TTM_ADDTOOLW:
    case TTM_UPDATETIPTEXTW: {
      const auto* ti = reinterpret_cast<const TOOLINFOW*>(lp);
      if (!ti || ti->cbSize < TTTOOLINFOW_V2_SIZE) return FALSE;
      return screen.WithTip(h, [&](Tip& t) -> LRESULT {
        if (msg == TTM_ADDTOOLW) {
          ++t.tools;
          t.toolFlags = ti->uFlags;
          t.toolId = ti->uId;
        } else if (t.tools == 0 || ti->uId != t.toolId) {
          return 0;  // no such tool: nothing changes
        }
        t.toolRecordSize = ti->cbSize;
        t.text = text(ti->lpszText);
        return TRUE;
      });
    }
    case TTM_SETMAXTIPWIDTH:
      return screen.WithTip(h, [&](Tip& t) -> LRESULT {
        const int previous = t.maxWidth;
        t.maxWidth = static_cast<int>(lp);
        return previous;
      });
    case TTM_SETTITLEW:
      return screen.WithTip(h, [&](Tip& t) -> LRESULT {
        t.titleIcon = static_cast<int>(wp);
        t.title = text(reinterpret_cast<LPCWSTR>(lp));
        return TRUE;
      });
    case TTM_TRACKPOSITION:
      screen.WithTip(h, [&](Tip& t) {
        t.track = POINT{static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))};
        return 0;
      });
      return 0;
    case TTM_TRACKACTIVATE: {
      const bool on = wp != 0;
      bool changed = false;
      std::wstring shown;
      screen.WithTip(h, [&](Tip& t) {
        changed = t.active != on && t.tools > 0;
        if (changed) t.active = on;
        shown = L"shown: \"" + t.text + L"\" at " + Point(t.track.x, t.track.y);
        return 0;
      });
      if (!changed) return 0;
      p->Ui().ShowWindow(h, on ? SW_SHOWNA : SW_HIDE);
      m.GetDesktop().Record(session, desktop_kind::kTooltip, on ? shown : L"hidden");
      return 0;
    }
    case WM_DESTROY: {
      auto tip = screen.TipOf(h);
      if (tip && tip->active) m.GetDesktop().Record(session, desktop_kind::kTooltip, L"hidden");
      screen.ForgetTip(h);
      return 0;
    }
    default:
      return m.Windows().DefWindowProcW(h, msg, wp, lp);
  }
}

// ---- The mouse ------------------------------------------------------------------------------

HWND Screen::WindowAt(DWORD sessionId, POINT p) const {
  std::vector<std::pair<HWND, bool>> under;
  {
    std::lock_guard lk(m_mu);
    for (const auto& [h, place] : m_places)
      if (Contains(place.rect, p)) under.emplace_back(h, place.topmost);
  }
  HWND best = nullptr;
  bool bestTop = false;
  for (const auto& [h, top] : under) {
    auto info = m_machine.Windows().Info(h);
    if (!info || info->sessionId != sessionId || !info->visible) continue;
    const bool newer = reinterpret_cast<uintptr_t>(h) > reinterpret_cast<uintptr_t>(best);
    if (!best || (top && !bestTop) || (top == bestTop && newer)) {
      best = h;
      bestTop = top;
    }
  }
  return best;
}

bool Screen::Mouse(DWORD sessionId, POINT p, UINT msg, WPARAM keys) {
  m_machine.GetDesktop().MoveCursor(sessionId, p.x, p.y);
  HWND target = nullptr;
  {
    std::lock_guard lk(m_mu);
    auto it = m_capture.find(sessionId);
    if (it != m_capture.end()) target = it->second.hwnd;
  }
  if (!target) target = WindowAt(sessionId, p);
  if (!target) return false;
  const RECT r = Rect(target).value_or(RECT{0, 0, 0, 0});
  const LPARAM at = MAKELPARAM(static_cast<WORD>(p.x - r.left), static_cast<WORD>(p.y - r.top));
  return m_machine.Windows().Post(target, msg, keys, at) != FALSE;
}

bool Screen::PressLeft(DWORD sessionId, POINT p) {
  return Mouse(sessionId, p, WM_LBUTTONDOWN, MK_LBUTTON);
}
bool Screen::MoveMouse(DWORD sessionId, POINT p) {
  return Mouse(sessionId, p, WM_MOUSEMOVE, MK_LBUTTON);
}
bool Screen::ReleaseLeft(DWORD sessionId, POINT p) {
  return Mouse(sessionId, p, WM_LBUTTONUP, 0);
}

}  // namespace sim
