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

class Process : public platform::IPlatform {
 public:
  Process(Machine& machine, DWORD pid, const ProcessOptions& opts);
  ~Process() override;

  platform::IRegistry& Registry() override;
  platform::IKernel& Kernel() override;
  platform::IUi& Ui() override;
  platform::ISessions& Sessions() override;
  platform::ICom& Com() override;

  Machine& GetMachine() { return m_machine; }
  DWORD Pid() const { return m_pid; }
  DWORD SessionId() const { return m_sessionId; }
  const std::wstring& ExePath() const { return m_exePath; }
  bool Is32Bit() const { return m_is32Bit; }
  // Registry redirection applies: a 32-bit process on 64-bit Windows.
  bool IsWow64() const;

  std::wstring CurrentDirectory() const;
  void SetCurrentDirectory(std::wstring dir);

 private:
  Machine& m_machine;
  DWORD m_pid;
  DWORD m_sessionId;
  std::wstring m_exePath;
  bool m_is32Bit;
  mutable std::mutex m_mu;
  std::wstring m_currentDirectory;

  std::unique_ptr<ProcessRegistry> m_registry;
  std::unique_ptr<ProcessKernel> m_kernel;
  std::unique_ptr<ProcessUi> m_ui;
  std::unique_ptr<ProcessSessions> m_sessions;
  std::unique_ptr<ProcessCom> m_com;
};

}  // namespace sim
