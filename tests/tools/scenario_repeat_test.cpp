// Recurring rows of a scenario: "repeat" plays its rows round after round, and every
// mistake in one is refused with its position before anything runs.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tools/vdagent_sim/scenario.h"

namespace {

std::vector<std::pair<ULONGLONG, std::string>> Timeline(const vdsim::Scenario& sc) {
  std::vector<std::pair<ULONGLONG, std::string>> out;
  for (const auto& e : sc.events)
    out.emplace_back(e.atMs, e.kind + ":" + e.fields.value("action", std::string()));
  return out;
}

TEST(ScenarioRepeatTest, RoundsStartEveryIntervalAndRowsKeepTheirOffsets) {
  const auto sc = vdsim::ParseScenario(R"({"events": [
      {"at": 1000, "repeat": 3, "everyMs": 500, "events": [
        {"at": 0, "kind": "session", "action": "lock"},
        {"after": 100, "kind": "session", "action": "unlock"},
        {"at": 300, "kind": "tray", "action": "click"}]},
      {"after": 50, "kind": "shell", "action": "restart"},
      {"at": 1250, "kind": "host", "action": "stop"}]})");
  const std::vector<std::pair<ULONGLONG, std::string>> expected = {
      {1000, "session:lock"}, {1100, "session:unlock"}, {1250, "host:stop"},
      {1300, "tray:click"},   {1500, "session:lock"},   {1600, "session:unlock"},
      {1800, "tray:click"},   {2000, "session:lock"},   {2100, "session:unlock"},
      {2300, "tray:click"},   {2350, "shell:restart"}};
  EXPECT_EQ(Timeline(sc), expected);
  // A failing row names the repeat it came from.
  for (std::size_t i = 0; i < 9; ++i) EXPECT_EQ(sc.events[i < 2 ? i : i + 1].index, 0u);
}

TEST(ScenarioRepeatTest, AMistakeIsRefusedWithItsPosition) {
  const std::pair<const char*, const char*> cases[] = {
      {R"({"at": 0, "repeat": 2, "events": [{"at": 0, "kind": "end"}]})", "events[0].everyMs"},
      {R"({"at": 0, "repeat": 0, "everyMs": 5, "events": [{"at": 0, "kind": "end"}]})",
       "events[0].repeat: out of range"},
      {R"({"at": 0, "repeat": 2, "everyMs": 5, "events": []})", "events[0].events"},
      {R"({"repeat": 2, "everyMs": 5, "events": [{"at": 0, "kind": "end"}]})",
       "events[0]: needs exactly one"},
      {R"({"at": 0, "repeat": 2, "everyMs": 5, "every": 1, "events": [{"at": 0, "kind": "end"}]})",
       "events[0].every: unknown member"},
      {R"({"at": 0, "repeat": 2, "everyMs": 5, "events": [{"at": 0, "kind": "end"},
           {"after": 1, "kind": "session", "action": "nap"}]})",
       "events[0].events[1].action: expected one of"},
      {R"({"at": 0, "repeat": 2, "everyMs": 5, "events": [
           {"at": 0, "repeat": 2, "everyMs": 1, "events": [{"at": 0, "kind": "end"}]}]})",
       "events[0].events[0]: a repeat inside a repeat"},
      {R"({"at": 0, "repeat": 10000, "everyMs": 86400000, "events": [{"at": 0, "kind": "end"}]})",
       "events[0].events[0]: later than 24 hours"},
  };
  for (const auto& [event, message] : cases) {
    SCOPED_TRACE(event);
    try {
      vdsim::ParseScenario(std::string(R"({"events": [)") + event + "]}");
      ADD_FAILURE() << "accepted";
    } catch (const vdsim::ScenarioError& e) {
      EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
    }
  }
}

}  // namespace
