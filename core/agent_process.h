// What one agent process owns: its platform, the process-wide flags set at entry, the
// registered message numbers and the caches that live as long as the process. Created by
// the entry point and reached through the main window; tests create several to model
// several processes on one simulated machine.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/platform.h"
#include "support/editions/editions.h"
#include "support/settings/environment_utils.h"

class CVDFPApi;

namespace core {

struct RegisteredMessages {
  UINT vdnxBroadcast = 0;      // "VDNX_BROADCAST_NOTIFICATION"
  UINT vdSettingsChanged = 0;  // "VdSettingsChanged"
  UINT taskbarCreated = 0;     // "TaskbarCreated"
};

class CAgentProcess {
 public:
  CAgentProcess(platform::IPlatform& plat, HINSTANCE hInstance);
  ~CAgentProcess();
  CAgentProcess(const CAgentProcess&) = delete;
  CAgentProcess& operator=(const CAgentProcess&) = delete;

  platform::IPlatform& Platform() const { return m_plat; }
  HINSTANCE Instance() const { return m_hInstance; }
  const RegisteredMessages& Messages() const { return m_messages; }

  // Set by the NoWizard switch, by low-profile mode and by kiosk logon: no start-up wizard.
  bool NoWizardMode = false;
  // The reader-only product or the lite edition is installed.
  bool LowProfileMode = false;
  // "KioskLogon" as first read; the answer holds for the life of the process.
  std::optional<bool> KioskLogonCache;
  // The "StandaloneMode" policy as first read; it holds for the life of the process.
  std::optional<bool> StandaloneModeCache;
  // Task identifiers of the window's task queue: one counter for the life of the process,
  // so the first scheduled task is 10000 and the counter wraps back to 9999.
  UINT TaskIdCounter = 9999;
  // The tray's scheduled single- or double-click task (0: none), so that a double click's
  // own button-up finds it and opens no menu.
  UINT TrayClickTaskId = 0;
  // Edition answers ("is the installed product", "is installed"), by edition key, once asked.
  EDITIONS::CEditionCaches EditionCache;
  // The self-enrollment policy's answer, asked until one query succeeds.
  CSelfEnrollmentState SelfEnrollment;
  // The fingerprint acquisition as last decided by the host-key change step (and only there).
  bool AcquisitionWanted = false;
  // Number of the last quick action started; incremented at each start.
  DWORD ActionSequence = 0;
  // Set while a hotkey press is handled: the identification dialog pumps messages, and a
  // second WM_HOTKEY must not start a second action.
  bool HotKeyInProgress = false;
  // The reader-connected balloon is considered at the first reader connection only.
  bool FirstReaderConnection = true;
  // Set while the password manager's mini dashboard is up in this process: a second request
  // meanwhile (a reply handled inside the dashboard's own message loop) opens no second one.
  // Any thread.
  std::atomic<bool> MiniDashboardRunning{false};

  // What the edition tests need: this process's platform and caches.
  EDITIONS::CEditionQuery Editions() { return {m_plat, EditionCache}; }

  // The authentication client library, loaded on first use.
  CVDFPApi& AuthLibrary();

 private:
  platform::IPlatform& m_plat;
  HINSTANCE m_hInstance;
  RegisteredMessages m_messages;
  std::unique_ptr<CVDFPApi> m_authLibrary;
};

}  // namespace core
