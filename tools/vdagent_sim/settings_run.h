// The effective-settings report of one user of a simulated machine: the machine as a scenario
// describes it (its "machine" description and registry seeds), the user signed in to a session,
// and the report run in a process of that session, as vdsettings runs on Windows.
//
//   Scenario sc;
//   sc.machineJson = vdfp_standin::ReadDescriptionText("machine.json");
//   std::string text = SettingsReport(sc, {.user = L"bob", .json = true});
//
// "HKCU" registry seeds land in the reported user's hive.
#pragma once

#include <optional>
#include <string>

#include "tools/vdagent_sim/scenario.h"

namespace vdsim {

struct SettingsOptions {
  // A user of the machine description; absent: the user of the console session.
  std::optional<std::wstring> user;
  bool json = false;
};

// Throws ScenarioError for a user the machine does not know, or whose session is another's.
std::string SettingsReport(const Scenario& scenario, const SettingsOptions& options);

}  // namespace vdsim
