// The stand-in event-log component on the simulated machine: a DLL with DllGetClassObject in
// the machine's module table, registered for CLSID_VDEventLog under HKCR\CLSID in the 32-bit
// view (a 32-bit server, where a 32-bit agent looks). Every event a process writes shows on
// that process's session desktop as kind "eventlog" and stays readable as a record.
//
//   sim::Machine machine;
//   auto events = eventlog_standin::InstallEventLog(machine);
//   ... the agent logs a session lock ...
//   EXPECT_EQ(events->Component().Records()[0].eventId, 0x41101305u);
//   EXPECT_EQ(machine.GetDesktop().Texts(1, L"eventlog").size(), 1u);
//
// Destroy the installation before the machine.
#pragma once

#include <memory>
#include <string>

#include "platform/sim/machine.h"
#include "standins/eventlog/component.h"

namespace eventlog_standin {

inline constexpr wchar_t kDesktopKind[] = L"eventlog";

struct SimEventLogOptions {
  // Where the DLL lives; empty: VDEvtLog.dll in "Veridane\Shared" of "Program Files (x86)"
  // on 64-bit Windows, of "Program Files" on 32-bit Windows.
  std::wstring path{};
  bool installModule = true;         // the DLL is on disk
  bool exportGetClassObject = true;  // it has DllGetClassObject
  bool registerClass = true;         // its InprocServer32 key is there
  // The registered path is REG_EXPAND_SZ with "%SystemDrive%" for a leading "C:".
  bool expandablePath = false;
};

class SimEventLogInstallation {
 public:
  ~SimEventLogInstallation();
  SimEventLogInstallation(const SimEventLogInstallation&) = delete;
  SimEventLogInstallation& operator=(const SimEventLogInstallation&) = delete;

  CEventLogComponent& Component();
  const std::wstring& Path() const;
  // The registry key (real path) of the class's InprocServer32.
  const std::wstring& RegistrationKey() const;

  struct Impl;

 private:
  friend std::unique_ptr<SimEventLogInstallation> InstallEventLog(sim::Machine&,
                                                                  SimEventLogOptions);
  explicit SimEventLogInstallation(std::shared_ptr<Impl> impl);
  std::shared_ptr<Impl> m_impl;
};

// One installation per machine.
std::unique_ptr<SimEventLogInstallation> InstallEventLog(sim::Machine& machine,
                                                         SimEventLogOptions options = {});

}  // namespace eventlog_standin
