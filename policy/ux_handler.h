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

  // Runs the wizard or reminder a reader event calls for (`mask`: the credential type that
  // triggered it). 1 when nothing was shown. No wizard exists in this build yet, so nothing
  // is shown.
  int RunWizardsAtRuntimeIfNeeded(ULONGLONG mask) {
    VDTraceNS::CScope ts("CUXHandler<class CVdAgentMain>::RunWizardsAtRuntimeIfNeeded");
    ts.Msg("mask = 0x%llX", static_cast<unsigned long long>(mask));
    return 1;
  }

 protected:
  T& Self() { return static_cast<T&>(*this); }

 private:
  VD_TRACED_EVENT(OnReady, "CUXHandler<class CVdAgentMain>::OnReady")
  VD_TRACED_EVENT(OnSessionChange, "CUXHandler<class CVdAgentMain>::OnSessionChange")
  VD_TRACED_OWN_MESSAGE(OnUserChanged, "CUXHandler<class CVdAgentMain>::OnUserChanged")
  VD_TRACED_EVENT(OnPolicyChanged, "CUXHandler<class CVdAgentMain>::OnPolicyChanged")
};
