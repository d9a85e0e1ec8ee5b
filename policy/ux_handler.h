// The start-up sequence, wizards and enrollment reminders.
// A mixin of the main window: it receives the window's events in chain order.
#pragma once

#include "core/message_map.h"
#include "core/messages.h"
#include "support/trace/trace.h"

template <class T>
class CUXHandler {
 public:
  VD_BEGIN_MSG_MAP()
    VD_MESSAGE_HANDLER(uMsg == core::WM_VD_READY, OnReady)
    VD_MESSAGE_HANDLER(uMsg == WM_WTSSESSION_CHANGE, OnSessionChange)
    VD_MESSAGE_HANDLER(uMsg == core::WM_VD_USER_CHANGED, OnUserChanged)
    VD_MESSAGE_HANDLER(uMsg == core::WM_VD_POLICY_CHANGED, OnPolicyChanged)
  VD_END_MSG_MAP()

 protected:
  T& Self() { return static_cast<T&>(*this); }

 private:
  LRESULT OnReady(UINT, WPARAM, LPARAM) {
    VDTraceNS::CScope ts("CUXHandler<class CVdAgentMain>::OnReady");
    Self().SetMsgHandled(FALSE);
    return 0;
  }
  LRESULT OnSessionChange(UINT, WPARAM, LPARAM) {
    VDTraceNS::CScope ts("CUXHandler<class CVdAgentMain>::OnSessionChange");
    Self().SetMsgHandled(FALSE);
    return 0;
  }
  LRESULT OnUserChanged(UINT, WPARAM, LPARAM) {
    VDTraceNS::CScope ts("CUXHandler<class CVdAgentMain>::OnUserChanged");
    return 0;
  }
  LRESULT OnPolicyChanged(UINT, WPARAM, LPARAM) {
    VDTraceNS::CScope ts("CUXHandler<class CVdAgentMain>::OnPolicyChanged");
    Self().SetMsgHandled(FALSE);
    return 0;
  }
};
