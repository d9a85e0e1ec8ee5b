// A working day of eight simulated hours (scenarios/workday.json): the agent meets the
// scenario's expectations, no caught exception is traced, the trace reads back whole, and
// nothing it holds grows between the end of the first hour and the end of the day. The heap
// may grow only by what the simulated desktop records meanwhile (its log of what the user
// saw, kept for the checks); the sanitizer builds, whose allocators glibc does not see, leave
// the heap to their leak check, which runs this test too.
#include <gtest/gtest.h>

#include <malloc.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>

#include "platform/sim/clock.h"
#include "platform/sim/desktop.h"
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

// Bytes in use on the heap; none under a sanitizer, whose allocator glibc does not count.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
std::optional<size_t> HeapInUse() { return std::nullopt; }
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
std::optional<size_t> HeapInUse() { return std::nullopt; }
#else
std::optional<size_t> HeapInUse() { return mallinfo2().uordblks; }
#endif
#else
std::optional<size_t> HeapInUse() { return mallinfo2().uordblks; }
#endif

// What the heap may grow by: each desktop record the day adds (its texts included; 300 to
// 380 bytes are measured) and some slack for the allocator's own caches. A coarse bound: a
// leak of 4 KB per finger touch exceeds it within the day (2 KB does not); smaller leaks of
// lost memory are the leak check's.
constexpr size_t kBytesPerDesktopRecord = 450;
constexpr size_t kHeapSlack = 128 * 1024;

struct HourMark {
  std::optional<size_t> heap;  // taken first: the other readings allocate
  sim::LiveCounts live;
  size_t desktopRecords = 0;
};

// How the agent traces an exception it caught at one of its boundaries.
bool IsCaughtException(const std::string& text) {
  return text.find("EXCEPTION") != std::string::npos ||
         text.find("Callback failed") != std::string::npos ||
         text.find("vda::wndproc") != std::string::npos;
}

TEST(WorkdayTest, EightHoursLeaveNothingBehindAndEveryEventHasItsEffect) {
  const vdsim::Scenario sc = vdsim::ReadScenarioFile(VD_SCENARIO_DIR "/workday.json");
  ASSERT_GE(sc.events.size(), 500u) << "a working day, not a short scenario";

  std::map<int, HourMark> hourly;  // by hour of the day, 1..8
  vdsim::RunOptions options;
  options.onAgentProcess = [&](sim::Machine& machine, sim::Process& agent) {
    sim::Clock& clock = machine.GetClock();
    const ULONGLONG start = clock.NowMs();
    for (int hour = 1; hour <= kRounds / kRoundsPerHour; ++hour)
      clock.ScheduleAt(start + kFirstRoundMs + hour * kRoundsPerHour * kRoundMs - 1000,
                       [&hourly, &machine, &agent, hour] {
                         HourMark& m = hourly[hour];
                         m.heap = HeapInUse();
                         m.live = sim::LiveObjects(agent);
                         m.desktopRecords = machine.GetDesktop().Events().size();
                       });
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
  const HourMark& first = hourly[1];
  for (const auto& [hour, mark] : hourly) {
    SCOPED_TRACE("hour " + std::to_string(hour) + ": " + sim::Describe(mark.live));
    EXPECT_EQ(sim::Difference(first.live, mark.live), "");
    if (!mark.heap || !first.heap) continue;
    const size_t grown = *mark.heap > *first.heap ? *mark.heap - *first.heap : 0;
    EXPECT_LE(grown,
              (mark.desktopRecords - first.desktopRecords) * kBytesPerDesktopRecord + kHeapSlack)
        << "the heap grew by " << grown << " bytes for "
        << mark.desktopRecords - first.desktopRecords << " desktop records";
  }
  // Something is held at all, so the counts are read from the agent.
  EXPECT_GT(first.live.windows, 0u);
  EXPECT_GT(first.live.handles, 0u);
}

}  // namespace
