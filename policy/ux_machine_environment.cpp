#include "policy/ux_machine_environment.h"

#include "policy/prompts.h"
#include "policy/ux_environment.h"

int CUXMachineEnvironment::IsHPImageReady() { return ux_env::IsHPImageReady(m_process.Platform()); }

int CUXMachineEnvironment::RegisterLogon() { return ux_env::RegisterLogon(m_process); }

bool CUXMachineEnvironment::IsNaggingPostponed() { return ux_env::IsNaggingPostponed(m_process); }

void CUXMachineEnvironment::UpdateNaggingTimestamp() { ux_env::UpdateNaggingTimestamp(m_process); }

QUERY_USER_NOTIFICATION_STATE CUXMachineEnvironment::CheckQuietTime() {
  return ux_env::CheckQuietTime(m_process.Platform());
}

INT_PTR CUXMachineEnvironment::ShowPrompt(UXPrompt prompt, HINSTANCE resources) {
  switch (prompt) {
    case UXPrompt::kAskUserToRegisterAtStart:
      return CAskUserToRegisterAtStartDlg(m_process, resources).DoModal();
    case UXPrompt::kAskUserToRegister:
      return CAskUserToRegisterDlg(m_process, resources).DoModal();
    case UXPrompt::kReenrollment:
      return CReenrollmentPromptDlg(m_process, resources).DoModal();
  }
  return -1;
}
