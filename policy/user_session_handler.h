// The current user, the user's enrolled credentials and session events.
// A mixin of the main window: it receives the window's events in chain order.
#pragma once

#include "core/message_map.h"
#include "core/messages.h"
#include "support/trace/trace.h"

template <class T>
class CUserSessionHandler {
 public:
  VD_BEGIN_MSG_MAP()
    VD_MESSAGE_HANDLER(uMsg == core::WM_VD_READY, OnReady)
    VD_MESSAGE_HANDLER(uMsg == WM_ENDSESSION, OnEndSession)
    VD_MESSAGE_HANDLER(uMsg == WM_WTSSESSION_CHANGE, OnSessionChange)
    VD_MESSAGE_HANDLER(uMsg == Self().Process().Messages().vdSettingsChanged, OnVDSettingsChanged)
    VD_MESSAGE_HANDLER(uMsg >= core::WM_VD_TOKEN_REPORT_FIRST && uMsg <= core::WM_VD_TOKEN_REPORT_LAST, OnTokenEnrollmentReport)
  VD_END_MSG_MAP()

 protected:
  T& Self() { return static_cast<T&>(*this); }

 private:
  VD_TRACED_EVENT(OnReady, "CUserSessionHandler<class CVdAgentMain>::OnReady")
  VD_TRACED_EVENT(OnEndSession, "CUserSessionHandler<class CVdAgentMain>::OnEndSession")
  VD_TRACED_EVENT(OnSessionChange, "CUserSessionHandler<class CVdAgentMain>::OnSessionChange")
  VD_TRACED_EVENT(OnVDSettingsChanged, "CUserSessionHandler<class CVdAgentMain>::OnVDSettingsChanged")
  VD_TRACED_OWN_MESSAGE(OnTokenEnrollmentReport, "CUserSessionHandler<class CVdAgentMain>::OnTokenEnrollmentReport")
};
