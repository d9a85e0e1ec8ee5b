// A working day of eight simulated hours (scenarios/workday.json): the agent meets the
// scenario's expectations, no caught exception is traced, the trace reads back whole, and
// nothing it holds grows between the end of the first hour and the end of the day. Heap
// growth is left to the sanitizer build's leak check, which runs this test too.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

#include "platform/sim/clock.h"
#include "platform/sim/machine.h"
#include "platform/sim/process_counters.h"
#include "tools/vdagent_sim/scenario_run.h"

namespace {

// The rounds of the day: every ten minutes from the first minute; the counts are taken a
// second before a round starts, when the previous one has long settled.
constexpr ULONGLONG kFirstRoundMs = 60000;
constexpr ULONGLONG kRoundMs = 600000;
constexpr int kRoundsPerHour = 6;
constexpr int kRounds = 48;

// How the agent traces an exception it caught at one of its boundaries.
bool IsCaughtException(const std::string& text) {
  return text.find("EXCEPTION") != std::string::npos ||
         text.find("Callback failed") != std::string::npos ||
         text.find("vda::wndproc") != std::string::npos;
}

TEST(WorkdayTest, EightHoursLeaveNothingBehindAndEveryEventHasItsEffect) {
  const vdsim::Scenario sc = vdsim::ReadScenarioFile(VD_SCENARIO_DIR "/workday.json");
  ASSERT_GE(sc.events.size(), 500u) << "a working day, not a short scenario";

  std::map<int, sim::LiveCounts> hourly;  // by hour of the day, 1..8
  vdsim::RunOptions options;
  options.onAgentProcess = [&](sim::Machine& machine, sim::Process& agent) {
    sim::Clock& clock = machine.GetClock();
    const ULONGLONG start = clock.NowMs();
    for (int hour = 1; hour <= kRounds / kRoundsPerHour; ++hour)
      clock.ScheduleAt(start + kFirstRoundMs + hour * kRoundsPerHour * kRoundMs - 1000,
                       [&hourly, &agent, hour] { hourly[hour] = sim::LiveObjects(agent); });
  };
  const vdsim::RunResult r = vdsim::RunScenario(sc, options);

  EXPECT_EQ(r.runError, "");
  EXPECT_EQ(r.traceError, "") << "the trace must decode whole";
  EXPECT_EQ(r.agentExitCode, 0);
  for (const auto& failure : vdsim::CheckExpectations(sc.expect, r)) ADD_FAILURE() << failure;
  for (const auto& rec : r.trace)
    EXPECT_FALSE(IsCaughtException(rec.text)) << rec.t << " " << rec.text;

  // Every unlock of the day found its session locked (else the run stops with an error),
  // and nothing locked it twice: as many locks as unlocks.
  const auto unlocks = std::count_if(sc.events.begin(), sc.events.end(), [](const auto& e) {
    return e.kind == "session" && e.fields.value("action", "") == "unlock";
  });
  const auto locks = std::count_if(r.desktop.begin(), r.desktop.end(), [](const auto& d) {
    return d.kind == "session" && d.text == "locked";
  });
  EXPECT_EQ(locks, unlocks);

  // Bound: no growth at all. Every object the agent makes for an event is freed with it.
  ASSERT_EQ(hourly.size(), 8u) << "the day ended early";
  for (const auto& [hour, counts] : hourly) {
    SCOPED_TRACE("hour " + std::to_string(hour) + ": " + sim::Describe(counts));
    EXPECT_EQ(sim::Difference(hourly[1], counts), "");
  }
  // Something is held at all, so the counts are read from the agent.
  EXPECT_GT(hourly[1].windows, 0u);
  EXPECT_GT(hourly[1].handles, 0u);
}

}  // namespace
