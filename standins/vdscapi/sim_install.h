// The stand-in card library on the simulated machine, beside the authentication library whose
// users own the cards.
//
//   auto vdfp = vdfp_standin::InstallVdfpApi(machine, vdfp_standin::VdfpDescription::FromJson(j));
//   auto cards = vdsc_standin::InstallVdscApi(machine, *vdfp,
//                                             vdsc_standin::CardsDescription::FromJson(j));
//   ... the agent loads C:\Windows\system32\VDSCApi.dll, calls VDSCInit with its window ...
//   cards->Host().Insert(L"Sim Contactless Reader", L"alice-badge");   // events 3, 5
//   cards->Host().Tap(L"Sim Contactless Reader");                     // 3, 5; 4 at +500 ms
//   machine.GetClock().AdvanceBy(...);                                 // the tap's card leaves
//
// Each calling process has its own initialisation count and subscription; its strings are
// its own automation strings (sim::ProcessCom::LiveStrings counts those not freed).
// Destroy the card installation before the authentication one, both before the machine.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/sim/machine.h"
#include "standins/vdfpapi/sim_install.h"
#include "standins/vdscapi/description.h"
#include "standins/vdscapi/host.h"

namespace vdsc_standin {

inline constexpr const wchar_t* kSimCardLibraryPath = L"C:\\Windows\\system32\\VDSCApi.dll";

struct CardInstallOptions {
  bool installLibrary = true;
  // Entry points left out, e.g. {"VDSCClearCard"} for a library the agent must refuse.
  std::vector<std::string> missingExports;
};

class SimCardInstallation {
 public:
  ~SimCardInstallation();
  SimCardInstallation(const SimCardInstallation&) = delete;
  SimCardInstallation& operator=(const SimCardInstallation&) = delete;

  CCardHost& Host();

  struct Impl;

 private:
  friend std::unique_ptr<SimCardInstallation> InstallVdscApi(sim::Machine&,
                                                             vdfp_standin::SimInstallation&,
                                                             CardsDescription, CardInstallOptions);
  explicit SimCardInstallation(std::shared_ptr<Impl> impl);
  std::shared_ptr<Impl> m_impl;
};

// Installs VDSCApi.dll. One installation per machine.
std::unique_ptr<SimCardInstallation> InstallVdscApi(sim::Machine& machine,
                                                    vdfp_standin::SimInstallation& vdfp,
                                                    CardsDescription desc = {},
                                                    CardInstallOptions options = {});

}  // namespace vdsc_standin
