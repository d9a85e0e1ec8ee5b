// What a simulated process holds and how often it woke: for tests of leaks over a long run
// and of the cost of doing nothing.
//
//   const sim::LiveCounts hour1 = sim::LiveObjects(*agent);
//   ... seven more simulated hours ...
//   EXPECT_EQ(sim::LiveObjects(*agent), hour1);
//   const sim::WakeCounts w = sim::Wakeups(*agent);   // since the process started
//
// Each count comes from the part of the machine that owns the objects; this only gathers
// them for one process.
#pragma once

#include <cstdint>
#include <string>

#include "platform/sim/process.h"
#include "platform/sim/process_gdi.h"

namespace sim {

struct LiveCounts {
  size_t handles = 0;       // kernel handles (events, mutexes, files, threads, mailslots)
  size_t registryKeys = 0;  // open HKEYs
  size_t windows = 0;
  size_t windowTimers = 0;  // SetTimer, not killed
  size_t poolTimers = 0;    // timer-queue timers, not deleted
  size_t poolWaits = 0;     // registered waits, not unregistered
  size_t menus = 0;
  GdiCounts gdi;

  bool operator==(const LiveCounts&) const = default;
};

struct WakeCounts {
  uint64_t messages = 0;      // sent and posted messages delivered to its windows
  uint64_t windowTimers = 0;  // WM_TIMER delivered (window procedure or TIMERPROC)
  uint64_t poolTimers = 0;    // timer-queue timer callbacks
  uint64_t poolWaits = 0;     // registered-wait callbacks
  uint64_t waitsEnded = 0;    // its threads' waits that ended (see ProcessKernel)

  uint64_t Total() const { return messages + windowTimers + poolTimers + poolWaits + waitsEnded; }
  bool operator==(const WakeCounts&) const = default;
};

LiveCounts LiveObjects(Process& process);
WakeCounts Wakeups(Process& process);
// "handles 12, registryKeys 3, ..." for a test's failure message.
std::string Describe(const LiveCounts& c);
std::string Describe(const WakeCounts& c);
// The counts that differ, as "windowTimers 3 -> 5; ...", empty when equal.
std::string Difference(const LiveCounts& before, const LiveCounts& after);

}  // namespace sim
