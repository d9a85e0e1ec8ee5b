// The start-up prompts shown before Windows 8 in place of notifications: modal dialogs from
// the templates of the agent's resource module (policy/prompt_resources.h), each owned by a
// hidden top-level window of the class "VDInvisibleParent" made for it and destroyed (its
// class unregistered) afterwards. The taskbar gets the focus before a prompt. When the
// do-not-ask-again box (1021) is checked as the dialog closes, the prompt writes its value.
//
//   CAskUserToRegisterAtStartDlg dlg(process, resources);
//   if (dlg.DoModal() == IDOK) ... run "EnrollCredentials" ...
//
// Window thread. DoModal returns the button's code (IDOK accepted, IDCANCEL declined), or -1
// when the dialog could not be shown (traced).
#pragma once

#include "core/agent_process.h"

// Enrollment required or recommended. Checked box: "ShowUserWizard" = 0 (section "Agent").
// Its message changes with the "Classic Home" edition; it plays the training video named by
// HKLM "SOFTWARE\Veridane\Applications\RegWiz\TrainingVideo" "DevModalitySwipe" (32-bit view).
class CAskUserToRegisterAtStartDlg {
 public:
  CAskUserToRegisterAtStartDlg(core::CAgentProcess& process, HINSTANCE resources);
  INT_PTR DoModal();

 private:
  core::CAgentProcess& m_process;
  HINSTANCE m_resources;
};

// Fingerprint enrollment recommended. Checked box: "UserFPDoNotBotherAgain" = 1 ("Agent").
class CAskUserToRegisterDlg {
 public:
  CAskUserToRegisterDlg(core::CAgentProcess& process, HINSTANCE resources);
  INT_PTR DoModal();

 private:
  core::CAgentProcess& m_process;
  HINSTANCE m_resources;
};

// Fingerprint re-enrollment. Checked box: "ReenrollmentPromptDoNotBotherAgain" = 1; the box
// starts checked when the value is set already.
class CReenrollmentPromptDlg {
 public:
  CReenrollmentPromptDlg(core::CAgentProcess& process, HINSTANCE resources);
  INT_PTR DoModal();

 private:
  core::CAgentProcess& m_process;
  HINSTANCE m_resources;
};
