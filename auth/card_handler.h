// Smart, contactless and proximity cards: identification, quick actions and lock on removal.
// A mixin of the main window: it receives the window's events in chain order.
#pragma once

#include "core/message_map.h"
#include "core/messages.h"
#include "support/trace/trace.h"

template <class T>
class CCardHandler {
 public:
  VD_BEGIN_MSG_MAP()
    VD_MESSAGE_HANDLER(uMsg == core::WM_VD_READY, OnReady)
    VD_MESSAGE_HANDLER(uMsg == WM_DESTROY, OnDestroy)
    VD_MESSAGE_HANDLER(uMsg == WM_WTSSESSION_CHANGE, OnSessionChange)
    VD_MESSAGE_HANDLER(uMsg == core::WM_VD_CARD, OnCardMessage)
  VD_END_MSG_MAP()

  // Releases what the handler holds; safe to run twice (end of session, then destroy).
  void Dispose() { VDTraceNS::CScope ts("CCardHandler<class CVdAgentMain>::Dispose"); }

 protected:
  T& Self() { return static_cast<T&>(*this); }

 private:
  LRESULT OnReady(UINT, WPARAM, LPARAM) {
    VDTraceNS::CScope ts("CCardHandler<class CVdAgentMain>::OnReady");
    Self().SetMsgHandled(FALSE);
    return 0;
  }
  // WM_ENDSESSION with wParam FALSE: the session goes on, nothing to release.
  LRESULT OnDestroy(UINT uMsg, WPARAM wParam, LPARAM) {
    Self().SetMsgHandled(FALSE);
    if (uMsg == WM_ENDSESSION && !wParam) return 0;
    Dispose();
    return 0;
  }
  LRESULT OnSessionChange(UINT, WPARAM, LPARAM) {
    VDTraceNS::CScope ts("CCardHandler<class CVdAgentMain>::OnSessionChange");
    Self().SetMsgHandled(FALSE);
    return 0;
  }
  LRESULT OnCardMessage(UINT, WPARAM, LPARAM) {
    VDTraceNS::CScope ts("CCardHandler<class CVdAgentMain>::OnCardMessage");
    return 0;
  }
};
