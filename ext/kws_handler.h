// The password-manager fill-in component and its replies.
// A mixin of the main window: it receives the window's events in chain order.
#pragma once

#include "core/message_map.h"
#include "core/messages.h"
#include "support/trace/trace.h"

template <class T>
class CKwsHandler {
 public:
  VD_BEGIN_MSG_MAP()
    VD_MESSAGE_HANDLER(uMsg == core::WM_VD_READY, OnReady)
    VD_MESSAGE_HANDLER(uMsg == WM_DESTROY || uMsg == WM_ENDSESSION, OnDestroy)
    VD_MESSAGE_HANDLER(uMsg == core::WM_VD_KWS, OnKwsMessage)
  VD_END_MSG_MAP()

  // Releases what the handler holds; safe to run twice (end of session, then destroy).
  void Dispose() { VDTraceNS::CScope ts("CKwsHandler<class CVdAgentMain>::Dispose"); }

 protected:
  T& Self() { return static_cast<T&>(*this); }

 private:
  VD_TRACED_EVENT(OnReady, "CKwsHandler<class CVdAgentMain>::OnReady")
  VD_DISPOSE_ON_DESTROY(OnDestroy)
  VD_TRACED_OWN_MESSAGE(OnKwsMessage, "CKwsHandler<class CVdAgentMain>::OnKwsMessage")
};
