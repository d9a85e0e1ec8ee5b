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

  static HRESULT RegisterServer(core::CAgentProcess& process, bool lowProfile);
  static HRESULT UnregisterServer(core::CAgentProcess& process, bool lowProfile);

 private:
  core::CAgentProcess& m_process;
  CToastActivator::CommandHandler m_commands;
  DWORD m_cookie = 0;
};
