// The start-up sequence, wizards and enrollment reminders.
// A mixin of the main window: it receives the window's events in chain order and hands them
// to CUXLogic. The window provides `Process()`, `SetMsgHandled` and `UXHost()` (IUXHost&).
// The user-changed event ends here; the others go on down the chain.
#pragma once

#include <memory>

#include "core/message_map.h"
#include "core/messages.h"
#include "policy/ux_logic.h"
#include "policy/ux_machine_environment.h"
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
  // triggered it). 1 when nothing was shown.
  int RunWizardsAtRuntimeIfNeeded(ULONGLONG mask) {
    return UXLogic().RunWizardsAtRuntimeIfNeeded(mask);
  }

  // Made at first use: the window's process is not there yet while this base is built.
  CUXLogic& UXLogic() {
    if (!m_logic) {
      m_environment = std::make_unique<CUXMachineEnvironment>(Self().Process());
      m_logic = std::make_unique<CUXLogic>(Self().Process(), Self().UXHost(), *m_environment);
    }
    return *m_logic;
  }

 protected:
  T& Self() { return static_cast<T&>(*this); }

 private:
  VD_TRACED_EVENT(OnReady, "CUXHandler<class CVdAgentMain>::OnReady")

  LRESULT OnSessionChange(UINT, WPARAM wParam, LPARAM) {
    VDTraceNS::CScope ts("CUXHandler<class CVdAgentMain>::OnSessionChange");
    Self().SetMsgHandled(FALSE);
    UXLogic().OnSessionChange(wParam);
    return 0;
  }
  LRESULT OnUserChanged(UINT, WPARAM, LPARAM) {
    VDTraceNS::CScope ts("CUXHandler<class CVdAgentMain>::OnUserChanged");
    UXLogic().ShowStartupUI();
    return 0;
  }
  LRESULT OnPolicyChanged(UINT, WPARAM, LPARAM) {
    VDTraceNS::CScope ts("CUXHandler<class CVdAgentMain>::OnPolicyChanged");
    Self().SetMsgHandled(FALSE);
    UXLogic().OnPolicyChanged();
    return 0;
  }

  std::unique_ptr<CUXMachineEnvironment> m_environment;
  std::unique_ptr<CUXLogic> m_logic;
};
