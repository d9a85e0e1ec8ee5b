#include "platform/sim/clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>
#include <vector>

namespace {

sim::Clock MakeClock(SYSTEMTIME boot = {2026, 3, 0, 2, 23, 59, 59, 900}, LONG bias = 0) {
  return sim::Clock(sim::Clock::SystemTimeToFileTime(boot), bias);
}

TEST(ClockTest, DueWorkRunsInTimeOrderAtItsOwnTime) {
  auto c = MakeClock();
  std::vector<std::pair<int, ULONGLONG>> ran;
  c.ScheduleAt(300, [&] { ran.emplace_back(3, c.NowMs()); });
  c.ScheduleAt(100, [&] { ran.emplace_back(1, c.NowMs()); });
  c.ScheduleAt(100, [&] { ran.emplace_back(2, c.NowMs()); });  // tie: scheduling order
  const auto cancelled = c.ScheduleAt(200, [&] { ran.emplace_back(99, c.NowMs()); });
  EXPECT_TRUE(c.Cancel(cancelled));
  EXPECT_FALSE(c.Cancel(cancelled));
  c.AdvanceTo(250);
  EXPECT_EQ(c.NowMs(), 250u);
  c.AdvanceBy(100);
  ASSERT_EQ(ran.size(), 3u);
  EXPECT_EQ(ran[0], std::make_pair(1, ULONGLONG{100}));
  EXPECT_EQ(ran[1], std::make_pair(2, ULONGLONG{100}));
  EXPECT_EQ(ran[2], std::make_pair(3, ULONGLONG{300}));
}

TEST(ClockTest, WorkScheduledWhileAdvancingRunsWhenItFallsDueInTheSameAdvance) {
  auto c = MakeClock();
  std::vector<ULONGLONG> ticks;
  std::function<void()> tick = [&] {
    ticks.push_back(c.NowMs());
    if (ticks.size() < 5) c.ScheduleAt(c.NowMs() + 1000, tick);
  };
  c.ScheduleAt(1000, tick);
  c.AdvanceBy(3500);
  EXPECT_EQ(ticks, (std::vector<ULONGLONG>{1000, 2000, 3000}));
  c.AdvanceBy(10000);
  EXPECT_EQ(ticks.size(), 5u);
  EXPECT_FALSE(c.NextDue().has_value());
}

TEST(ClockTest, WallAndLocalTimeCrossMidnightAndYearEnds) {
  auto c = MakeClock({2026, 12, 0, 31, 23, 59, 59, 900}, -60);  // UTC+1
  SYSTEMTIME utc = c.UtcSystemTime();
  EXPECT_EQ(utc.wYear, 2026);
  EXPECT_EQ(utc.wDay, 31);
  SYSTEMTIME local = c.LocalSystemTime();
  EXPECT_EQ(local.wYear, 2027);
  EXPECT_EQ(local.wMonth, 1);
  EXPECT_EQ(local.wDay, 1);
  EXPECT_EQ(local.wHour, 0);
  c.AdvanceBy(100);
  utc = c.UtcSystemTime();
  EXPECT_EQ(utc.wYear, 2027);
  EXPECT_EQ(utc.wMonth, 1);
  EXPECT_EQ(utc.wDay, 1);
  EXPECT_EQ(utc.wHour, 0);
  EXPECT_EQ(utc.wMilliseconds, 0);
  EXPECT_EQ(utc.wDayOfWeek, 5);  // 2027-01-01 is a Friday
  // A leap day round-trips.
  const SYSTEMTIME leap{2028, 2, 2, 29, 12, 30, 15, 250};
  const SYSTEMTIME back = sim::Clock::FileTimeToSystemTime(sim::Clock::SystemTimeToFileTime(leap));
  EXPECT_EQ(back.wMonth, 2);
  EXPECT_EQ(back.wDay, 29);
  EXPECT_EQ(back.wSecond, 15);
  EXPECT_EQ(back.wMilliseconds, 250);
  EXPECT_EQ(back.wDayOfWeek, 2);  // a Tuesday
}

TEST(ClockTest, WaiterOnAnotherThreadWakesWhenTimeReachesItsDeadline) {
  auto c = MakeClock();
  bool woke = false;
  std::thread waiter([&] {
    c.WaitUntil([&] { return c.NowMs() >= 5000; });
    woke = true;
  });
  c.AdvanceBy(4999);
  c.AdvanceBy(1);
  waiter.join();
  EXPECT_TRUE(woke);
}

// Reading the clock never waits for its bookkeeping. A cancelled item's callback is
// destroyed while the clock updates its list; an object it owns that reads the time as it
// goes (a trace scope does, through GetTickCount) must not block on the clock.
TEST(ClockTest, ReadingTheTimeNeverWaitsForTheClocksOwnBookkeeping) {
  // Kept on the heap and left behind if the read ever blocks: the stuck thread still
  // refers to it.
  auto* c = new sim::Clock(MakeClock());
  c->AdvanceTo(1234);
  struct ReadsTimeWhenDestroyed {
    sim::Clock* clock;
    std::shared_ptr<std::atomic<ULONGLONG>> seen;
    ~ReadsTimeWhenDestroyed() {
      if (clock) seen->store(clock->NowMs());
    }
  };
  auto seen = std::make_shared<std::atomic<ULONGLONG>>(0);
  auto reader = std::make_shared<ReadsTimeWhenDestroyed>(ReadsTimeWhenDestroyed{c, seen});
  const uint64_t id = c->ScheduleAt(5000, [reader] {});
  reader.reset();  // the scheduled item now holds the only reference
  // On a thread of its own, so that a read that blocks fails this test instead of hanging
  // it; the bound is for a stuck thread, not a speed claim.
  std::packaged_task<bool()> cancel([c, id] { return c->Cancel(id); });
  std::future<bool> cancelled = cancel.get_future();
  std::thread t(std::move(cancel));
  if (cancelled.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
    t.detach();
    FAIL() << "reading the time blocked on the clock's own lock";
  }
  t.join();
  EXPECT_TRUE(cancelled.get());
  EXPECT_EQ(seen->load(), 1234u);
  delete c;
}

TEST(ClockTest, ReadersOnOtherThreadsSeeTimeOnlyMoveForward) {
  auto c = MakeClock();
  std::atomic<bool> done{false};
  std::atomic<bool> backwards{false};
  std::vector<std::thread> readers;
  for (int i = 0; i < 2; ++i) {
    readers.emplace_back([&] {
      ULONGLONG last = 0;
      while (!done.load()) {
        const ULONGLONG now = c.NowMs();
        if (now < last) backwards = true;
        last = now;
      }
    });
  }
  std::vector<ULONGLONG> at;
  for (ULONGLONG due = 10; due <= 1000; due += 10)
    c.ScheduleAt(due, [&] { at.push_back(c.NowMs()); });
  for (int step = 0; step < 100; ++step) c.AdvanceBy(7);
  done = true;
  for (auto& r : readers) r.join();
  EXPECT_FALSE(backwards.load());
  // Each item still sees exactly its own due time.
  ASSERT_EQ(at.size(), 70u);
  for (std::size_t i = 0; i < at.size(); ++i) EXPECT_EQ(at[i], (i + 1) * 10) << i;
}

}  // namespace
