#include "policy/ux_logic.h"

#include <string>

#include "auth/reader_environment.h"
#include "launch/launch_app.h"
#include "policy/startup_checks.h"
#include "support/editions/editions.h"
#include "support/result_error.h"
#include "support/settings/environment_utils.h"
#include "support/settings/logon_settings.h"
#include "support/settings/policy_settings.h"
#include "support/settings/settings_names.h"
#include "support/settings/settings_section.h"
#include "support/trace/trace.h"
#include "support/vdfp/vdfp_api.h"

namespace {

constexpr const wchar_t* kEnrollCredentials = L"EnrollCredentials";
constexpr const wchar_t* kRunSetupWizard = L"RunSetupWizard";
constexpr const wchar_t* kManageCredentials = L"ManageCredentials";
constexpr const wchar_t* kResetCredentials = L"ResetCredentials";
constexpr const wchar_t* kStartRecovery = L"StartRecovery";
constexpr const wchar_t* kDisableRegistrationAtLogon = L"DisableRegistrationAtLogon";

constexpr int kNothingShown = 1;
constexpr int kAbort = static_cast<int>(E_ABORT);

}  // namespace

CUXLogic::CUXLogic(core::CAgentProcess& process, IUXHost& host, IUXEnvironment& environment)
    : m_process(process), m_host(host), m_env(environment) {}

// ---- Events ----

void CUXLogic::OnSessionChange(WPARAM code) {
  if (code != WTS_SESSION_UNLOCK) return;
  if (RunResetUserEnrollmentIfNeeded() == kNothingShown) RunSpareKeyRecoveryIfNeeded();
}

void CUXLogic::ShowStartupUI() {
  VDTraceNS::CScope ts("CUXHandler<class CVdAgentMain>::ShowStartupUI");
  if (RunResetUserEnrollmentIfNeeded() != kNothingShown || m_bStartupScheduled) return;
  m_bStartupScheduled = true;
  m_uStartupTask = m_host.Schedule(kStartupPeriodMs, [this](UINT id) { return StartupTick(id); });
}

// ---- The start-up task and sequence ----

bool CUXLogic::StartupTick(UINT id) {
  VDTraceNS::CScope ts("[ShowStartupUI](CheckQuietTime)");
  QUERY_USER_NOTIFICATION_STATE state;
  try {
    state = m_env.CheckQuietTime();
  } catch (const CResultError& e) {
    // The shell could not say; ask again at the next tick.
    ts.Result("CheckQuietTime", e.Result());
    return false;
  }
  bool accepted = state == QUNS_ACCEPTS_NOTIFICATIONS || state == QUNS_APP;
  if (state == QUNS_QUIET_TIME) {
    accepted =
        CReaderEnvironment::IsMachineConfigured(m_process.Platform(), m_process.AuthLibrary());
    if (!accepted) {
      ts.Msg("OOBE period, slowing down timer.");
      m_host.Reschedule(id, kQuietTimePeriodMs);
      return false;
    }
  }
  if (!accepted) return false;
  ts.Msg("Notifications accepted, launching startup UI sequences");
  m_host.Post([this] { RunStartupSequence(); });
  m_bStartupScheduled = false;
  m_uStartupTask = 0;
  return true;
}

void CUXLogic::RunStartupSequence() {
  VDTraceNS::CScope ts("[ShowStartupUI](QUNS_ACCEPTS_NOTIFICATIONS)");
  RegisterLogon();
  RunSpareKeyRecoveryIfNeeded();
  if (RunUserWizardIfNeeded() != 0) RunReenrollmentPromptIfNeeded();
  if (m_env.IsHPImageReady() != 1) CKwAppSettings(m_process.Platform()).SetOOBEPassed();
}

// The environment function opens the operation's trace scope itself.
int CUXLogic::RegisterLogon() {
  m_nLogonCount = m_env.RegisterLogon();
  return m_nLogonCount;
}

// ---- Flows the logon component asked for ----

int CUXLogic::RunSpareKeyRecoveryIfNeeded() {
  VDTraceNS::CScope ts("CUXHandler<class CVdAgentMain>::RunSpareKeyRecoveryIfNeeded");
  if (m_host.IsKioskSession()) return kNothingShown;
  LogonSettings logon(m_process.Platform());
  if (logon.GetUlong(LogonSettings::kChangePolicy) != 0 &&
      (logon.GetUlong64() & kRecoveryMask) != 0) {
    m_host.RunCommand(kStartRecovery, 0);
    return 0;
  }
  return kNothingShown;
}

int CUXLogic::RunResetUserEnrollmentIfNeeded() {
  VDTraceNS::CScope ts("CUXHandler<class CVdAgentMain>::RunResetUserEnrollmentIfNeeded");
  if (!EDITIONS::IsInstalledProduct(m_process.Editions(), EDITIONS::kOemlineSecurityManager)) {
    ts.Msg("not Oemline product");
    return kNothingShown;
  }
  if (m_env.IsHPImageReady() == 1) {
    ts.Msg("HP Image is not ready");
    return kNothingShown;
  }
  if (!CReaderEnvironment::IsMachineConfigured(m_process.Platform(), m_process.AuthLibrary())) {
    ts.Msg("Machine is not configured");
    return kNothingShown;
  }
  if (m_process.NoWizardMode) {
    ts.Msg("-NoWizard");
    return 0;
  }
  if (LogonSettings(m_process.Platform()).GetUlong(LogonSettings::kResetSettings) != 0) {
    m_host.RunCommand(kResetCredentials, 0);
    return 0;
  }
  ts.Msg("no reset required");
  return kNothingShown;
}

// ---- Reminders ----

int CUXLogic::RunUserWizardIfNeeded() {
  VDTraceNS::CScope ts("CUXHandler<class CVdAgentMain>::RunUserWizardIfNeeded");
  if (m_process.NoWizardMode) {
    ts.Msg("-NoWizard");
    return kNothingShown;
  }
  if (IsLumeraStandaloneWksta(m_process)) {
    ts.Msg("-Mobile - no wizard");
    return kNothingShown;
  }
  if (!SelfEnrollmentAllowed()) {
    ts.Msg("Self-enrollment is disabled");
    return kNothingShown;
  }
  platform::IPlatform& plat = m_process.Platform();
  if (!CAgentSettings(plat).Get(SettingNames::Agent::kShowUserWizard)) {
    ts.Msg("ShowUserWizard=false");
    return kNothingShown;
  }
  {
    auto lib = GPO::PolicyLibrary(m_process.AuthLibrary());
    GPO::CPolicyItem item(lib, kDisableRegistrationAtLogon);
    if (SUCCEEDED(item.Query()) && GPO::get<bool>(item)) {
      ts.Msg("DisableRegistrationAtLogon=true");
      return kNothingShown;
    }
  }

  // Anything enrolled besides the password counts as a finished first enrollment.
  const bool complete =
      CKwAppSettings(plat).Get(SettingNames::KwAppSettings::kUserEnrollmentComplete) ||
      (m_host.EnrolledCredentials() & ~VDFP_CRED_PASSWORD) != 0;
  const bool enough = m_host.UserHasEnoughCredentials();
  // The reminder interval counts from the last time the policy was satisfied.
  if (enough) m_env.UpdateNaggingTimestamp();
  const ULONGLONG suggestion = m_host.GetSuggestedCredentials();

  if (!complete) return NotifyEnrollmentRecommended();
  if (!enough && !m_env.IsNaggingPostponed()) return NotifyEnrollmentRequired();
  if (suggestion != 0) return NotifyAdditionalCredentialsAvailable();
  return kNothingShown;
}

int CUXLogic::NotifyEnrollmentRequired() {
  VDTraceNS::CScope ts("CUXHandler<class CVdAgentMain>::NotifyEnrollmentRequired");
  if (IsWindows8OrLater()) {
    m_host.Notify(kTitleId, kEnrollTextId, kEnrollFlags, kEnrollCredentials,
                  ClickAction("[launch](NotifyEnrollmentRequired){}", kEnrollCredentials));
    ts.Msg("Required credentials toast sent");
    return 0;
  }
  if (ShowPrompt(UXPrompt::kAskUserToRegisterAtStart) != IDOK) return kNothingShown;
  return m_host.RunCommand(kEnrollCredentials, 0);
}

int CUXLogic::NotifyEnrollmentRecommended() {
  VDTraceNS::CScope ts("CUXHandler<class CVdAgentMain>::NotifyEnrollmentRecommended");
  if (IsWindows8OrLater()) {
    if (m_nLogonCount > 1) {
      ts.Msg("Silenced");
      return 0;
    }
    m_host.Notify(kTitleId, kEnrollTextId, kEnrollFlags, kRunSetupWizard,
                  ClickAction("[launch](NotifyEnrollmentRecommended){}", kRunSetupWizard));
    ts.Msg("Toast sent");
    return 0;
  }
  if (ShowPrompt(UXPrompt::kAskUserToRegisterAtStart) != IDOK) return kNothingShown;
  return m_host.RunCommand(kRunSetupWizard, 0);
}

int CUXLogic::NotifyAdditionalCredentialsAvailable() {
  VDTraceNS::CScope ts("CUXHandler<class CVdAgentMain>::NotifyAdditionalCredentialsAvailable");
  if (m_nLogonCount == 0) {
    ts.Msg("Postponed");
    return 0;
  }
  m_host.Notify(
      kTitleId, kAdditionalTextId, kAdditionalFlags, kManageCredentials,
      ClickAction("[launch](NotifyAdditionalCredentialsAvailable){}", kManageCredentials));
  return kNothingShown;
}

int CUXLogic::NotifyFingerprintEnrollmentRecommended() {
  VDTraceNS::CScope ts("CUXHandler<class CVdAgentMain>::NotifyFingerprintEnrollmentRecommended");
  const bool enough = m_host.UserHasEnoughCredentials();
  const bool password = m_host.UserHasCredentials(VDFP_CRED_PASSWORD);
  if (IsWindows8OrLater()) {
    m_host.Notify(kTitleId, kFingerprintTextId, kFingerprintFlags, std::wstring(),
                  [this, enough, password] { LaunchFingerprintEnrollment(enough, password); });
    return 0;
  }
  if (CAgentSettings(m_process.Platform()).Get(SettingNames::Agent::kUserFPDoNotBotherAgain)) {
    ts.Msg("UserFPDoNotBotherAgain set");
    return kNothingShown;
  }
  if (ShowPrompt(UXPrompt::kAskUserToRegister) != IDOK) return kNothingShown;
  LaunchFingerprintEnrollment(enough, password);
  return 0;
}

void CUXLogic::LaunchFingerprintEnrollment(bool enough, bool password) {
  VDTraceNS::CScope ts("[launch](NotifyEnrollmentRecommended){}");
  if (enough && password) {
    m_host.RunCommand(kEnrollCredentials, VDFP_CRED_FINGERPRINT);
    return;
  }
  m_host.FocusTaskbar();
  if (!m_host.LaunchApp(LAUNCHAPPID::Console, kSetupTileArgument)) ts.Result("LaunchApp", E_FAIL);
}

int CUXLogic::RunReenrollmentPromptIfNeeded() {
  VDTraceNS::CScope ts("CUXHandler<class CVdAgentMain>::RunReenrollmentPromptIfNeeded");
  if (m_host.IsKioskSession()) {
    ts.Msg("No support for Kiosk session");
    return kAbort;
  }
  if (IsLumeraStandaloneWksta(m_process)) {
    ts.Msg("Mobile - no reenrollment");
    return kAbort;
  }
  if (!SelfEnrollmentAllowed()) {
    ts.Msg("Self-enrollment is disabled");
    return kAbort;
  }
  if (CAgentSettings(m_process.Platform()).GetReenrollmentPromptDoNotBotherAgain()) {
    ts.Msg("Do not bother");
    return kAbort;
  }
  const std::wstring appId = EDITIONS::GetApplicationId(m_process.Editions());
  if (!appId.empty() && m_host.IsConsoleRunning(appId)) {
    ts.Msg("Dashboard already running");
    return kAbort;
  }

  const std::wstring sid = m_host.CurrentUser().Sid();
  if (sid.empty()) {
    ts.Result("No SID for the user", kAbort);
    return kAbort;
  }
  CVDFPApi& api = m_process.AuthLibrary();
  DWORD count = 0;
  CVDFPBuffer<VDFP_DEVICE_INFO> devices(api);
  HRESULT hr = api.VDFPEnumerateDevices(&count, devices.put());
  if (FAILED(hr) || !devices) {
    ts.Result("VDFPEnumerateDevices", FAILED(hr) ? hr : kAbort);
    return kAbort;
  }
  bool needed = false;
  for (DWORD i = 0; i < count && !needed; ++i) {
    CVDFPBuffer<VDFP_DEVICE_USER_INFO_3> info(api);
    hr = api.VDFPGetDeviceInfo(devices[i].DeviceId, VDFP_DEVICE_USER_INFO_CLASS, sid.c_str(),
                               VDFP_NAME_SID, info.put());
    if (FAILED(hr)) {
      ts.Result("VDFPGetDeviceInfo", hr);
      continue;
    }
    // Only the first value is the library's promise; nothing beyond it is read.
    needed = info && info->dwReenrollmentNeeded != 0;
  }
  devices.reset();
  if (!needed) return kAbort;
  if (ShowPrompt(UXPrompt::kReenrollment) != IDOK) return kNothingShown;
  return m_host.RunCommand(kEnrollCredentials, VDFP_CRED_FINGERPRINT);
}

int CUXLogic::RunWizardsAtRuntimeIfNeeded(ULONGLONG mask) {
  VDTraceNS::CScope ts("CUXHandler<class CVdAgentMain>::RunWizardsAtRuntimeIfNeeded");
  if (m_host.IsKioskSession()) {
    ts.Msg("No wizards for kiosk users");
    return kNothingShown;
  }
  if (IsLumeraStandaloneWksta(m_process)) {
    ts.Msg("-Mobile - no wizard");
    return kNothingShown;
  }
  if (!SelfEnrollmentAllowed()) {
    ts.Msg("Self-enrollment is disabled");
    return kNothingShown;
  }
  if (!m_host.UserHasEnoughCredentials()) return NotifyEnrollmentRequired();
  if (mask == VDFP_CRED_FINGERPRINT &&
      !CReaderEnvironment::HasWBFReader(m_process.Platform(), m_process.AuthLibrary())) {
    if (!m_host.UserHasCredentials(VDFP_CRED_FINGERPRINT))
      return NotifyFingerprintEnrollmentRecommended();
    const int result = RunReenrollmentPromptIfNeeded();
    if (result >= 0) return result;
  }
  return kNothingShown;
}

// ---- Helpers ----

bool CUXLogic::IsWindows8OrLater() {
  OSVERSIONINFOEXW v{};
  v.dwOSVersionInfoSize = sizeof(v);
  if (!m_process.Platform().Kernel().GetVersionExW(&v)) return true;
  return v.dwMajorVersion > 6 || (v.dwMajorVersion == 6 && v.dwMinorVersion >= 2);
}

bool CUXLogic::SelfEnrollmentAllowed() {
  auto lib = GPO::PolicyLibrary(m_process.AuthLibrary());
  return CEnvironmentUtils::IsCredentialsSelfEnrollmentAllowed(lib, m_process.SelfEnrollment);
}

INT_PTR CUXLogic::ShowPrompt(UXPrompt prompt) {
  if (m_bPromptUp) {
    VDTraceNS::CScope ts("CUXHandler<class CVdAgentMain>::ShowPrompt");
    ts.Msg("A prompt is already up, this one is dropped");
    return -1;
  }
  m_bPromptUp = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{m_bPromptUp};
  return m_env.ShowPrompt(prompt, m_host.ResourceModule());
}

std::function<void()> CUXLogic::ClickAction(const char* scope, const wchar_t* command) {
  return [this, scope, command] {
    VDTraceNS::CScope ts(scope);
    m_host.RunCommand(command, 0);
  };
}
