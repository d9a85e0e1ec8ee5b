#include "actions/quick_actions.h"

#include <algorithm>
#include <cwctype>

#include "actions/quick_action_select.h"
#include "launch/commands.h"
#include "launch/fast_connect.h"
#include "platform/handles.h"
#include "support/registry_read.h"
#include "support/result_error.h"
#include "support/settings/environment_utils.h"
#include "support/settings/settings_names.h"
#include "support/settings/settings_section.h"
#include "support/trace/trace.h"

namespace {

constexpr HRESULT kNotSupported = static_cast<HRESULT>(0x80070032L);  // ERROR_NOT_SUPPORTED
constexpr DWORD kKwsQualityFeedback = 2;
constexpr DWORD kKwsPrepare = 5;
constexpr DWORD kKwsFillIn = 100;
constexpr const wchar_t* kFusEventName = L"{D61DE181-0214-4661-B256-4963D562E286}";
constexpr const wchar_t* kSystemPoliciesKey =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
constexpr const wchar_t* kWinlogonKey =
    L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";

bool IsCardCredential(ULONGLONG type) {
  return type == VDFP_CRED_SMARTCARD || type == VDFP_CRED_CONTACTLESS ||
         type == VDFP_CRED_PROXIMITY;
}

// Holds a process-wide flag for one scope.
class CFlagHolder {
 public:
  explicit CFlagHolder(bool& flag) : m_flag(flag) { m_flag = true; }
  ~CFlagHolder() { m_flag = false; }
  CFlagHolder(const CFlagHolder&) = delete;
  CFlagHolder& operator=(const CFlagHolder&) = delete;

 private:
  bool& m_flag;
};

// A counter of remaining balloons: stored as REG_DWORD, read as signed so that a stored
// 0xFFFFFFFF counts as none left; written back one lower, never below 0.
LONG CountDown(CAgentSettings& agent, const CDwordSetting& setting) {
  const LONG n = static_cast<LONG>(agent.Get(setting));
  if (agent.IsWritable()) agent.Set(setting, static_cast<DWORD>(std::max<LONG>(n - 1, 0)));
  return n;
}

}  // namespace

CQuickActions::CQuickActions(core::CAgentProcess& process, IActionHost& host)
    : m_process(process), m_host(host), m_keyboard(process, host), m_utils(process.Platform()) {}

CQuickActions::~CQuickActions() { Dispose(); }

void CQuickActions::Dispose() {
  m_keyboard.CompleteCapture();
  m_ctx.ReleaseHandle(m_process.AuthLibrary());
}

bool CQuickActions::CanStartAction() {
  return ::CanStartAction(m_ctx, NowSeconds(m_process.Platform().Kernel()));
}

bool CQuickActions::StartAction(const CCredential& info, const CUser& user) {
  VDTraceNS::CScope ts("CVdAgentMain::StartAction");
  if (!CanStartAction()) return false;
  m_ctx.Init(m_process);
  m_ctx.info = info;
  if (user.IsValid())
    m_ctx.user = user;
  else
    m_ctx.user = m_host.IsKioskSession() ? m_host.KioskUser() : m_host.SessionUser();
  m_ctx.keyboard.Set(m_keyboard.CompleteCapture());

  const DWORD priority =
      CAgentSettings(m_process.Platform()).Get(SettingNames::Agent::kPasswordManagerPriority);
  const ULONGLONG type = info.Type();
  const bool pmFirst = priority >= 1 && m_host.KwsFeedbackState() == 1 &&
                       (type == 0 || (m_ctx.keyboard.Mask() == 0 &&
                                      (type == VDFP_CRED_FINGERPRINT || IsCardCredential(type))));
  m_ctx.quickAction =
      pmFirst ? QUICKACTIONS::KwI : QUICKACTIONS::getQuickAction(m_process, m_host, m_ctx);
  ts.Msg(L"Selected QuickAction = %ls", QUICKACTIONS::NameOf(m_ctx.quickAction));
  if (m_ctx.quickAction == QUICKACTIONS::KwI) {
    DWORD unused = 0;
    m_host.KwsCommand(kKwsPrepare, 0, &unused);
  }
  return true;
}

void CQuickActions::DoAction() {
  VDTraceNS::CScope ts("CVdAgentMain::DoAction");
  try {
    if (m_host.IsKioskSession() || m_host.SessionUser().NameFormat() == VDFP_NAME_VD) {
      m_host.ChangeKioskUser(CUser::FromOperation(m_process.AuthLibrary(), m_ctx.hAuth), false,
                             m_process.Platform().Kernel().GetCurrentProcessId());
    }
    if (m_ctx.info.Type() == VDFP_CRED_FINGERPRINT && m_ctx.hAuth)
      ShowFeedback(kSuccess, VD_SOUND_SUCCESS, 0);
    const DWORD seq = m_ctx.sequence;
    m_host.Post([this, seq] {
      VDTraceNS::CScope task("[DoAction](QuickAction)");
      CVDFPApi& api = m_process.AuthLibrary();
      if (m_ctx.sequence != seq) {
        // A newer action took the context: this run is not ours to do any more.
        m_ctx.Reset(api, seq);
        return;
      }
      bool goesOn = false;
      try {
        goesOn = RunQuickAction();
      } catch (...) {
        // The context must not stay taken for a minute by a run that failed.
        m_ctx.Reset(api, seq);
        throw;
      }
      if (!goesOn) m_ctx.Reset(api, seq);
    });
  } catch (const CResultError& e) {
    ts.Result("DoAction", e.Result());
  } catch (...) {
    const DWORD err = m_process.Platform().Kernel().GetLastError();
    ts.Result("DoAction", err ? HRESULT_FROM_WIN32(err) : E_UNEXPECTED);
  }
}

HRESULT CQuickActions::HandToPasswordManager(DWORD& answer) {
  answer = 0;
  const HRESULT hr =
      m_host.KwsCommand(kKwsFillIn, reinterpret_cast<ULONG_PTR>(m_ctx.hAuth), &answer);
  // Only a delivered handle is the password manager's: on 0x8000000E (not running) or any
  // other failure it is still ours to destroy.
  if (SUCCEEDED(hr) && m_ctx.hAuth) m_ctx.handedOver = true;
  return hr;
}

bool CQuickActions::RunQuickAction() {
  VDTraceNS::CScope ts("CVdAgentMain::RunQuickAction");
  if (m_host.ModalMode()) {
    ts.Msg("Already in a modal state; skipped");
    return false;
  }
  if (IsScreenSaverRunning()) {
    ts.Msg("Screensaver is active; skipped");
    return false;
  }
  const ULONGLONG type = m_ctx.info.Type();
  if (m_host.RunWizardsAtRuntimeIfNeeded(type) == 0) {
    ts.Msg("A wizard was run; skipped");
    return false;
  }
  const bool wbf = m_host.HasWBFReader();
  const LONG finger = m_ctx.info.PendingAction();
  if (type == VDFP_CRED_FINGERPRINT && !wbf && finger != -1 && m_ctx.keyboard.Mask() == 0) {
    try {
      m_host.PerformLauncher(finger);
      return true;
    } catch (const CResultError& e) {
      ts.Result("No launcher for this finger", e.Result());
    }
  }

  const DWORD action = m_ctx.quickAction;
  ts.Msg(L"QuickAction Type = %ls", QUICKACTIONS::NameOf(action));
  HRESULT hr = S_OK;
  switch (action) {
    case QUICKACTIONS::None:
      ts.Msg("NoAction");
      break;
    case QUICKACTIONS::KwI: {
      ts.Msg("PasswordManager");
      DWORD answer = 0;
      hr = HandToPasswordManager(answer);
      ts.Msg("ulKwsRet = %d", static_cast<int>(answer));
      if (SUCCEEDED(hr)) return true;
      break;  // not delivered: nothing goes on, the context is reset
    }
    case QUICKACTIONS::FastConnect:
      ts.Msg("FastConnect");
      if (wbf) {
        ts.Msg("Not supported with WBF readers");
        hr = kNotSupported;
        break;
      }
      hr = FASTCONNECT::LaunchFastConnect_ifAvailable(m_process, L"VDFCRun");
      break;
    case QUICKACTIONS::LockWorkstation:
      ts.Msg("LockWorkstation");
      if (type == VDFP_CRED_FINGERPRINT && wbf) {
        ts.Msg("Not supported with WBF readers");
        hr = kNotSupported;
        break;
      }
      if (m_ctx.keyboard.Mask() == 0) {
        m_host.SetLockAfterFillIn(false);
        DWORD answer = 0;
        if (SUCCEEDED(HandToPasswordManager(answer)) && answer != 0) {
          m_host.SetLockAfterFillIn(true);  // the password manager locks after its fill-in
          return true;
        }
      }
      ts.Msg("Locking the workstation (no PM)");
      if (!m_process.Platform().Ui().LockWorkStation())
        hr = HRESULT_FROM_WIN32(m_process.Platform().Kernel().GetLastError());
      break;
    case QUICKACTIONS::FastSwitch:
      ts.Msg("FastSwitch");
      hr = SwitchUser() ? S_OK : S_FALSE;
      break;
    default:
      hr = kNotSupported;
      break;
  }
  ts.Result("Result", hr);
  return false;
}

bool CQuickActions::IsScreenSaverRunning() {
  BOOL running = FALSE;
  if (!m_process.Platform().Ui().SystemParametersInfoW(SPI_GETSCREENSAVERRUNNING, 0, &running, 0))
    return false;
  return running != FALSE;
}

bool CQuickActions::IsVistaOrLater() {
  OSVERSIONINFOEXW v{};
  v.dwOSVersionInfoSize = sizeof(v);
  if (!m_process.Platform().Kernel().GetVersionExW(&v)) return true;
  return v.dwMajorVersion >= 6;
}

bool CQuickActions::IsWelcomeScreenInUse() {
  auto& reg = m_process.Platform().Registry();
  const REGSAM view = support::SuiteView(reg);
  // The Welcome screen shows with the system's own logon dialog library only.
  if (auto gina = support::ReadString(reg, HKEY_LOCAL_MACHINE, kWinlogonKey, L"GinaDll", view)) {
    std::wstring name = *gina;
    for (auto& c : name) c = static_cast<wchar_t>(std::towlower(c));
    if (!name.empty() && name != L"msgina.dll") return false;
  }
  return support::ReadDword(reg, HKEY_LOCAL_MACHINE, kWinlogonKey, L"LogonType", view)
             .value_or(0) == 1;
}

bool CQuickActions::IsFastUserSwitchingOn() {
  auto& reg = m_process.Platform().Registry();
  const REGSAM view = support::SuiteView(reg);
  if (IsVistaOrLater())
    return support::ReadDword(reg, HKEY_LOCAL_MACHINE, kSystemPoliciesKey, L"HideFastUserSwitching",
                              view)
               .value_or(0) == 0;
  return IsWelcomeScreenInUse() &&
         support::ReadDword(reg, HKEY_LOCAL_MACHINE, kWinlogonKey, L"AllowMultipleTSSessions", view)
                 .value_or(0) != 0;
}

bool CQuickActions::SwitchUser() {
  VDTraceNS::CScope ts("CVdAgentMain::SwitchUser");
  const CUser& user = m_ctx.user;
  if (!user.IsValid()) {
    ts.Msg("Not a valid user");
    return false;
  }
  if (user.NameFormat() == VDFP_NAME_VD) {
    ts.Msg(L"No FUS for this user category, %ls (%ls), no FUS", user.AccountName().c_str(),
           CUser::NameFormatName(user.NameFormat()));
    return false;
  }
  const ULONGLONG type = m_ctx.info.Type();
  if (!(type & (VDFP_CRED_FINGERPRINT | VDFP_CRED_SMARTCARD))) {
    ts.Msg("Credential type does not support FUS");
    return false;
  }
  CVDFPApi& api = m_process.AuthLibrary();
  bool on = true;
  {
    CVDFPBuffer<VDFP_AUTH_DOMAIN_INFO_0> info(api);
    const HRESULT hr = api.VDFPAuthDomainGetInfo(L"OS", VDFP_AUTH_DOMAIN_INFO_CLASS, info.put());
    if (FAILED(hr) || !info || info->dwState != VDFP_AUTH_DOMAIN_ACTIVE) {
      ts.Msg("OS authentication domain is not active");
      on = false;
    }
  }
  const bool vista = IsVistaOrLater();
  if (on) on = IsFastUserSwitchingOn();
  if (on) {
    const auto policy = m_host.FetchUserPolicy(user);
    on = policy.has_value() && (type & ~*policy) == 0;
  }
  ts.Msg("FUS Enabled = %d", on ? 1 : 0);
  bool result = false;
  if (!on) {
    ShowFeedback(kFailure, VD_SOUND_FAILURE, 0);
    m_host.ClearFUSData(m_ctx.info);
  } else {
    ShowFeedback(kSuccess, VD_SOUND_SUCCESS, 0);
    ts.Result("ShareFUSData", m_host.ShareFUSData(m_ctx.info, user.AccountName()));
    auto& kernel = m_process.Platform().Kernel();
    if (vista) {
      result = m_process.Platform().Sessions().WTSDisconnectSession(WTS_CURRENT_SERVER_HANDLE,
                                                                    WTS_CURRENT_SESSION, TRUE) != 0;
      if (!result) ts.Result("WTSDisconnectSession", HRESULT_FROM_WIN32(kernel.GetLastError()));
    } else {
      platform::UniqueHandle ev(
          kernel, kernel.OpenEventW(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, kFusEventName));
      result = ev && kernel.SetEvent(ev.get());
      if (!result) ts.Result("FUS event", HRESULT_FROM_WIN32(kernel.GetLastError()));
    }
    if (!result) m_host.ClearFUSData(m_ctx.info);
  }
  ts.Msg("Result = %d", result ? 1 : 0);
  return result;
}

void CQuickActions::ShowFeedback(int kind, DWORD sound, DWORD detail) {
  VDTraceNS::CScope ts("CVdAgentMain::ShowFeedback");
  platform::IPlatform& plat = m_process.Platform();
  CKwAppSettings kw(plat);
  if (kw.Get(SettingNames::KwAppSettings::kSoundFeedback)) m_utils.VDPlayEventSound(sound);
  if ((kind == kFailure || (kind == kBadQuality && detail != 0)) &&
      !kw.Get(SettingNames::KwAppSettings::kShowComplexFeedback))
    return;
  if (m_ctx.quickAction == QUICKACTIONS::KwI) {
    DWORD answer = 0;
    if (kind == kBadQuality) {
      m_host.KwsCommand(kKwsQualityFeedback, detail, &answer);
    } else if (kind == kFailure || kind == kSuccess) {
      const HRESULT hr = m_host.KwsCommand(static_cast<DWORD>(kind), 0, &answer);
      if (SUCCEEDED(hr) && answer != 0) return;  // the password manager showed it
    }
  }
  if (m_ctx.info.Type() != VDFP_CRED_FINGERPRINT) return;
  const HWND feedback = m_host.FeedbackWindow();
  if (!feedback || IsScreenSaverRunning() || !plat.Ui().IsWindow(feedback)) return;
  const WPARAM look = kind == kFailure ? 2 : kind == kSuccess ? 1 : 0;
  const LPARAM lp = kind == kBadQuality ? static_cast<LPARAM>(detail) : 0;
  plat.Ui().PostMessageW(feedback, kFeedbackMessage, look, lp);
}

bool CQuickActions::AcceptHotKey(WPARAM id) {
  VDTraceNS::CScope ts("CKeyboardHandler<class CVdAgentMain>::OnHotkeyMessage");
  if (id != 1) {
    ts.Msg("Invalid hotkey ID: %d.", static_cast<int>(id));
    return false;
  }
  if (m_process.HotKeyInProgress || !CanStartAction()) {
    ts.Msg("Action in progress or disallowed, ignored");
    return false;
  }
  return true;
}

void CQuickActions::OnHotKey() {
  VDTraceNS::CScope ts("CVdAgentMain::OnHotKey");
  // The identification dialog pumps messages: a second press must wait for this one.
  CFlagHolder busy(m_process.HotKeyInProgress);
  if (!StartAction(CCredential(), CUser())) return;
  CVDFPApi& api = m_process.AuthLibrary();
  platform::IPlatform& plat = m_process.Platform();
  // A handle made here is destroyed when this step ends early; once the context holds it,
  // the context's rules apply.
  CVDFPAuthentication local(api);
  const DWORD action = m_ctx.quickAction;
  if (action == QUICKACTIONS::KwI || action == QUICKACTIONS::FastConnect ||
      action == QUICKACTIONS::FastSwitch) {
    const bool kiosk = m_host.IsKioskSession();
    CUser user;
    if (!kiosk && action != QUICKACTIONS::FastSwitch) {
      VDTraceNS::CScope create("CVDFPApiAuthentication::Create");
      user = CUser::FromWindows(plat, api);
      const std::wstring name = user.AccountName();
      create.Msg(L"User = %ls (%d)", name.c_str(), static_cast<int>(user.NameFormat()));
      const HRESULT hr =
          create.Result("VDFPCreateAuthentication",
                        api.VDFPCreateAuthentication(name.c_str(), user.NameFormat(), local.put()));
      if (FAILED(hr)) {
        ts.Result("Failed to create operation", hr);
        return;
      }
    } else {
      CVDFPString name(api);
      const HRESULT hr =
          api.VDFPIdentifyUserUI2(m_host.Window(), 0, 0, L"", L"", name.put(), local.put());
      if (FAILED(hr) || !name || !*name.get()) {
        ts.Result("Identification failed or canceled.", FAILED(hr) ? hr : E_ABORT);
        return;
      }
      user = CUser(api, name.get(), VDFP_NAME_SAM);
      if (kiosk) m_host.ChangeKioskUser(user, false, plat.Kernel().GetCurrentProcessId());
    }
    if (!user.IsValid() || !local) {
      ts.Result("Invalid user or empty operation", E_FAIL);
      return;
    }
    m_ctx.user = user;
    m_ctx.SetHandle(api, local.release(), true);
  }
  m_ctx.keyboard.Reset();
  const DWORD seq = m_ctx.sequence;
  bool goesOn = false;
  try {
    goesOn = RunQuickAction();
  } catch (...) {
    m_ctx.Reset(api, seq);
    throw;
  }
  if (!goesOn) m_ctx.Reset(api, seq);
}

HRESULT CQuickActions::OnFingerprintReady(DWORD capture) {
  VDTraceNS::CScope ts("CVdAgentMain::OnFingerprintReady");
  CCredential credential(VDFP_CRED_FINGERPRINT, capture, -1);
  if (!StartAction(credential, CUser())) return S_FALSE;
  CVDFPApi& api = m_process.AuthLibrary();
  const DWORD seq = m_ctx.sequence;
  const CUser started = m_ctx.user;
  if (!m_host.VerifyUser(started, credential)) {
    m_ctx.user = m_host.IdentifyUser(credential);
    if (!m_ctx.user.IsValid()) {
      ShowFeedback(kFailure, VD_SOUND_FAILURE, 0);
      m_host.RunWizardsAtRuntimeIfNeeded(credential.Type());
      m_ctx.Reset(api, seq);
      return S_FALSE;
    }
    if (m_ctx.user != started) {
      if (m_host.IsKioskSession()) {
        m_host.ChangeKioskUser(m_ctx.user, false,
                               m_process.Platform().Kernel().GetCurrentProcessId());
      } else if (m_ctx.user.NameFormat() != VDFP_NAME_VD && !m_host.HasWBFReader()) {
        if (SwitchUser()) {
          // The session is handed over; nothing is left to run here.
          m_ctx.Reset(api, seq);
          return S_OK;
        }
      }
    }
  }
  m_ctx.info.SetPendingAction(-1);
  m_ctx.SetHandle(api, m_host.Authenticate(m_ctx.user, credential), true);
  if (m_ctx.hAuth) {
    DoAction();
    return S_OK;
  }
  ts.Result("Authenticate", S_OK);
  m_ctx.Reset(api, seq);
  return S_FALSE;
}

void CQuickActions::OnFingerprintReaderConnected() {
  VDTraceNS::CScope ts("CVdAgentMain::OnFingerprintReaderConnected");
  m_readerPresent = m_host.IsThereWorkingFpReader();
  try {
    if (CKwAppSettings(m_process.Platform()).Get(SettingNames::KwAppSettings::kShowTaskbarIcon)) {
      m_host.ShowTrayIcon(m_readerPresent);
      if (m_host.ModalMode()) {
        ts.Msg("In modal mode, skipped");
        return;
      }
      if (m_process.FirstReaderConnection) {
        m_process.FirstReaderConnection = false;
        m_host.Post([this] { ReaderConnectedBalloon(); });
      }
    }
  } catch (const CResultError& e) {
    ts.Result("Settings", e.Result());
    return;
  }
  m_keyboard.CompleteCapture();
}

void CQuickActions::ReaderConnectedBalloon() {
  VDTraceNS::CScope ts("[OnFingerprintReaderConnected]()");
  namespace Ag = SettingNames::Agent;
  platform::IPlatform& plat = m_process.Platform();
  CAgentSettings agent(plat);
  if (m_host.ModalMode() || m_host.IsKioskSession()) return;
  auto lib = GPO::PolicyLibrary(m_process.AuthLibrary());
  if (!CEnvironmentUtils::IsCredentialsSelfEnrollmentAllowed(lib, m_process.SelfEnrollment)) return;
  if (m_host.IsUserAdministrator() && !m_host.IsMachineConfigured() &&
      static_cast<LONG>(agent.Get(Ag::kAdminSetupBalloonCtr)) > 0)
    return;
  if (!m_host.UserHasCredentials(VDFP_CRED_FINGERPRINT)) return;
  if (static_cast<LONG>(agent.Get(Ag::kRegistrationBalloonCtr)) > 0) return;
  if (CountDown(agent, Ag::kFingerprintBalloonCtr) <= 0) return;
  CActionBalloon balloon;
  balloon.title = m_host.ResourceString(124);
  balloon.message = m_host.ResourceString(122);
  balloon.infoFlags = 1;
  core::CAgentProcess* process = &m_process;
  balloon.onClick = [process] {
    VDTraceNS::CScope click("[launch](ClientConsole -enroll -fingerprint){}");
    // The console (application 1) on the fingerprint enrollment page.
    click.Result("EnrollCredentials", CLI::EnrollCredentials(*process, 0x2, 0));
  };
  m_host.Notify(balloon);
}

void CQuickActions::OnFingerprintReaderDisconnected() {
  VDTraceNS::CScope ts("CVdAgentMain::OnFingerprintReaderDisconnected");
  m_readerPresent = m_host.IsThereWorkingFpReader();
  try {
    platform::IPlatform& plat = m_process.Platform();
    if (CKwAppSettings(plat).Get(SettingNames::KwAppSettings::kShowTaskbarIcon)) {
      m_host.ShowTrayIcon(m_readerPresent);
      CAgentSettings agent(plat);
      const LONG n = CountDown(agent, SettingNames::Agent::kNoDriversBalloonCtr);
      if (n > 0 && m_host.IsUserAdministrator() && m_readerPresent) {
        CActionBalloon balloon;
        balloon.title = m_host.ResourceString(605);
        balloon.message = m_host.ResourceString(607);
        balloon.infoFlags = 1;
        m_host.Notify(balloon);
      }
    }
  } catch (const CResultError& e) {
    ts.Result("Settings", e.Result());
    return;
  }
  m_keyboard.CompleteCapture();
}
