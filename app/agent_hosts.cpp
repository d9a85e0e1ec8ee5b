#include "app/agent_hosts.h"

#include "app/main_window.h"
#include "auth/fingerprint_identity.h"
#include "auth/reader_environment.h"
#include "core/own_dir.h"
#include "core/taskbar.h"
#include "ext/launchers.h"
#include "kiosk/kiosk_session.h"
#include "launch/commands.h"
#include "launch/launch_app.h"
#include "policy/startup_checks.h"
#include "policy/ux_environment.h"
#include "support/branding_strings.h"

namespace {

CVDFPApi& Api(CVdAgentMain& w) { return w.Process().AuthLibrary(); }

}  // namespace

CAgentHosts::CAgentHosts(CVdAgentMain& window)
    : m_w(window), m_promptResources(window.Process().Platform().Modules()) {}

// ---- Kiosk and session user ----

bool CAgentHosts::IsKioskSession() { return KIOSK::IsKioskSession(m_w.Process()); }

CUser CAgentHosts::KioskUser() { return m_w.KioskLogic().KioskUser(); }

void CAgentHosts::ChangeKioskUser(const CUser& user, bool runScript, DWORD processId) {
  m_w.KioskLogic().ChangeKioskUser(user, runScript, processId);
}

CUser CAgentHosts::SessionUser() { return m_w.CurrentUser(); }

bool CAgentHosts::UserHasCredentials(ULONGLONG mask) { return m_w.UserHasCredentials(mask); }

std::optional<ULONGLONG> CAgentHosts::FetchUserPolicy(const CUser& user) {
  const CPolicy policy = m_w.FetchUserPolicy(user);
  if (policy.Rules().empty()) return std::nullopt;  // the library did not answer
  ULONGLONG mask = 0;
  for (const auto& rule : policy.Rules()) mask |= rule.m_uMask;
  return mask;
}

HRESULT CAgentHosts::ShareFUSData(const CCredential& credential, const std::wstring& accountName) {
  return credential.ShareFUSData(Api(m_w), accountName.c_str());
}

HRESULT CAgentHosts::ClearFUSData(const CCredential&) { return CCredential::ClearFUSData(Api(m_w)); }

void CAgentHosts::CheckUserPasswordReset(const CUser& user) {
  ::CheckUserPasswordReset(m_w.Process(), user);
}

CPolicy CAgentHosts::RefreshedPolicy() {
  m_w.RefreshPolicy();
  return m_w.CurrentPolicy();
}

// ---- Cards ----

void CAgentHosts::OnCardReady(const std::wstring& reader, const CCardRecord& record) {
  if (CCardLogic* cards = m_w.Card()) m_w.CardActions().OnCardReady(cards->Library(), reader, record);
}

void CAgentHosts::OnCardRemoved(const CCardRecord& record) {
  m_w.CardActions().OnCardRemoved(record);
}

// ---- Password manager ----

HRESULT CAgentHosts::KwsCommand(DWORD code, ULONG_PTR param, DWORD* result) {
  return m_w.Kws().Command(code, param, result);
}

void CAgentHosts::KwsCommand(DWORD command) {
  DWORD result = 0;
  m_w.Kws().Command(command, &result);
}

DWORD CAgentHosts::KwsFeedbackState() { return m_w.Kws().FeedbackState(); }

void CAgentHosts::SetLockAfterFillIn(bool lock) { m_w.Kws().SetLockAfterFillIn(lock); }

bool CAgentHosts::IsPasswordManagerInstalled() {
  return m_w.PasswordManager().IsPasswordManagerInstalled();
}

// ---- Readers, start-up, modal state ----

bool CAgentHosts::HasWBFReader() {
  return CReaderEnvironment::HasWBFReader(m_w.Process().Platform(), Api(m_w));
}

bool CAgentHosts::IsThereWorkingFpReader() {
  return CReaderEnvironment::IsThereWorkingFpReader(Api(m_w));
}

bool CAgentHosts::IsMachineConfigured() {
  return CReaderEnvironment::IsMachineConfigured(m_w.Process().Platform(), Api(m_w));
}

bool CAgentHosts::IsUserAdministrator() {
  return CReaderEnvironment::IsUserAdministrator(m_w.Process().Platform().Kernel());
}

int CAgentHosts::RunWizardsAtRuntimeIfNeeded(ULONGLONG mask) {
  return m_w.RunWizardsAtRuntimeIfNeeded(mask);
}

bool CAgentHosts::ModalMode() { return m_w.ModalMode; }

void CAgentHosts::SetModalMode(bool on) { m_w.ModalMode = on; }

void CAgentHosts::PerformLauncher(LONG finger) {
  CLauncherContainer::LoadLunchers(m_w.Process()).PerformLauncher(static_cast<BYTE>(finger));
}

HWND CAgentHosts::FeedbackWindow() { return m_w.FeedbackWindow(); }

// ---- The running quick action ----

bool CAgentHosts::CanStartAction() { return m_w.QuickActions()->CanStartAction(); }

HRESULT CAgentHosts::OnFingerprintReady(DWORD capture) {
  return m_w.QuickActions()->OnFingerprintReady(capture);
}

void CAgentHosts::OnReaderConnected() { m_w.QuickActions()->OnFingerprintReaderConnected(); }

void CAgentHosts::OnReaderDisconnected() { m_w.QuickActions()->OnFingerprintReaderDisconnected(); }

void CAgentHosts::StartCapture() { m_w.StartCapture(); }

void CAgentHosts::CompleteCapture() { m_w.CompleteCapture(); }

void CAgentHosts::ShowFeedback(DWORD kind, DWORD sound, LPARAM detail) {
  m_w.QuickActions()->ShowFeedback(static_cast<int>(kind), sound, static_cast<DWORD>(detail));
}

DWORD CAgentHosts::SelectedQuickAction() { return m_w.QuickActions()->Context().quickAction; }

bool CAgentHosts::IsFingerActionRunning() {
  const ActionContext& ctx = m_w.QuickActions()->Context();
  return ctx.startTime != 0 && ctx.info.Type() == VDFP_CRED_FINGERPRINT;
}

void CAgentHosts::ResetActionToIdle() {
  ActionContext& ctx = m_w.QuickActions()->Context();
  ctx.Reset(Api(m_w), ctx.sequence);
}

// The fill-in reply's lock is the one pending mark the context carries: the flag lives with
// the password-manager handler, which clears it itself.
void CAgentHosts::ClearPendingLock() {}

// ---- Fingerprint identity and acquisition ----

bool CAgentHosts::VerifyUser(const CUser& user, const CCredential& credential) {
  return CFingerprintIdentity::VerifyUser(Api(m_w), user, credential);
}

CUser CAgentHosts::IdentifyUser(const CCredential& credential) {
  return CFingerprintIdentity::IdentifyUser(Api(m_w), credential);
}

HVDFPAUTHENTICATION CAgentHosts::Authenticate(const CUser& user, const CCredential& credential) {
  return CFingerprintIdentity::Authenticate(Api(m_w), user, credential);
}

bool CAgentHosts::HasAcquisition() {
  const CFingerprintLogic* fp = m_w.Fingerprint();
  return fp && fp->HasAcquisition();
}

void CAgentHosts::StopAcquisition() {
  if (CFingerprintLogic* fp = m_w.Fingerprint()) fp->StopAcquisition();
}

void CAgentHosts::SetReaderLed(DWORD led) {
  if (CFingerprintLogic* fp = m_w.Fingerprint()) fp->SetLED(led);
}

bool CAgentHosts::StartAcquisition() {
  CFingerprintLogic* fp = m_w.Fingerprint();
  return fp && SUCCEEDED(fp->RestartAcquisition());
}

// ---- Tray ----

void CAgentHosts::ShowTrayIcon(bool readerPresent) { m_w.Show(readerPresent ? 1 : 0); }

void CAgentHosts::FlashTrayIcon() { m_w.Flash(); }

void CAgentHosts::Notify(const CActionBalloon& balloon) {
  m_w.CTrayIconHandler<CVdAgentMain>::Notify(balloon.title, balloon.message, nullptr,
                                             balloon.onClick, balloon.infoFlags, balloon.timeoutMs,
                                             0);
}

std::wstring CAgentHosts::ResourceString(UINT id) { return m_w.ResourceString(id); }

// ---- The window ----

HWND CAgentHosts::Window() { return m_w.m_hWnd; }

void CAgentHosts::Post(std::function<void()> task) { m_w.Post(std::move(task)); }

UINT CAgentHosts::Schedule(UINT delayMs, std::function<bool(UINT)> task) {
  return m_w.Schedule(delayMs, std::move(task));
}

void CAgentHosts::CancelSchedule(UINT id) { m_w.CancelSchedule(id); }

void CAgentHosts::Reschedule(UINT id, UINT periodMs) { m_w.Reschedule(id, periodMs); }

// ---- Start-up sequence and reminders ----

// The command word travels with the notification: a toast activated later from the action
// center hands it back to the command-line handler; a click on show runs `onClick`.
void CAgentHosts::Notify(UINT titleId, UINT textId, DWORD flags, const std::wstring& command,
                         std::function<void()> onClick) {
  m_w.CTrayIconHandler<CVdAgentMain>::Notify(m_w.ResourceString(titleId),
                                             m_w.ResourceString(textId),
                                             command.empty() ? nullptr : command.c_str(),
                                             std::move(onClick), flags, 0, 0);
}

HRESULT CAgentHosts::RunCommand(const std::wstring& word, ULONGLONG mask) {
  core::CAgentProcess& process = m_w.Process();
  if (word == L"EnrollCredentials")
    return CLI::EnrollCredentials(process, static_cast<DWORD>(mask),
                                  static_cast<DWORD>(mask >> 32));
  if (word == L"RunSetupWizard") return CLI::OpenConsole(process);
  if (word == L"ManageCredentials") return CLI::ManageCredentials(process);
  if (word == L"ResetCredentials") return CLI::ResetCredentials(process);
  if (word == L"StartRecovery") return CLI::StartRecovery(process);
  return E_INVALIDARG;
}

bool CAgentHosts::LaunchApp(int appId, const std::wstring& arguments) {
  return LAUNCHAPPID::LaunchApp(m_w.Process(), appId, arguments);
}

void CAgentHosts::FocusTaskbar() { core::FocusTaskbar(m_w.Process()); }

// The console holds a mutex named by its application identifier while it runs.
bool CAgentHosts::IsConsoleRunning(const std::wstring& appId) {
  platform::IKernel& k = m_w.Process().Platform().Kernel();
  platform::UniqueHandle mutex(k, k.CreateMutexW(nullptr, FALSE, appId.c_str()));
  return mutex.get() && k.GetLastError() == ERROR_ALREADY_EXISTS;
}

CUser CAgentHosts::CurrentUser() { return m_w.CurrentUser(); }

ULONGLONG CAgentHosts::EnrolledCredentials() { return m_w.EnrolledCredentials(); }

bool CAgentHosts::UserHasEnoughCredentials() { return m_w.UserHasEnoughCredentials(); }

ULONGLONG CAgentHosts::GetSuggestedCredentials() { return m_w.GetSuggestedCredentials(); }

HINSTANCE CAgentHosts::ResourceModule() {
  if (!m_promptResources.get()) {
    platform::IPlatform& plat = m_w.Process().Platform();
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD n = plat.Kernel().GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring folder =
        n > 0 && n < MAX_PATH ? core::ModuleFolder(std::wstring(path, n)) : L"";
    std::wstring file = folder;
    if (!file.empty() && file.back() != L'\\') file += L'\\';
    file += support::kAgentResourceModule;
    m_promptResources.reset(
        plat.Modules().LoadLibraryExW(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  }
  return m_promptResources.get();
}

// ---- Tray plug-ins ----

bool CAgentHosts::Notify(const std::wstring& title, const std::wstring& message,
                         IUnknown* callback, DWORD flags, UINT timeoutMs, UINT id) {
  return m_w.TrayService().Notify(title, message, callback, flags, timeoutMs, id);
}

QUERY_USER_NOTIFICATION_STATE CAgentHosts::CheckQuietTime() {
  return ux_env::CheckQuietTime(m_w.Process().Platform());
}
