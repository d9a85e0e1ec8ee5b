// Kiosk sessions: the identified person, unlock scripts and the fast-user-switch hand-over.
// A mixin of the main window: it receives the window's events in chain order and hands them
// to the kiosk logic, letting every one go on down the chain.
//
// The window provides `Process()`, `m_hWnd` and `EventLog()` (its CVDLog); the rest of the
// window reaches the logic through `KioskLogic()`.
#pragma once

#include <memory>

#include "core/message_map.h"
#include "core/messages.h"
#include "kiosk/kiosk_logic.h"

template <class T>
class CKioskHandler : private IKioskHost {
 public:
  VD_BEGIN_MSG_MAP()
  VD_MESSAGE_HANDLER(uMsg == core::WM_VD_READY, OnReady)
  VD_MESSAGE_HANDLER(uMsg == WM_ENDSESSION, OnEndSession)
  VD_MESSAGE_HANDLER(uMsg == WM_WTSSESSION_CHANGE, OnSessionChange)
  VD_END_MSG_MAP()

  // Made at first use: the window's process is not there yet while this base is built.
  CKioskSessionLogic& KioskLogic() {
    if (!m_kioskLogic) {
      IKioskHost& host = *this;
      m_kioskLogic = std::make_unique<CKioskSessionLogic>(Self().Process(), host);
    }
    return *m_kioskLogic;
  }

 protected:
  T& Self() { return static_cast<T&>(*this); }

 private:
  LRESULT OnReady(UINT, WPARAM, LPARAM) {
    Self().SetMsgHandled(FALSE);
    KioskLogic().OnReady();
    return 0;
  }
  LRESULT OnEndSession(UINT, WPARAM wParam, LPARAM lParam) {
    Self().SetMsgHandled(FALSE);
    KioskLogic().OnEndSession(wParam, lParam);
    return 0;
  }
  LRESULT OnSessionChange(UINT, WPARAM wParam, LPARAM) {
    Self().SetMsgHandled(FALSE);
    KioskLogic().OnSessionChange(wParam);
    return 0;
  }

  HWND KioskWindow() override { return Self().m_hWnd; }
  CVDLog& KioskEventLog() override { return Self().EventLog(); }

  std::unique_ptr<CKioskSessionLogic> m_kioskLogic;
};
