// A tooltip window that a left click closes.
//
//   tray::CCloseToolTipCtrl tip(ui);
//   tip.Create(owner, module, WS_POPUP | TTS_BALLOON);   // subclassed from here on
//   tip.Destroy();
#pragma once

#include "platform/ui.h"

namespace tray {

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

}  // namespace tray
