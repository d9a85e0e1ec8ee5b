// The avatar: a small top-most picture with per-pixel alpha that pops up in one of four
// looks for a finger touch or an action, hides itself after a few seconds, can be dragged
// with the left button (its corner is remembered per user), and for one look shows a
// balloon with an explanatory text.
//
//   tray::CAvatarWindow avatar(plat, module, [&](UINT id) { return strings.String(id); });
//   if (SUCCEEDED(avatar.Create()))                     // E_FAIL: no usable picture
//     ui.PostMessageW(avatar.m_hWnd, tray::kAvatarMessage, 3, 14);   // look 3, result 14
//
// Everything here runs on the thread that created the window; looks arrive as posted
// messages (kAvatarMessage: wParam the look's code, lParam the result code).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "core/window_impl.h"
#include "platform/platform.h"
#include "tray/avatar_balloon.h"
#include "tray/avatar_drawing.h"
#include "tray/avatar_rules.h"

namespace tray {

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

}  // namespace tray
