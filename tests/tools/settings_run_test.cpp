// The simulator's effective-settings report: the machine and registry of a scenario, the
// report of one of its users, read in a process of that user's session.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <map>
#include <optional>
#include <string>

#include "tools/vdagent_sim/scenario.h"
#include "tools/vdagent_sim/settings_run.h"

namespace {

const char* kMachine = R"({
  "users": [{"name": "alice", "session": 1}, {"name": "bob", "session": 2},
            {"name": "carol"}, {"name": "mallory", "session": 1}],
  "policySettings": [{"name": "StandaloneMode", "type": 4, "value": 1, "status": 0},
                     {"name": "SoundFeedback", "type": 4, "value": 0, "status": 1}]
})";

vdsim::Scenario MachineWithSeeds() {
  return vdsim::ParseScenario(std::string(R"({"machine": )") + kMachine + R"(,
    "registry": [
      {"key": "HKCU\\SOFTWARE\\Veridane\\Applications\\Agent", "name": "SaveFeedbackIconX",
       "type": "REG_DWORD", "value": 640},
      {"key": "HKLM\\SOFTWARE\\Veridane\\Applications\\KwAppSettings", "name": "ShowTaskbarIcon",
       "type": "REG_DWORD", "value": 0}]})");
}

// name -> the report's entry
std::map<std::string, nlohmann::json> ReportOf(const vdsim::Scenario& sc,
                                               std::optional<std::wstring> user) {
  const auto j = nlohmann::json::parse(vdsim::SettingsReport(sc, {.user = user, .json = true}));
  std::map<std::string, nlohmann::json> out;
  for (const auto& e : j.at("settings")) out[e.at("name").get<std::string>()] = e;
  return out;
}

TEST(SettingsRunTest, EveryUserOfTheMachineIsReportedFromTheirOwnSession) {
  const auto sc = MachineWithSeeds();
  // The console's user, one with a session of their own, one signed in nowhere.
  for (const std::optional<std::wstring>& user :
       {std::optional<std::wstring>{}, std::optional<std::wstring>{L"BOB"},
        std::optional<std::wstring>{L"carol"}}) {
    SCOPED_TRACE(user ? vdsim::WideToUtf8(*user) : "console");
    auto r = ReportOf(sc, user);
    // The HKCU seed is the reported user's own value...
    EXPECT_EQ(r["SaveFeedbackIconX"]["source"], "HKCU");
    EXPECT_EQ(r["SaveFeedbackIconX"]["value"], 640);
    // ...the machine's values are everybody's.
    EXPECT_EQ(r["ShowTaskbarIcon"]["source"], "HKLM");
    EXPECT_EQ(r["ShowTaskbarIcon"]["value"], false);
    EXPECT_EQ(r["StandaloneMode"]["source"], "LibraryPolicy");
    EXPECT_EQ(r["StandaloneMode"]["value"], true);
    EXPECT_EQ(r["SoundFeedback"]["source"], "LibraryDefault");
    EXPECT_EQ(r["SoundFeedback"]["value"], false);
  }
}

TEST(SettingsRunTest, AUserTheMachineCannotSignInIsRefused) {
  const auto sc = MachineWithSeeds();
  auto message = [&](const wchar_t* user) -> std::string {
    try {
      vdsim::SettingsReport(sc, {.user = std::wstring(user)});
    } catch (const vdsim::ScenarioError& e) {
      return e.what();
    }
    return "no error";
  };
  EXPECT_EQ(message(L"dave"), "user \"dave\" is not a user of the machine");
  EXPECT_EQ(message(L"mallory"), "user \"mallory\": session 1 belongs to \"alice\"");
}

TEST(SettingsRunTest, TheTextReportHasOneLinePerSettingAfterItsHeader) {
  const std::string text = vdsim::SettingsReport(MachineWithSeeds(), {});
  const std::string json = vdsim::SettingsReport(MachineWithSeeds(), {.user = {}, .json = true});
  const auto entries = nlohmann::json::parse(json).at("settings").size();
  EXPECT_EQ(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')), entries + 1);
  EXPECT_EQ(text.rfind("SECTION", 0), 0u);
}

}  // namespace
