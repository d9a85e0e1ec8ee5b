#include "tools/vdagent_sim/settings_run.h"

#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "platform/sim/registry_store.h"
#include "platform/sim/session_manager.h"
#include "standins/vdfpapi/description.h"
#include "standins/vdfpapi/sim_install.h"
#include "support/settings/settings_report.h"

namespace vdsim {

namespace {

constexpr DWORD kConsoleSession = 1;

// The session the user is signed in to, signing them in when the machine has not yet.
DWORD SessionOf(sim::Machine& machine, const vdfp_standin::VdfpDescription& desc,
                const std::wstring& name) {
  for (const auto& u : desc.users) {
    if (!vdfp_standin::EqualNoCase(u.name, name)) continue;
    if (u.session == 0) return machine.Sessions().CreateSession({.userName = u.name});
    if (const auto s = machine.Sessions().Find(u.session)) {
      if (!vdfp_standin::EqualNoCase(s->userName, u.name))
        throw ScenarioError("user \"" + WideToUtf8(name) + "\": session " +
                            std::to_string(u.session) + " belongs to \"" + WideToUtf8(s->userName) +
                            "\"");
      return u.session;
    }
    return machine.Sessions().CreateSession({.id = u.session, .userName = u.name});
  }
  // The console's user needs no description.
  const auto console = machine.Sessions().Find(kConsoleSession);
  if (console && vdfp_standin::EqualNoCase(console->userName, name)) return kConsoleSession;
  throw ScenarioError("user \"" + WideToUtf8(name) + "\" is not a user of the machine");
}

}  // namespace

std::string SettingsReport(const Scenario& scenario, const SettingsOptions& options) {
  sim::MachineDescription machineDesc;
  machineDesc.osMajor = scenario.windows.major;
  machineDesc.osMinor = scenario.windows.minor;
  machineDesc.dnsDomain = scenario.windows.dnsDomain;
  machineDesc.uiLanguages = scenario.windows.uiLanguages;
  sim::Machine machine(machineDesc);

  auto desc = scenario.machineJson ? vdfp_standin::VdfpDescription::FromJson(*scenario.machineJson)
                                   : vdfp_standin::VdfpDescription::Default();
  // Signed in before the library is installed, so the user carries the session's SID.
  const DWORD session = options.user ? SessionOf(machine, desc, *options.user) : kConsoleSession;
  auto vdfp = vdfp_standin::InstallVdfpApi(machine, desc);

  auto& reg = machine.Registry();
  for (const auto& seed : scenario.registry) {
    std::wstring path = seed.key;
    if (path.rfind(L"HKCU", 0) == 0)
      path = L"HKU\\" + machine.Sessions().UserSid(session) + path.substr(4);
    reg.SetValue(path, seed.name, seed.type, seed.data);
  }

  auto process = machine.CreateProcess({.sessionId = session});
  sim::CurrentProcessScope scope(process.get());
  const auto rows = settings_report::Build(*process);
  return options.json ? settings_report::FormatJson(rows) : settings_report::FormatText(rows);
}

}  // namespace vdsim
