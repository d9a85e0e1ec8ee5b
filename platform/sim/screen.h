// Where windows are on the simulated screen and what a layered window shows: positions and
// sizes (SetWindowPos, UpdateLayeredWindow), the top-most flag, the pixels a layered window
// was last given, mouse capture, the tracking tooltips of the "tooltips_class32" class, and
// the left mouse button of a session's user.
//
//   sim::Screen& screen = machine.GetScreen();
//   screen.WorkArea();                                  // the screen less the taskbar
//   screen.PressLeft(1, {20, 20});                      // WM_LBUTTONDOWN to the window there
//   screen.MoveMouse(1, {220, 120});  screen.ReleaseLeft(1, {220, 120});
//   screen.PictureOf(avatar)->At(24, 24);               // 0xAARRGGBB as drawn
//   screen.TipOf(balloon)->text;
//
// Layered windows are recorded on the desktop (kind "layered": drawn, shown, hidden,
// moved) and so are tracking tooltips (kind "tooltip": shown with text and point, hidden).
//
// Only windows that were placed (SetWindowPos with a size, or UpdateLayeredWindow) have a
// rectangle here; the others are treated as 0 x 0 at the origin and are never under the
// mouse. Handles are never reused on the machine, so a gone window's entry is only stale.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/win_types.h"

namespace sim {

class Machine;

namespace desktop_kind {
inline constexpr wchar_t kLayered[] = L"layered";  // a layered window drawn, shown, hidden, moved
inline constexpr wchar_t kTooltip[] = L"tooltip";  // a tracking tooltip shown or hidden
}  // namespace desktop_kind

class Screen {
 public:
  static constexpr LONG kWidth = 1920;
  static constexpr LONG kHeight = 1080;

  // The pixels UpdateLayeredWindow was last given: rows top-down, 0xAARRGGBB (premultiplied
  // where the caller premultiplied).
  struct Picture {
    int width = 0;
    int height = 0;
    std::vector<DWORD> argb;
    DWORD At(int x, int y) const {
      return argb[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
    }
  };
  // A "tooltips_class32" window as its messages left it.
  struct Tip {
    HWND owner = nullptr;
    DWORD style = 0;
    int tools = 0;
    UINT toolFlags = 0;
    UINT_PTR toolId = 0;
    UINT toolRecordSize = 0;  // cbSize of the last tool record
    std::wstring text;
    std::wstring title;
    int titleIcon = 0;
    int maxWidth = -1;
    POINT track{0, 0};
    bool active = false;
  };

  explicit Screen(Machine& m);
  Screen(const Screen&) = delete;
  Screen& operator=(const Screen&) = delete;

  // How "layered" records name a picture ("look 2"); empty or unset: by its centre pixel.
  using PictureNamer = std::function<std::wstring(const Picture&)>;
  void SetPictureNamer(PictureNamer namer);

  // SPI_GETWORKAREA: the screen less the taskbar of the machine's appearance.
  RECT WorkArea() const;

  // ---- Placement ----
  std::optional<RECT> Rect(HWND h) const;
  void SetRect(HWND h, const RECT& r);
  void SetTopmost(HWND h, bool topmost);
  bool IsTopmost(HWND h) const;
  void SetPicture(HWND h, Picture picture);
  std::optional<Picture> PictureOf(HWND h) const;

  // ---- Capture: one window per session, held for one thread ----
  // Returns the previous holder (any thread's).
  HWND SetCapture(DWORD sessionId, DWORD threadId, HWND h);
  // The session's capture window when `threadId` holds it.
  HWND Capture(DWORD sessionId, DWORD threadId) const;
  // Clears the capture held by the thread; returns the window that had it.
  HWND ReleaseCapture(DWORD sessionId, DWORD threadId);

  // ---- Tooltips ----
  // Runs `f` on the tooltip's record under the lock (it must call nothing else).
  template <typename F>
  auto WithTip(HWND h, F&& f) {
    std::lock_guard lk(m_mu);
    return f(m_tips[h]);
  }
  std::optional<Tip> TipOf(HWND h) const;
  void ForgetTip(HWND h);
  // The window procedure of "tooltips_class32" (registered by InitCommonControlsEx).
  static LRESULT CALLBACK TooltipProc(HWND h, UINT msg, WPARAM wp, LPARAM lp);

  // ---- The user's left mouse button ----
  // The cursor moves to `p` (screen coordinates) and the capture window of the session, or
  // else the top-most visible placed window under `p`, gets WM_LBUTTONDOWN, WM_MOUSEMOVE or
  // WM_LBUTTONUP (client coordinates, MK_LBUTTON while down) as posted input. False when no
  // window took it.
  bool PressLeft(DWORD sessionId, POINT p);
  bool MoveMouse(DWORD sessionId, POINT p);
  bool ReleaseLeft(DWORD sessionId, POINT p);
  // The visible placed window of the session under `p`: top-most ones first, then the
  // newest.
  HWND WindowAt(DWORD sessionId, POINT p) const;

 private:
  struct Placement {
    RECT rect{0, 0, 0, 0};
    bool topmost = false;
    std::optional<Picture> picture;
  };
  struct CaptureHolder {
    HWND hwnd = nullptr;
    DWORD threadId = 0;
  };
  bool Mouse(DWORD sessionId, POINT p, UINT msg, WPARAM keys);

  Machine& m_machine;
  mutable std::mutex m_mu;  // a leaf: nothing is called while it is held
  std::map<HWND, Placement> m_places;
  std::map<DWORD, CaptureHolder> m_capture;
  std::map<HWND, Tip> m_tips;
  PictureNamer m_namer;
};

}  // namespace sim
