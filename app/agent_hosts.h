// The main window's answers to its subsystems: each logic class (quick actions, fingerprint,
// password manager, user session) asks what belongs to another subsystem through a small
// interface, and this object answers by calling the one that owns it. It is the only place
// where the subsystems meet.
//
//   CAgentHosts hosts(window);
//   CQuickActions actions(process, hosts);   // IActionHost
//
// Every method runs on the main window's thread, except Post, which any thread may call.
#pragma once

#include "actions/action_host.h"
#include "auth/card_host.h"
#include "auth/fingerprint_host.h"
#include "ext/agent_plugins.h"
#include "ext/kws_host.h"
#include "platform/handles.h"
#include "policy/policy_logic.h"
#include "policy/user_session.h"
#include "policy/ux_host.h"

class CVdAgentMain;

class CAgentHosts final : public IActionHost,
                          public IFingerprintHost,
                          public ICardHost,
                          public IKwsHost,
                          public IUserSessionHost,
                          public IPolicyHost,
                          public IUXHost,
                          public IPluginWindow {
 public:
  explicit CAgentHosts(CVdAgentMain& window);
  CAgentHosts(const CAgentHosts&) = delete;
  CAgentHosts& operator=(const CAgentHosts&) = delete;

  // ---- Kiosk and session user ----
  bool IsKioskSession() override;
  CUser KioskUser() override;
  void ChangeKioskUser(const CUser& user, bool runScript, DWORD processId) override;
  CUser SessionUser() override;
  bool UserHasCredentials(ULONGLONG mask) override;
  std::optional<ULONGLONG> FetchUserPolicy(const CUser& user) override;
  HRESULT ShareFUSData(const CCredential& credential, const std::wstring& accountName) override;
  HRESULT ClearFUSData(const CCredential& credential) override;
  void CheckUserPasswordReset(const CUser& user) override;
  CPolicy RefreshedPolicy() override;

  // ---- Password manager ----
  HRESULT KwsCommand(DWORD code, ULONG_PTR param, DWORD* result) override;
  void KwsCommand(DWORD command) override;
  DWORD KwsFeedbackState() override;
  void SetLockAfterFillIn(bool lock) override;
  bool IsPasswordManagerInstalled() override;

  // ---- Readers, start-up, modal state ----
  bool HasWBFReader() override;
  bool IsThereWorkingFpReader() override;
  bool IsMachineConfigured() override;
  bool IsUserAdministrator() override;
  int RunWizardsAtRuntimeIfNeeded(ULONGLONG mask) override;
  bool ModalMode() override;
  void SetModalMode(bool on) override;
  void PerformLauncher(LONG finger) override;
  HWND FeedbackWindow() override;

  // ---- The running quick action ----
  bool CanStartAction() override;
  HRESULT OnFingerprintReady(DWORD capture) override;
  void OnReaderConnected() override;
  void OnReaderDisconnected() override;
  void StartCapture() override;
  void CompleteCapture() override;
  void ShowFeedback(DWORD kind, DWORD sound, LPARAM detail) override;
  DWORD SelectedQuickAction() override;
  bool IsFingerActionRunning() override;
  void ResetActionToIdle() override;
  void ClearPendingLock() override;

  // ---- Fingerprint identity and acquisition ----
  bool VerifyUser(const CUser& user, const CCredential& credential) override;
  CUser IdentifyUser(const CCredential& credential) override;
  HVDFPAUTHENTICATION Authenticate(const CUser& user, const CCredential& credential) override;
  bool HasAcquisition() override;
  void StopAcquisition() override;
  void SetReaderLed(DWORD led) override;
  bool StartAcquisition() override;

  // ---- Cards ----
  void OnCardReady(const std::wstring& reader, const CCardRecord& record) override;
  void OnCardRemoved(const CCardRecord& record) override;

  // ---- Tray ----
  void ShowTrayIcon(bool readerPresent) override;
  void FlashTrayIcon() override;
  void Notify(const CActionBalloon& balloon) override;
  std::wstring ResourceString(UINT id) override;

  // ---- The window ----
  HWND Window() override;
  void Post(std::function<void()> task) override;
  UINT Schedule(UINT delayMs, std::function<bool(UINT)> task) override;
  void CancelSchedule(UINT id) override;
  void Reschedule(UINT id, UINT periodMs) override;

  // ---- Start-up sequence and reminders ----
  void Notify(UINT titleId, UINT textId, DWORD flags, const std::wstring& command,
              std::function<void()> onClick) override;
  HRESULT RunCommand(const std::wstring& word, ULONGLONG mask) override;
  bool LaunchApp(int appId, const std::wstring& arguments) override;
  void FocusTaskbar() override;
  bool IsConsoleRunning(const std::wstring& appId) override;
  CUser CurrentUser() override;
  ULONGLONG EnrolledCredentials() override;
  bool UserHasEnoughCredentials() override;
  ULONGLONG GetSuggestedCredentials() override;
  HINSTANCE ResourceModule() override;

  // ---- Tray plug-ins (LaunchApp and FocusTaskbar above serve them too) ----
  bool Notify(const std::wstring& title, const std::wstring& message, IUnknown* callback,
              DWORD flags, UINT timeoutMs, UINT id) override;
  QUERY_USER_NOTIFICATION_STATE CheckQuietTime() override;

 private:
  CVdAgentMain& m_w;
  // The agent's resource module for the prompts, loaded at the first prompt.
  platform::UniqueModule m_promptResources;
};
