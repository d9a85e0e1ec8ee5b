// The simulated machine's virtual clock.
//
// Time moves only when something advances it: a test, the simulator, or a simulated Sleep.
// Work scheduled on the clock runs on the advancing thread, in due-time order (ties in
// scheduling order), with Now() equal to its due time, so a 60-second rule is exact.
//
//   sim::Clock& c = machine.GetClock();
//   c.ScheduleAt(c.NowMs() + 1500, [] { ... });
//   c.AdvanceTo(c.NowMs() + 2000);   // runs it at +1500, returns at +2000
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>

#include "platform/win_types.h"

namespace sim {

class Clock {
 public:
  using Callback = std::function<void()>;
  // Called after each due item has run (and once more at the end of an advance); the
  // machine uses it to wait for pool callbacks and, when `pump` is set, to pump the
  // advancing thread's windows. A Sleep or a wait advances without pumping: those do not
  // dispatch messages on Windows either.
  using Settle = std::function<void(bool pump)>;

  // bootUtc: wall-clock time at tick 0, as a FILETIME count (100 ns since 1601).
  // localBiasMinutes: UTC = local + bias (Windows' sign convention; UTC+1 is -60).
  Clock(ULONGLONG bootUtcFileTime, LONG localBiasMinutes);

  // Reading the time takes no lock (one atomic load), as GetTickCount on Windows reads
  // shared memory: the tracer's gate and timing code pay for the agent, not the simulation.
  ULONGLONG NowMs() const { return m_now.load(std::memory_order_acquire); }
  ULONGLONG UtcFileTime() const;
  SYSTEMTIME UtcSystemTime() const;
  SYSTEMTIME LocalSystemTime() const;
  LONG LocalBiasMinutes() const { return m_biasMinutes; }

  uint64_t ScheduleAt(ULONGLONG dueMs, Callback cb);
  // False when the item already ran or was cancelled.
  bool Cancel(uint64_t id);
  std::optional<ULONGLONG> NextDue() const;

  // Moves time forward to `target` (never backwards), running due items in order.
  // Re-entrant on the advancing thread (a callback may Sleep); other threads wait their turn.
  void AdvanceTo(ULONGLONG target, bool pump = false);
  void AdvanceBy(ULONGLONG ms, bool pump = false) { AdvanceTo(NowMs() + ms, pump); }
  void SetSettle(Settle s);

  // Blocks the calling (real) thread until `pred()` holds, re-checked whenever time moves
  // or Notify() is called. Used by waits that end on the clock or on a signal.
  void WaitUntil(const std::function<bool()>& pred);
  void Notify();

  static SYSTEMTIME FileTimeToSystemTime(ULONGLONG ft);
  static ULONGLONG SystemTimeToFileTime(const SYSTEMTIME& st);

 private:
  mutable std::mutex m_mu;
  std::condition_variable m_cv;
  std::recursive_mutex m_advance;
  // Written only under m_mu (time moves as the items and waits under it expect), read
  // anywhere without it.
  std::atomic<ULONGLONG> m_now{0};
  static_assert(std::atomic<ULONGLONG>::is_always_lock_free);
  ULONGLONG m_bootUtc;
  LONG m_biasMinutes;
  uint64_t m_nextId = 1;
  uint64_t m_generation = 0;
  // (due, id) -> callback: ordered by due time, then by scheduling order.
  std::map<std::pair<ULONGLONG, uint64_t>, Callback> m_items;
  Settle m_settle;
};

}  // namespace sim
