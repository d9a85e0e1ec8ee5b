// What the agent costs when nothing happens: started in a simulated session, ready, then
// left alone for a simulated hour. Every wake-up in that hour is counted by kind (messages
// to its windows, window timers, timer-queue callbacks, registered-wait callbacks, waits of
// its threads that ended); only the timers its behaviour calls for may fire.
#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <string>

#include "platform/sim/clock.h"
#include "platform/sim/machine.h"
#include "platform/sim/process_counters.h"
#include "platform/sim/window_manager.h"
#include "tools/vdagent_sim/scenario_run.h"

namespace {

constexpr ULONGLONG kReadyMs = 5 * 60 * 1000;  // start-up over, host up, icon shown
constexpr ULONGLONG kHourMs = 60 * 60 * 1000;

struct IdleHour {
  vdsim::RunResult run;
  sim::WakeCounts wakeups;         // in the hour
  std::map<UINT_PTR, int> timers;  // WM_TIMER in the hour, by timer id
  std::map<UINT, int> messages;    // other messages in the hour, by number
  std::string Describe() const {
    std::string s = sim::Describe(wakeups);
    for (const auto& [id, n] : timers)
      s += "; timer " + std::to_string(id) + " x" + std::to_string(n);
    for (const auto& [m, n] : messages)
      s += "; message " + std::to_string(m) + " x" + std::to_string(n);
    return s;
  }
};

// The agent of a one-user session, with the shell's notification state `state` from the
// start; counts from kReadyMs to an hour later. `configured` false: the authentication
// host's only domain is not set up yet.
IdleHour RunIdleHour(int notificationState, bool configured) {
  const vdsim::Scenario sc = vdsim::ParseScenario(
      std::string(configured ? "{" : R"({"machine": {"domains": [{"name": "OS", "state": 0}]},)") +
      R"("events": [{"at": 0, "kind": "notification-state", "state": )" +
      std::to_string(notificationState) +
      R"(}], "limitMs": 4200000, "expect": {"trace": ["CVdAgentMain::OnReady"]}})");
  IdleHour idle;
  sim::WakeCounts atReady, atEnd;
  std::mutex mu;
  bool counting = false;
  vdsim::RunOptions options;
  options.onAgentProcess = [&](sim::Machine& machine, sim::Process& agent) {
    sim::WindowManager& wm = machine.Windows();
    const DWORD pid = agent.Pid();
    wm.AddDeliveryHook([&, pid](const sim::Delivery& d) {
      const auto info = d.hwnd ? wm.Info(d.hwnd) : std::nullopt;
      std::lock_guard lk(mu);
      if (!counting || (d.hwnd && (!info || info->processId != pid))) return;
      if (d.via == sim::Delivery::Via::Timer)
        ++idle.timers[d.wParam];
      else
        ++idle.messages[d.message];
    });
    sim::Clock& clock = machine.GetClock();
    const ULONGLONG start = clock.NowMs();
    clock.ScheduleAt(start + kReadyMs, [&] {
      atReady = sim::Wakeups(agent);
      std::lock_guard lk(mu);
      counting = true;
    });
    clock.ScheduleAt(start + kReadyMs + kHourMs, [&] {
      atEnd = sim::Wakeups(agent);
      std::lock_guard lk(mu);
      counting = false;
    });
  };
  idle.run = vdsim::RunScenario(sc, options);
  EXPECT_EQ(idle.run.runError, "");
  for (const auto& failure : vdsim::CheckExpectations(sc.expect, idle.run))
    ADD_FAILURE() << failure;
  idle.wakeups.messages = atEnd.messages - atReady.messages;
  idle.wakeups.windowTimers = atEnd.windowTimers - atReady.windowTimers;
  idle.wakeups.poolTimers = atEnd.poolTimers - atReady.poolTimers;
  idle.wakeups.poolWaits = atEnd.poolWaits - atReady.poolWaits;
  idle.wakeups.waitsEnded = atEnd.waitsEnded - atReady.waitsEnded;
  return idle;
}

// The shell accepts notifications: the start-up task finished in its first ticks, the tray
// icon's flash timer is dormant, the registry watchers and the mailslot wait for news.
// Nothing at all may wake the agent.
TEST(IdleCostTest, AnIdleHourWithTheShellAcceptingNotificationsWakesNothing) {
  const IdleHour idle = RunIdleHour(QUNS_ACCEPTS_NOTIFICATIONS, true);
  EXPECT_EQ(idle.wakeups, sim::WakeCounts{}) << idle.Describe();
  EXPECT_TRUE(idle.timers.empty()) << idle.Describe();
  EXPECT_TRUE(idle.messages.empty()) << idle.Describe();
}

// Quiet time on a machine not yet configured: the start-up task keeps asking the shell,
// every 120 s, whether it may speak; that timer and nothing else fires.
TEST(IdleCostTest, AnIdleHourInQuietTimeWakesOnlyTheStartupTaskEveryTwoMinutes) {
  const IdleHour idle = RunIdleHour(QUNS_QUIET_TIME, false);
  constexpr int kStartupTicksPerHour = 3600 / 120;
  ASSERT_EQ(idle.timers.size(), 1u) << idle.Describe();
  EXPECT_EQ(idle.timers.begin()->second, kStartupTicksPerHour) << idle.Describe();
  sim::WakeCounts expected;
  expected.windowTimers = kStartupTicksPerHour;
  EXPECT_EQ(idle.wakeups, expected) << idle.Describe();
  EXPECT_TRUE(idle.messages.empty()) << idle.Describe();
}

}  // namespace
