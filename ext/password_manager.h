// The password manager's process-wide object: it shows the mini dashboard and initialises
// the user training tool. Created on first use through COM (any server context) and kept for
// the process's life; one per agent process.
//
//   CPasswordManager pm(process);
//   if (pm.IsPasswordManagerInstalled()) pm.InitUserTrainingTool();
//   pm.ShowMiniDashboard(true);          // raises CResultError when the object fails
//
// Traces: "Created pm=0x...", "pm OK", "running=1", "pmActions=0x...".
#pragma once

#include <mutex>

#include "core/agent_process.h"
#include "platform/platform.h"
#include "support/suite_components.h"

class CPasswordManager {
 public:
  explicit CPasswordManager(core::CAgentProcess& process);
  ~CPasswordManager();
  CPasswordManager(const CPasswordManager&) = delete;
  CPasswordManager& operator=(const CPasswordManager&) = delete;

  // A new reference to the object, created on the first call that succeeds. Raises the
  // creation's error (E_FAIL for a server that hands out no object); the next call tries
  // again. Any thread.
  platform::ComPtr<IVDPasswordManager> PasswordManager();

  // Shows the mini dashboard (modal inside the object) unless it is up already in this
  // process (CAgentProcess::MiniDashboardRunning); true either way. Raises the object's
  // failure; the running flag is cleared on every way out. Any thread.
  bool ShowMiniDashboard(bool trained);

  // Lets the object set up its training tool; its result, or the error of getting the
  // object. Never raises.
  HRESULT InitUserTrainingTool();

  // False when the object cannot be created.
  bool IsPasswordManagerInstalled();

 private:
  core::CAgentProcess& m_process;
  std::mutex m_mu;  // guards the object while it is created
  platform::ComPtr<IVDPasswordManager> m_pm;
};
