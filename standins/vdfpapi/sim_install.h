// The stand-in authentication library and host on the simulated machine.
//
//   sim::Machine machine;
//   auto vdfp = vdfp_standin::InstallVdfpApi(machine);          // default machine description
//   auto agent = machine.CreateProcess({.sessionId = 1});
//   ... the agent loads C:\Windows\system32\VDFPApi.dll and calls it ...
//   vdfp->Host().TouchFinger(L"alice");                          // reader events to its window
//   EXPECT_EQ(vdfp->Host().Buffers().Outstanding(), 0u);         // every buffer given back
//
// The host runs in a process of its own (session 0). Started late (description "host":
// {"running": false}, then StartHostAt), it signals "Global\{AA2FD877-...}" when it starts,
// opening the event or creating it. Each simulated process that calls in gets its own library
// instance, found through sim::CurrentProcess() as a real library would use its own globals.
// Destroy the installation before the machine.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "standins/vdfpapi/client.h"
#include "standins/vdfpapi/description.h"
#include "standins/vdfpapi/host.h"

namespace vdfp_standin {

inline constexpr const wchar_t* kSimLibraryPath = L"C:\\Windows\\system32\\VDFPApi.dll";
inline constexpr const wchar_t* kSimDialogLibraryPath = L"C:\\Windows\\system32\\VDFPApiUI.dll";
inline constexpr const wchar_t* kHostReadyEventName =
    L"Global\\{AA2FD877-ED65-4499-9C86-D90FB5CC1F9D}";

struct SimInstallOptions {
  bool installLibrary = true;  // VDFPApi.dll
  bool installDialogs = true;  // VDFPApiUI.dll
  // Entry points left out (of whichever library has them), e.g. {"VDFPGetPolicySettingsEx"}.
  std::vector<std::string> missingExports;
};

class SimInstallation {
 public:
  ~SimInstallation();
  SimInstallation(const SimInstallation&) = delete;
  SimInstallation& operator=(const SimInstallation&) = delete;

  CHostService& Host();
  sim::Machine& GetMachine();
  sim::Process& HostProcess();
  // Starts the host when the virtual clock reaches `atMs` (at once when that has passed).
  void StartHostAt(ULONGLONG atMs);
  // The library instance of a process (null when the process never called in).
  std::shared_ptr<CClientLibrary> ClientOf(DWORD processId) const;

  struct Impl;

 private:
  friend std::unique_ptr<SimInstallation> InstallVdfpApi(sim::Machine&, VdfpDescription,
                                                         SimInstallOptions);
  explicit SimInstallation(std::shared_ptr<Impl> impl);
  std::shared_ptr<Impl> m_impl;
};

// Installs the libraries and starts the host process. One installation per machine.
std::unique_ptr<SimInstallation> InstallVdfpApi(sim::Machine& machine,
                                                VdfpDescription desc = VdfpDescription::Default(),
                                                SimInstallOptions options = {});

}  // namespace vdfp_standin
