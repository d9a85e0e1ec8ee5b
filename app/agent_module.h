// The agent's module: its start (the toast activator's class object, the application user
// model id) and its registration tasks, whose bodies arrive with the installation work;
// until then each of those reports success without doing anything beyond tracing.
//
//   CVdAgentModule module(process, [&](const std::wstring& c) { return CLI::Handle(process, c); });
//   if (SUCCEEDED(module.Init())) { RunMainLoop(process); module.Term(); }
//
// Init and Term run on the agent's first thread, inside its COM apartment.
#pragma once

#include <string>

#include "core/agent_process.h"
#include "tray/toast_activator.h"

class CVdAgentModule {
 public:
  // `commands` carries out a clicked toast's command (the command line's handler).
  CVdAgentModule(core::CAgentProcess& process, CToastActivator::CommandHandler commands);
  ~CVdAgentModule();
  CVdAgentModule(const CVdAgentModule&) = delete;
  CVdAgentModule& operator=(const CVdAgentModule&) = delete;

  // Registers the toast activator's class object, then sets the application user model id.
  // A failed registration fails the start; a failed user model id is logged only.
  HRESULT Init();
  // Revokes what Init registered; safe to run twice.
  void Term();
  bool IsRegistered() const { return m_cookie != 0; }

  // The registration run's tasks. Low profile: the COM registration and the logon entry
  // only. Registering again gives the same machine state.
  static HRESULT RegisterServer(core::CAgentProcess& process, bool lowProfile);
  // Undoes RegisterServer; the Control Panel item's keys are left to the uninstaller's
  // clean-up list.
  static HRESULT UnregisterServer(core::CAgentProcess& process, bool lowProfile);

  static constexpr const wchar_t* kInstallPathVariable = L"NXWDINSTALLPATH";
  static constexpr const wchar_t* kInstallPathX86Variable = L"NXWDINSTALLPATH_X86";
  // Publishes the suite's binaries folder (HKLM "SOFTWARE\Veridane\Applications" "BinDir")
  // and the agent's folder as machine environment variables.
  static HRESULT InstallEnvironment(core::CAgentProcess& process, const std::wstring& modulePath);
  static void UninstallEnvironment(core::CAgentProcess& process);
  // The Start menu shortcut is not made by this build: S_FALSE, nothing written.
  static HRESULT InstallShortcut(core::CAgentProcess& process);
  static HRESULT UninstallShortcut(core::CAgentProcess& process);

 private:
  core::CAgentProcess& m_process;
  CToastActivator::CommandHandler m_commands;
  DWORD m_cookie = 0;
};
