// The avatar: a small top-most picture with per-pixel alpha that pops up in one of four
// looks for a finger touch or an action, hides itself after a few seconds, can be dragged
// with the left button (its corner is remembered per user), and for one look shows a
// balloon with an explanatory text.
//
//   CGuideWindow guide(plat, module, [&](UINT id) { return strings.String(id); });
//   if (guide.MessageId())                                   // 0: the avatar is unusable
//     ui.PostMessageW(guide.Window(), guide.MessageId(), 3, 14);   // look 3, result 14
//
// Everything here runs on the thread that created the window; looks arrive as posted
// messages (kAvatarMessage: wParam the look's code, lParam the result code).
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/window_impl.h"
#include "platform/handles.h"
#include "platform/platform.h"

namespace tray {

// WM_USER + 301: show a look (wParam 0..3, lParam the result code for look 3).
inline constexpr UINT kAvatarMessage = WM_USER + 301;
inline constexpr UINT_PTR kAvatarHideTimer = 0x0FFF0001;
inline constexpr UINT kAvatarBitmap = 108;  // RT_BITMAP of the agent's module
inline constexpr UINT kDragHideMs = 2000;
inline constexpr wchar_t kAvatarClass[] = L"VD_GlobalAvatarIconClass";
inline constexpr wchar_t kAvatarTitle[] = L"VD_GlobalAvatarIcon";

// What a look shows and for how long.
struct AvatarLook {
  int frame = 0;
  UINT visibleMs = 0;
  bool balloon = false;  // look 3: the result code's text beside the avatar
};
// The look of code `code`; none for codes above 3.
std::optional<AvatarLook> LookFor(WPARAM code);
// The string of the resource module explaining result code `result` (114 to 117).
UINT BalloonStringFor(LPARAM result);
// `square` moved into `area`, right and bottom edges first, then left and top, so a square
// larger than the area keeps its left and top edges inside. An empty square, or one wholly
// inside, stays where it is.
RECT FitIntoWorkArea(const RECT& square, const RECT& area);
// Multiplies blue, green and red of each 32-bit pixel by its alpha (divided by 255).
void PremultiplyAlpha(BYTE* bits, size_t pixels);
// Where the balloon points: the avatar's centre (screen coordinates) moved a third of the
// side toward the middle of the full-screen area on each axis.
POINT BalloonTipPoint(POINT centre, int side, int fullWidth, int fullHeight);

// The picture: the strip of frames as a premultiplied 32-bit DIB in a memory DC.
class drawing_t {
 public:
  explicit drawing_t(platform::IPlatform& plat);
  ~drawing_t();
  drawing_t(const drawing_t&) = delete;
  drawing_t& operator=(const drawing_t&) = delete;

  // Loads bitmap 108 of `module` and premultiplies it (once); false when it has no pixels or
  // no size.
  bool load(HINSTANCE module);
  // The side of a frame and of the window: the smaller of the strip's width and height.
  int side() const { return m_side; }
  // Draws `frame` into the layered window; with `firstTime` places it from the saved corner
  // fitted into the work area, else where it is. Raises CResultError when the saved corner
  // cannot be read. Leaves no drawing object behind.
  void update_state(HWND window, int frame, bool firstTime);

 private:
  platform::IPlatform& m_plat;
  platform::UniqueBitmap m_bitmap;
  platform::UniqueMemoryDc m_dc;
  HGDIOBJ m_oldBitmap = nullptr;
  SIZE m_bounds{0, 0};
  int m_side = 0;
};

// A tooltip window subclassed so that a left click hides it and tells its owner.
class CCloseToolTipCtrl {
 public:
  explicit CCloseToolTipCtrl(platform::IUi& ui) : m_ui(ui) {}
  ~CCloseToolTipCtrl();
  CCloseToolTipCtrl(const CCloseToolTipCtrl&) = delete;
  CCloseToolTipCtrl& operator=(const CCloseToolTipCtrl&) = delete;

  // Creates the tooltip window owned by `owner` and subclasses it.
  bool Create(HWND owner, HINSTANCE module, DWORD style);
  void Destroy();
  // Sent to the owner after a click hid the tooltip; 0: none.
  void SetCloseNotification(UINT message) { m_closeMessage = message; }
  HWND Window() const { return m_hWnd; }

 private:
  static LRESULT CALLBACK SubclassProc(HWND h, UINT msg, WPARAM wp, LPARAM lp);

  platform::IUi& m_ui;
  HWND m_hWnd = nullptr;
  HWND m_owner = nullptr;
  WNDPROC m_previous = nullptr;
  UINT m_closeMessage = 0;
};

// The balloon beside the avatar: a tracking tooltip with one tool, made when shown.
class CAvatarBallon {
 public:
  CAvatarBallon(platform::IPlatform& plat, HWND owner, HINSTANCE module);
  // Creates the tooltip and its tool; false when the window could not be made.
  bool Create();
  // Points at `tip` (screen coordinates) with `text` and activates tracking.
  void Show(const std::wstring& text, POINT tip);
  // Deactivates tracking and destroys the tooltip window.
  void Hide();
  HWND Window() const { return m_tip.Window(); }

 private:
  TOOLINFOW ToolRecord(const std::wstring& text) const;

  platform::IPlatform& m_plat;
  HWND m_owner;
  HINSTANCE m_module;
  CCloseToolTipCtrl m_tip;
  std::wstring m_text;  // kept while the tooltip may read it
  std::wstring m_title;  // never set by the avatar
};

class CAvatarWindow : public core::CWindowImpl<CAvatarWindow> {
 public:
  // `strings`: a text of the resource module by number.
  using Strings = std::function<std::wstring(UINT)>;
  CAvatarWindow(platform::IPlatform& plat, HINSTANCE module, Strings strings);
  ~CAvatarWindow() override;

  // Makes the window, loads the picture and places it: S_OK, E_FAIL when the picture is
  // unusable (the window then stays hidden and unused), or the failure of a step. Raises
  // CResultError when the saved corner cannot be read.
  HRESULT Create();
  BOOL ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam,
                            LRESULT& result) override;

  bool IsDragging() const { return m_dragging; }
  bool HasBalloon() const { return m_balloon != nullptr; }
  HWND BalloonWindow() const { return m_balloon ? m_balloon->Window() : nullptr; }
  int Side() const { return m_picture.side(); }

  LRESULT OnFingerMessage(WPARAM code, LPARAM result);
  void OnHideTimer();
  void OnLButtonDown();
  void OnMouseMove();
  void OnLButtonUp();
  void OnClose();

 private:
  void ShowBalloon(const std::wstring& text);
  void HideBalloon();
  void RestartHideTimer(UINT ms);

  platform::IPlatform& m_plat;
  HINSTANCE m_module;
  Strings m_strings;
  drawing_t m_picture;
  int m_frame = 1;
  bool m_dragging = false;
  RECT m_dragRect{0, 0, 0, 0};
  POINT m_dragCursor{0, 0};
  std::unique_ptr<CAvatarBallon> m_balloon;
};

// Owns the avatar for the main window: the message to post is kAvatarMessage once the
// window exists and is usable, 0 otherwise.
class CGuideWindow {
 public:
  CGuideWindow(platform::IPlatform& plat, HINSTANCE module, CAvatarWindow::Strings strings);
  ~CGuideWindow();
  CGuideWindow(const CGuideWindow&) = delete;
  CGuideWindow& operator=(const CGuideWindow&) = delete;

  UINT MessageId() const { return m_messageId; }
  // The avatar window while it is usable, else null.
  HWND Window() const { return m_messageId ? m_avatar->m_hWnd : nullptr; }
  CAvatarWindow& Avatar() { return *m_avatar; }

 private:
  std::unique_ptr<CAvatarWindow> m_avatar;
  UINT m_messageId = 0;
};

}  // namespace tray
