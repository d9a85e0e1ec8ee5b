// One simulated process: its identity (pid, session, executable, bitness, current folder)
// and the platform it hands to the logic. The process ends (its windows, handles and
// waits go) when the object is destroyed.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "platform/platform.h"
#include "platform/sim/machine.h"

namespace sim {

class ProcessRegistry;
class ProcessKernel;
class ProcessUi;
class ProcessSessions;
class ProcessCom;
class ProcessModules;
class ProcessShell;
class ProcessCrypt;
class ProcessGdi;

class Process : public platform::IPlatform {
 public:
  Process(Machine& machine, DWORD pid, const ProcessOptions& opts);
  ~Process() override;

  platform::IRegistry& Registry() override;
  platform::IKernel& Kernel() override;
  platform::IUi& Ui() override;
  platform::ISessions& Sessions() override;
  platform::ICom& Com() override;
  platform::IModules& Modules() override;
  platform::IShell& Shell() override;
  platform::ICrypt& Crypt() override;
  platform::IGdi& Gdi() override;

  Machine& GetMachine() { return m_machine; }
  DWORD Pid() const { return m_pid; }
  DWORD SessionId() const { return m_sessionId; }
  const std::wstring& ExePath() const { return m_exePath; }
  bool Is32Bit() const { return m_is32Bit; }
  // Registry redirection applies: a 32-bit process on 64-bit Windows.
  bool IsWow64() const;
  // The token's administrator groups (see ProcessOptions).
  bool ElevatedAdmin() const { return m_elevatedAdmin || m_runsAsSystem; }
  bool RunsAsSystem() const { return m_runsAsSystem; }

  std::wstring CurrentDirectory() const;
  void SetCurrentDirectory(std::wstring dir);

 private:
  Machine& m_machine;
  DWORD m_pid;
  DWORD m_sessionId;
  std::wstring m_exePath;
  bool m_is32Bit;
  bool m_elevatedAdmin;
  bool m_runsAsSystem;
  mutable std::mutex m_mu;
  std::wstring m_currentDirectory;

  std::unique_ptr<ProcessRegistry> m_registry;
  std::unique_ptr<ProcessKernel> m_kernel;
  std::unique_ptr<ProcessUi> m_ui;
  std::unique_ptr<ProcessSessions> m_sessions;
  std::unique_ptr<ProcessCom> m_com;
  std::unique_ptr<ProcessModules> m_modules;
  std::unique_ptr<ProcessShell> m_shell;
  std::unique_ptr<ProcessCrypt> m_crypt;
  std::unique_ptr<ProcessGdi> m_gdi;
};

// The simulated process whose code runs on this thread right now. The machine sets it
// while a window procedure, a pool callback or a timer callback of a process runs, and an
// entry point sets it for its own thread. Stand-ins of the suite's closed libraries find
// their per-process state through it, as a real library would through its own globals.
Process* CurrentProcess();

class CurrentProcessScope {
 public:
  explicit CurrentProcessScope(Process* p);
  ~CurrentProcessScope();
  CurrentProcessScope(const CurrentProcessScope&) = delete;
  CurrentProcessScope& operator=(const CurrentProcessScope&) = delete;

 private:
  Process* m_previous;
};

}  // namespace sim
