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
  VD_TRACED_EVENT(OnReady, "CCardHandler<class CVdAgentMain>::OnReady")
  VD_DISPOSE_ON_DESTROY(OnDestroy)
  VD_TRACED_EVENT(OnSessionChange, "CCardHandler<class CVdAgentMain>::OnSessionChange")
  VD_TRACED_OWN_MESSAGE(OnCardMessage, "CCardHandler<class CVdAgentMain>::OnCardMessage")
};
