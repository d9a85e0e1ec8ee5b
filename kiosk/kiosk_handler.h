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
  VD_TRACED_EVENT(OnReady, "CKioskHandler<class CVdAgentMain>::OnReady")
  VD_TRACED_EVENT(OnEndSession, "CKioskHandler<class CVdAgentMain>::OnEndSession")
  VD_TRACED_EVENT(OnSessionChange, "CKioskHandler<class CVdAgentMain>::OnSessionChange")
};
