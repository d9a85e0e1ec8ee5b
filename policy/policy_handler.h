// The user's logon policy: fetched, cached and re-read when it changes.
// A mixin of the main window: it receives the window's events in chain order and hands them
// to CPolicyLogic, letting every one go on down the chain. The window provides `Process()`,
// `m_hWnd` and `PolicyHost()` (IPolicyHost&).
#pragma once

#include <exception>
#include <memory>

#include "core/message_map.h"
#include "core/messages.h"
#include "policy/policy_logic.h"
#include "support/trace/trace.h"

template <class T>
class CPolicyHandler {
 public:
  VD_BEGIN_MSG_MAP()
    VD_MESSAGE_HANDLER(uMsg == core::WM_VD_READY, OnReady)
    VD_MESSAGE_HANDLER(uMsg == WM_DESTROY, OnDestroy)
    VD_MESSAGE_HANDLER(uMsg == WM_WTSSESSION_CHANGE, OnSessionChange)
    VD_MESSAGE_HANDLER(uMsg == WM_SETTINGCHANGE, OnSettingChange)
    VD_MESSAGE_HANDLER(uMsg == core::WM_VD_USER_CHANGED, OnUserChanged)
  VD_END_MSG_MAP()

  // Closes the policy key and ends its watch; safe to run twice. Never throws.
  void Dispose() {
    try {
      Policy().Dispose();
    } catch (...) {
      VDTraceNS::CScope ts("CPolicyHandler<class CVdAgentMain>::Dispose");
      ts.Result("Dispose", E_FAIL);
    }
  }

  // `user`'s policy, reused for a minute after a fetch for the same user.
  CPolicy FetchUserPolicy(const CUser& user) { return Policy().FetchUserPolicy(user); }
  void RefreshPolicy() { Policy().RefreshPolicy(); }
  ULONGLONG GetSuggestedCredentials() { return Policy().GetSuggestedCredentials(); }
  // Empty (shape 0) until the user is known.
  const CPolicy& CurrentPolicy() { return Policy().CurrentPolicy(); }

  // Made at first use: the window's process is not there yet while this base is built.
  CPolicyLogic& Policy() {
    if (!m_logic) m_logic = std::make_unique<CPolicyLogic>(Self().Process(), Self().PolicyHost());
    return *m_logic;
  }

 protected:
  T& Self() { return static_cast<T&>(*this); }

 private:
  LRESULT OnReady(UINT, WPARAM, LPARAM) {
    VDTraceNS::CScope ts("CPolicyHandler<class CVdAgentMain>::OnReady");
    Self().SetMsgHandled(FALSE);
    Policy().OnReady(Self().m_hWnd);
    return 0;
  }
  LRESULT OnDestroy(UINT, WPARAM, LPARAM) {
    VDTraceNS::CScope ts("CPolicyHandler<class CVdAgentMain>::OnDestroy");
    Self().SetMsgHandled(FALSE);
    Dispose();
    return 0;
  }
  LRESULT OnSessionChange(UINT, WPARAM wParam, LPARAM) {
    Self().SetMsgHandled(FALSE);
    Policy().OnSessionChange(wParam);
    return 0;
  }
  LRESULT OnSettingChange(UINT, WPARAM, LPARAM lParam) {
    Self().SetMsgHandled(FALSE);
    Policy().OnSettingChange(lParam);
    return 0;
  }
  LRESULT OnUserChanged(UINT, WPARAM, LPARAM) {
    Self().SetMsgHandled(FALSE);
    Policy().OnUserChanged();
    return 0;
  }

  std::unique_ptr<CPolicyLogic> m_logic;
};
