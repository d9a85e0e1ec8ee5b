// The user's logon policy: fetched, cached and re-read when it changes.
// A mixin of the main window: it receives the window's events in chain order. The window
// provides `Process()` and `CurrentUser()` (the user-session handler's user).
#pragma once

#include "core/message_map.h"
#include "core/messages.h"
#include "policy/user_policy.h"
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

  // Releases what the handler holds; safe to run twice (end of session, then destroy).
  void Dispose() { VDTraceNS::CScope ts("CPolicyHandler<class CVdAgentMain>::Dispose"); }

  // The policy of `user` as the library gives it now (no reuse of the current policy yet).
  CPolicy FetchUserPolicy(const CUser& user) {
    return ::FetchUserPolicy(Self().Process().AuthLibrary(), user);
  }
  // Empty (shape 0) until the user is known.
  const CPolicy& CurrentPolicy() const { return m_policy; }

 protected:
  T& Self() { return static_cast<T&>(*this); }

 private:
  VD_TRACED_EVENT(OnReady, "CPolicyHandler<class CVdAgentMain>::OnReady")
  VD_DISPOSE_ON_DESTROY(OnDestroy)
  VD_TRACED_EVENT(OnSessionChange, "CPolicyHandler<class CVdAgentMain>::OnSessionChange")
  VD_TRACED_EVENT(OnSettingChange, "CPolicyHandler<class CVdAgentMain>::OnSettingChange")
  // The session's user changed: its policy becomes the current one, without comparing and
  // without announcing a policy change.
  LRESULT OnUserChanged(UINT, WPARAM, LPARAM) {
    VDTraceNS::CScope ts("CPolicyHandler<class CVdAgentMain>::OnUserChanged");
    Self().SetMsgHandled(FALSE);
    m_policy = FetchUserPolicy(Self().CurrentUser());
    return 0;
  }

  CPolicy m_policy;
};
