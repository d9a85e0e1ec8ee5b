// The balloon beside the avatar.
//
//   tray::CAvatarBallon balloon(plat, avatarWindow, module);
//   if (balloon.Create()) balloon.Show(text, tipPoint);
//   balloon.Hide();                                   // the tooltip window goes
#pragma once

#include <string>

#include "platform/platform.h"
#include "tray/close_tooltip_ctrl.h"

namespace tray {

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

}  // namespace tray
