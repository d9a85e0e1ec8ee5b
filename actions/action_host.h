// What the quick actions need from the rest of the agent: the kiosk and user-session
// handlers, the password manager, the reader and start-up tests, the fingerprint identity
// operations, the tray and the window's task queue. The main window implements it by calling
// the real subsystems; tests give a fake.
//
//   class CVdAgentMain : ..., public IActionHost { ... };
//   CQuickActions actions(process, /*host*/ *this);
//
// Every method is called on the main window's thread.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "auth/credential.h"
#include "auth/user.h"
#include "platform/win_types.h"
#include "support/vdfp/vdfpapi_types.h"

// A balloon for the tray's notification queue. `onClick` is empty when a click does nothing.
struct CActionBalloon {
  std::wstring title;
  std::wstring message;
  DWORD infoFlags = 1;  // NIIF_INFO
  UINT timeoutMs = 0;   // 0: the queue's default
  std::function<void()> onClick;
};

class IActionHost {
 public:
  virtual ~IActionHost() = default;

  // ---- Kiosk and session user ----
  virtual bool IsKioskSession() = 0;
  virtual CUser KioskUser() = 0;
  // Makes `user` the session's kiosk user; `runScript` runs the administrator's unlock script.
  virtual void ChangeKioskUser(const CUser& user, bool runScript, DWORD processId) = 0;
  // The user-session handler's current user.
  virtual CUser SessionUser() = 0;
  virtual bool UserHasCredentials(ULONGLONG mask) = 0;
  // The user's logon policy as one credential mask (every rule's bits); empty on failure.
  virtual std::optional<ULONGLONG> FetchUserPolicy(const CUser& user) = 0;
  // The fast-user-switch record "VD_FUS_DATA" the logon component reads, built from the
  // credential's data and the account name (CCredential::ShareFUSData / ClearFUSData).
  virtual HRESULT ShareFUSData(const CCredential& credential, const std::wstring& accountName) = 0;
  virtual HRESULT ClearFUSData(const CCredential& credential) = 0;

  // ---- Password manager ----
  // VDKWSCommand through the password-manager handler; 0x8000000E when it is not running.
  virtual HRESULT KwsCommand(DWORD code, ULONG_PTR param, DWORD* result) = 0;
  // 1 is "Act.Trained".
  virtual DWORD KwsFeedbackState() = 0;
  virtual void SetLockAfterFillIn(bool lock) = 0;
  // The password manager's process-wide object can be created.
  virtual bool IsPasswordManagerInstalled() = 0;

  // ---- Readers, start-up sequence, modal state ----
  virtual bool HasWBFReader() = 0;
  virtual bool IsThereWorkingFpReader() = 0;
  virtual bool IsMachineConfigured() = 0;
  virtual bool IsUserAdministrator() = 0;
  // 1 when no wizard was shown.
  virtual int RunWizardsAtRuntimeIfNeeded(ULONGLONG mask) = 0;
  virtual bool ModalMode() = 0;
  // Runs the dashboard launcher bound to `finger`; raises CResultError when none applies.
  virtual void PerformLauncher(LONG finger) = 0;
  // The avatar feedback window; null when there is none.
  virtual HWND FeedbackWindow() = 0;

  // ---- Fingerprint identity operations ----
  virtual bool VerifyUser(const CUser& user, const CCredential& credential) = 0;
  virtual CUser IdentifyUser(const CCredential& credential) = 0;
  // An authentication handle the caller owns, or null.
  virtual HVDFPAUTHENTICATION Authenticate(const CUser& user, const CCredential& credential) = 0;

  // ---- Tray ----
  virtual void ShowTrayIcon(bool readerPresent) = 0;
  virtual void Notify(const CActionBalloon& balloon) = 0;
  // A text of the resource module, by number.
  virtual std::wstring ResourceString(UINT id) = 0;

  // ---- The window ----
  virtual HWND Window() = 0;
  virtual void Post(std::function<void()> task) = 0;
  // The window's task queue (core/post_task_handler.h): true from the task ends it.
  virtual UINT Schedule(UINT delayMs, std::function<bool(UINT)> task) = 0;
  virtual void CancelSchedule(UINT id) = 0;
};
