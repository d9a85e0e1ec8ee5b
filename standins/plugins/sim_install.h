// The tray plug-ins of the machine description on the simulated machine: each is an
// in-process server installed at its path and registered under
// HKLM\SOFTWARE\Veridane\VDNX\Plugins\TrayIcon (both registry views), whose objects the
// DLL's DllGetClassObject hands out to whichever process loads it.
//
// What the agent makes them do shows on that process's session desktop as kind "plugin":
//   "Vault items 20000 1"              the menu was built (first id, count reported)
//   "Vault item 20000 \"Open vault\""  a command ran
//   "Vault notify 0x00000000"          the result of its notification through the host
//   "Vault console 0x00000000"         the result of its console request
//   "Vault subscribed", "Vault host"   it was handed the host
//   "Vault creating", "Vault created"  a creation that blocks began and ended
//
//   sim::Machine machine;
//   auto plugins = plugin_standin::InstallTrayPluginStandIns(machine, desc);
//
// One installation per machine; destroy it before the machine.
#pragma once

#include <memory>

#include "platform/sim/machine.h"
#include "standins/plugins/description.h"

namespace plugin_standin {

inline constexpr wchar_t kPluginKind[] = L"plugin";

class SimTrayPluginInstallation {
 public:
  ~SimTrayPluginInstallation();
  SimTrayPluginInstallation(const SimTrayPluginInstallation&) = delete;
  SimTrayPluginInstallation& operator=(const SimTrayPluginInstallation&) = delete;

  const TrayPluginsDescription& Description() const;
  // Plug-in objects alive now (created and not released yet).
  int LiveObjects() const;
  // The longest creation block of the description (0: none blocks).
  DWORD LongestCreationBlockMs() const;

  struct Impl;

 private:
  friend std::unique_ptr<SimTrayPluginInstallation> InstallTrayPluginStandIns(
      sim::Machine&, TrayPluginsDescription);
  explicit SimTrayPluginInstallation(std::shared_ptr<Impl> impl);
  std::shared_ptr<Impl> m_impl;
};

std::unique_ptr<SimTrayPluginInstallation> InstallTrayPluginStandIns(
    sim::Machine& machine, TrayPluginsDescription desc = {});

}  // namespace plugin_standin
