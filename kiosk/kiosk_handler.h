// Kiosk sessions: the identified person, unlock scripts and the fast-user-switch hand-over.
// A mixin of the main window: it receives the window's events in chain order.
#pragma once

#include "core/message_map.h"
#include "core/messages.h"
#include "support/trace/trace.h"

template <class T>
class CKioskHandler {
 public:
  VD_BEGIN_MSG_MAP()
    VD_MESSAGE_HANDLER(uMsg == core::WM_VD_READY, OnReady)
    VD_MESSAGE_HANDLER(uMsg == WM_ENDSESSION, OnEndSession)
    VD_MESSAGE_HANDLER(uMsg == WM_WTSSESSION_CHANGE, OnSessionChange)
  VD_END_MSG_MAP()

 protected:
  T& Self() { return static_cast<T&>(*this); }

 private:
  LRESULT OnReady(UINT, WPARAM, LPARAM) {
    VDTraceNS::CScope ts("CKioskHandler<class CVdAgentMain>::OnReady");
    Self().SetMsgHandled(FALSE);
    return 0;
  }
  LRESULT OnEndSession(UINT, WPARAM, LPARAM) {
    VDTraceNS::CScope ts("CKioskHandler<class CVdAgentMain>::OnEndSession");
    Self().SetMsgHandled(FALSE);
    return 0;
  }
  LRESULT OnSessionChange(UINT, WPARAM, LPARAM) {
    VDTraceNS::CScope ts("CKioskHandler<class CVdAgentMain>::OnSessionChange");
    Self().SetMsgHandled(FALSE);
    return 0;
  }
};
