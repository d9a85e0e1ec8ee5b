// What the start-up sequence and the reminders ask of the rest of the agent.
//
//   IUXHost: the window and the other subsystems (task queue, tray notifications, console
//            commands, the user session, the kiosk handler). The main window implements it.
//   IUXEnvironment: the first-use image state, the logon count, reminder postponement, quiet
//            time and the three prompt dialogs (policy/ux_environment.h, policy/prompts.h).
//            CUXMachineEnvironment is the agent's own; tests put a fake in its place.
//
// Window thread only.
#pragma once

#include <functional>
#include <string>

#include "auth/user.h"
#include "platform/win_types.h"

class IUXHost {
 public:
  virtual ~IUXHost() = default;

  // ---- The window's task queue ----
  virtual void Post(std::function<void()> task) = 0;
  // A task run every `periodMs` until it returns true; its identifier.
  virtual UINT Schedule(UINT periodMs, std::function<bool(UINT)> task) = 0;
  // Changes the period of a scheduled task.
  virtual void Reschedule(UINT id, UINT periodMs) = 0;
  virtual void CancelSchedule(UINT id) = 0;

  // ---- Tray ----
  // A notification of two resource texts. `command` is the argument a toast hands back when
  // activated; `onClick` runs when the user clicks the balloon.
  virtual void Notify(UINT titleId, UINT textId, DWORD flags, const std::wstring& command,
                      std::function<void()> onClick) = 0;

  // ---- Console ----
  // One of the console commands "EnrollCredentials", "RunSetupWizard", "ManageCredentials",
  // "ResetCredentials" and "StartRecovery"; `mask` names the credential type for
  // "EnrollCredentials" (0: none). The command's result.
  virtual HRESULT RunCommand(const std::wstring& word, ULONGLONG mask) = 0;
  // LAUNCHAPPID::LaunchApp: application `appId` with `arguments`; true when it started.
  virtual bool LaunchApp(int appId, const std::wstring& arguments) = 0;
  virtual void FocusTaskbar() = 0;
  // The console already runs for the application identifier `appId` (not empty).
  virtual bool IsConsoleRunning(const std::wstring& appId) = 0;

  // ---- The user session ----
  virtual CUser CurrentUser() = 0;
  virtual ULONGLONG EnrolledCredentials() = 0;
  virtual bool UserHasEnoughCredentials() = 0;
  virtual bool UserHasCredentials(ULONGLONG mask) = 0;
  // The policy's credential types not suggested last time; remembers the current ones.
  virtual ULONGLONG GetSuggestedCredentials() = 0;
  virtual bool IsKioskSession() = 0;

  // The module that holds the prompts' templates and texts.
  virtual HINSTANCE ResourceModule() = 0;
};

// The prompts, by the dialog that shows them.
enum class UXPrompt {
  kAskUserToRegisterAtStart,  // CAskUserToRegisterAtStartDlg
  kAskUserToRegister,         // CAskUserToRegisterDlg
  kReenrollment,              // CReenrollmentPromptDlg
};

class IUXEnvironment {
 public:
  virtual ~IUXEnvironment() = default;
  // 0 no image, 1 image not ready, 2 image ready.
  virtual int IsHPImageReady() = 0;
  // The logon count, uncapped (the stored one is capped at 4).
  virtual int RegisterLogon() = 0;
  virtual bool IsNaggingPostponed() = 0;
  virtual void UpdateNaggingTimestamp() = 0;
  // Raises CResultError when the shell's query fails.
  virtual QUERY_USER_NOTIFICATION_STATE CheckQuietTime() = 0;
  // The dialog's result: IDOK accepted, IDCANCEL declined, -1 not shown.
  virtual INT_PTR ShowPrompt(UXPrompt prompt, HINSTANCE resources) = 0;
};
