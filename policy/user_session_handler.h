// The current user, the user's enrolled credentials and session events.
// A mixin of the main window: it receives the window's events in chain order and hands them
// to CUserSession. The window provides `Process()`, `m_hWnd` and `UserSessionHost()`
// (IUserSessionHost&).
#pragma once

#include <memory>

#include "core/message_map.h"
#include "core/messages.h"
#include "policy/user_session.h"

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

  // The session's user (the empty user until ready).
  const CUser& CurrentUser() { return Session().User(); }
  // Every credential type of `mask` is enrolled for the user.
  bool UserHasCredentials(ULONGLONG mask) { return Session().UserHasCredentials(mask); }
  // The credential types the user has enrolled.
  ULONGLONG EnrolledCredentials() { return Session().EnrolledCredentials(); }
  void FetchUserCredentials(bool reset) { Session().FetchUserCredentials(reset); }
  // The refreshed policy is satisfied by the enrolled credentials.
  bool UserHasEnoughCredentials() { return Session().UserHasEnoughCredentials(); }

 protected:
  T& Self() { return static_cast<T&>(*this); }

  CUserSession& Session() {
    if (!m_session) m_session = std::make_unique<CUserSession>(Self().Process(), Self().UserSessionHost());
    return *m_session;
  }

 private:
  LRESULT OnReady(UINT, WPARAM, LPARAM) {
    Self().SetMsgHandled(FALSE);
    Session().OnReady(Self().m_hWnd);
    return 0;
  }
  LRESULT OnEndSession(UINT, WPARAM wParam, LPARAM lParam) {
    Self().SetMsgHandled(FALSE);
    Session().OnEndSession(wParam, lParam);
    return 0;
  }
  LRESULT OnSessionChange(UINT, WPARAM wParam, LPARAM) {
    Self().SetMsgHandled(FALSE);
    Session().OnSessionChange(wParam);
    return 0;
  }
  LRESULT OnVDSettingsChanged(UINT, WPARAM, LPARAM) {
    Self().SetMsgHandled(FALSE);
    Session().OnVDSettingsChanged();
    return 0;
  }
  // Consumed with the result 0 in every case.
  LRESULT OnTokenEnrollmentReport(UINT uMsg, WPARAM wParam, LPARAM lParam) {
    Session().OnTokenEnrollmentReport(uMsg, wParam, lParam);
    return 0;
  }

  std::unique_ptr<CUserSession> m_session;
};
