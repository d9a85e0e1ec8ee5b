// When the agent may speak to the user after logon, and what it says: the start-up task waits
// until the shell accepts notifications, then one start-up sequence counts the logon, starts
// the recovery or reset flows the logon component asked for, and reminds the user to enroll
// what the logon policy requires or recommends (notifications from Windows 8 on, modal
// prompts before). Reader events at run time may offer fingerprint enrollment or
// re-enrollment.
//
//   CUXLogic ux(process, host, environment);   // a member of the UX handler mixin
//   ux.ShowStartupUI();                        // user changed: start-up task every 10 s
//   ux.RunUserWizardIfNeeded();                // policy changed
//   ux.RunWizardsAtRuntimeIfNeeded(0x2);       // a fingerprint reader event
//
// Results: the Run...IfNeeded and Notify... operations return 1 when they showed or started
// nothing, another value when they did (exceptions are noted). Window thread only. Settings
// reads that fail raise CResultError, to the task or window message that ran the step.
#pragma once

#include "core/agent_process.h"
#include "policy/ux_host.h"

class CUXLogic {
 public:
  static constexpr UINT kStartupPeriodMs = 10000;
  // While the shell is in its quiet time on a machine nobody configured yet.
  static constexpr UINT kQuietTimePeriodMs = 120000;
  static constexpr ULONGLONG kRecoveryMask = 0x48;  // spare key or recovery password
  // The console's setup tile, opened by the fingerprint reminder.
  static constexpr const wchar_t* kSetupTileArgument =
      L"-tile:72AF293F-9D47-4B71-9C71-97232B991A83";

  // Notification texts (string resources of the resource module) and flags.
  static constexpr UINT kTitleId = 131;
  static constexpr UINT kEnrollTextId = 197;
  static constexpr UINT kAdditionalTextId = 196;
  static constexpr UINT kFingerprintTextId = 124;
  static constexpr DWORD kEnrollFlags = 0x10002;
  static constexpr DWORD kAdditionalFlags = 0x10001;
  static constexpr DWORD kFingerprintFlags = 0x1;

  CUXLogic(core::CAgentProcess& process, IUXHost& host, IUXEnvironment& environment);
  CUXLogic(const CUXLogic&) = delete;
  CUXLogic& operator=(const CUXLogic&) = delete;

  // ---- Events ----
  // An unlock runs the reset flow, else the recovery flow.
  void OnSessionChange(WPARAM code);
  // User changed.
  void ShowStartupUI();
  // Policy changed: the reminders again.
  int OnPolicyChanged() { return RunUserWizardIfNeeded(); }

  // ---- Steps ----
  // One tick of the start-up task: true (done) once the sequence is posted.
  bool StartupTick(UINT id);
  void RunStartupSequence();
  int RegisterLogon();
  int RunSpareKeyRecoveryIfNeeded();
  int RunResetUserEnrollmentIfNeeded();
  int RunUserWizardIfNeeded();
  int NotifyEnrollmentRequired();
  int NotifyEnrollmentRecommended();
  // 1 also when the notice was sent.
  int NotifyAdditionalCredentialsAvailable();
  int NotifyFingerprintEnrollmentRecommended();
  // E_ABORT when no reader needs it or re-enrollment is not offered here.
  int RunReenrollmentPromptIfNeeded();
  int RunWizardsAtRuntimeIfNeeded(ULONGLONG mask);

  // ---- State ----
  int LogonCount() const { return m_nLogonCount; }
  bool StartupScheduled() const { return m_bStartupScheduled; }
  UINT StartupTaskId() const { return m_uStartupTask; }
  bool PromptUp() const { return m_bPromptUp; }

 private:
  // Windows 8 or later: notifications instead of prompts.
  bool IsWindows8OrLater();
  bool SelfEnrollmentAllowed();
  // Shows `prompt` unless another is up: a policy change or reader event inside a prompt's
  // modal loop must not stack a second one (it is dropped; the next event may show it).
  INT_PTR ShowPrompt(UXPrompt prompt);
  // The reminder's click action: traces `scope` and runs `command`.
  std::function<void()> ClickAction(const char* scope, const wchar_t* command);
  // The fingerprint reminder's launch.
  void LaunchFingerprintEnrollment(bool enough, bool password);

  core::CAgentProcess& m_process;
  IUXHost& m_host;
  IUXEnvironment& m_env;
  int m_nLogonCount = 0;
  bool m_bStartupScheduled = false;
  UINT m_uStartupTask = 0;
  bool m_bPromptUp = false;
};
