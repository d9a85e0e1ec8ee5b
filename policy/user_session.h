// The signed-in Windows user and the credential types the user has enrolled, learnt from the
// authentication library synchronously and through asynchronous enrollment queries whose
// replies arrive as the window messages 1624 + token index.
//
//   CUserSession session(process, host);        // a member of the handler mixin
//   session.OnReady(hWnd);                      // sets the user, posts 1724, fetches
//   if (session.UserHasCredentials(0x2)) ...    // fingerprint enrolled
//
// In a kiosk session the kiosk handler owns the user and this stays passive. Everything
// runs on the main window's thread, so nothing here needs a lock.
#pragma once

#include <map>

#include "auth/user.h"
#include "core/agent_process.h"
#include "policy/fetch_stamp.h"
#include "policy/policy.h"
#include "support/event_log.h"

// What the session logic needs from elsewhere; the main window implements it.
class IUserSessionHost {
 public:
  virtual ~IUserSessionHost() = default;
  // The kiosk handler's kiosk-session test.
  virtual bool IsKioskSession() = 0;
  // The start-up sequence's password-reset check for `user`.
  virtual void CheckUserPasswordReset(const CUser& user) = 0;
  // The policy handler's policy, refreshed first.
  virtual CPolicy RefreshedPolicy() = 0;
};

class CUserSession {
 public:
  // Reply messages 1624 .. 1723: one per token index below this.
  static constexpr UINT kMaxPromises = 100;

  CUserSession(core::CAgentProcess& process, IUserSessionHost& host);
  ~CUserSession();
  CUserSession(const CUserSession&) = delete;
  CUserSession& operator=(const CUserSession&) = delete;

  // Ready: the Windows user; when it changed, stored, announced (1724) and its credentials
  // fetched afresh.
  void OnReady(HWND hWnd);
  // A log-off is recorded only when it happens (wParam TRUE), not when another program
  // cancelled it.
  void OnEndSession(WPARAM wParam, LPARAM lParam);
  void OnSessionChange(WPARAM code);
  void OnVDSettingsChanged();
  // 1624 .. 1723. The caller consumes the message with the result 0 whatever happens. The
  // reply behind lParam is read only for a promise that waits for it: any program can post
  // these numbers. (A forged message that matches a pending promise is still read.)
  void OnTokenEnrollmentReport(UINT uMsg, WPARAM wParam, LPARAM lParam);

  // Reused for one minute after a fetch (then `reset` has no effect); `reset` drops the
  // outstanding queries.
  void FetchUserCredentials(bool reset);
  // Every bit of `mask` is enrolled.
  bool UserHasCredentials(ULONGLONG mask) const;
  // The refreshed policy is satisfied by the enrolled credentials.
  bool UserHasEnoughCredentials();
  // Outstanding asynchronous queries.
  size_t PendingQueries() const;

  const CUser& User() const { return m_user; }
  ULONGLONG EnrolledCredentials() const { return m_uEnrolledCredentials; }
  // Releases the outstanding queries; safe to run twice.
  void Dispose();

 private:
  struct Promise {
    ULONGLONG mask = 0;
    HVDFPASYNCCALL call = nullptr;
  };

  void SetUser(CUser user);
  void ClearPromises();

  core::CAgentProcess& m_process;
  IUserSessionHost& m_host;
  HWND m_hWnd = nullptr;
  CUser m_user;
  ULONGLONG m_uEnrolledCredentials = 0;
  CFetchStamp m_credentialsStamp;
  std::map<UINT, Promise> m_promises;
  CVDLog m_log;
};
