// The agent's module: its start (the toast activator's class object, the application user
// model id) and its registration tasks (COM and logon entries, environment, Start menu link).
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
  // The all-users Start menu link "Programs\Veridane\<product>.lnk", canonical; empty when
  // the Start menu folder is unknown or the path would be too long.
  static std::wstring GetShortcutPath(core::CAgentProcess& process);
  // Writes the link anew (an existing one is removed first): the agent with "/OpenConsole",
  // its icon, and the toasts' AppUserModelID and activator class. Each failing step is
  // traced with its name and ends the install.
  static HRESULT InstallShortcut(core::CAgentProcess& process);
  // Removes the link and its folder when nothing else is left in it; a missing link is success.
  static HRESULT UninstallShortcut(core::CAgentProcess& process);

 private:
  core::CAgentProcess& m_process;
  CToastActivator::CommandHandler m_commands;
  DWORD m_cookie = 0;
};
