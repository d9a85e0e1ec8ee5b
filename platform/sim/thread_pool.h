// The simulated machine's thread pool: registered waits and timer-queue timers whose
// callbacks run on real worker threads, timed by the virtual clock.
//
//   machine.AdvanceBy(75);        // a due timer tick runs on a worker; returns when it ended
//   machine.Pool().SetSettleWaitsForCallbacks(false);
//   machine.AdvanceBy(75);        // returns once the due ticks have started
//
// Busy and idle. The machine waits for the pool after every clock step (WaitIdle), so a
// test sees the effects of the callbacks that time started. A thread counts as busy while
// it runs a pool callback, except while that callback is blocked in a platform wait or
// Sleep (it then waits on the virtual clock like everyone else). A thread that is not a
// pool worker counts as busy from the moment a signal or a time-out ends its blocking
// platform wait (or input it waits for reaches its MsgWaitForMultipleObjects) until it blocks in one again or ends: so a watcher thread that a registry
// change wakes has done its work (posted its message, re-armed) when WaitIdle returns. The
// platform waits are the kernel's waits and Sleep, and MsgWaitForMultipleObjects. A thread
// that has started but not yet blocked is not seen at all.
// WaitIdle never waits for the calling thread itself.
//
// Waiting for a running callback (UnregisterWaitEx or DeleteTimerQueueTimer with
// INVALID_HANDLE_VALUE, or a process ending) blocks the real thread. If that callback is
// itself sleeping on the virtual clock and the waiting thread is the one that drives the
// clock, nothing moves time any more: the same deadlock Windows has when a callback waits
// for the thread that is deleting it. Tests end such callbacks first.
//
// Waits are re-armed after their callback returns (not while it runs), so a signal that
// arrives during a callback is seen once the callback ends, and a manual-reset event left
// signalled fires again and again, as on Windows, one callback at a time.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/win_types.h"

namespace sim {

class Machine;
class Process;
class KernelObject;

// A process's registered waits and timer-queue timers, live and how often they called back.
struct PoolCounts {
  size_t waits = 0;   // registered, not yet unregistered
  size_t timers = 0;  // created, not yet deleted (a one-shot that fired still counts)
  uint64_t waitCallbacks = 0;   // since boot: a signal or a time-out ended a wait
  uint64_t timerCallbacks = 0;  // since boot: ticks that ran

  bool operator==(const PoolCounts&) const = default;
};

class ThreadPool {
 public:
  // How a delete or an unregister treats callbacks still running.
  enum class Completion {
    kNone,   // return at once; ERROR_IO_PENDING when a callback still runs
    kWait,   // block until running callbacks end (not the caller's own callback)
    kEvent,  // signal an event when they end
  };

  explicit ThreadPool(Machine& m);
  ~ThreadPool();
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  // Blocks until no callback is queued or running (see the busy rules above). With
  // SetSettleWaitsForCallbacks(false), only until every queued callback has started.
  void WaitIdle();
  bool IsIdle() const;
  // Off lets a test keep a callback blocked while time moves on: a periodic tick that
  // falls due meanwhile then runs concurrently on another worker, as on Windows.
  void SetSettleWaitsForCallbacks(bool on);
  size_t WorkerCount() const;

  // Runs `work` on a worker, with `owner` as the current process (may be null).
  void Queue(Process* owner, std::function<void()> work);
  bool IsWorkerThread() const;

  // Busy accounting for blocking waits: the calling thread stops counting as busy while
  // blocked; the thread that ends a wait marks the waiter busy again.
  void MarkBlocking();
  void MarkWoken(std::thread::id thread);

  // ---- Registered waits (RegisterWaitForSingleObject / UnregisterWaitEx) ----
  HANDLE RegisterWait(Process& owner, std::shared_ptr<KernelObject> object,
                      WAITORTIMERCALLBACK callback, PVOID context, ULONG timeoutMs, ULONG flags);
  // ERROR_SUCCESS, ERROR_IO_PENDING (kNone with a callback running: the wait is gone all
  // the same) or ERROR_INVALID_HANDLE.
  DWORD UnregisterWait(DWORD pid, HANDLE wait, Completion mode,
                       std::shared_ptr<KernelObject> event);

  // ---- Timer-queue timers (default queue) ----
  HANDLE CreateTimer(Process& owner, WAITORTIMERCALLBACK callback, PVOID parameter, DWORD dueMs,
                     DWORD periodMs, ULONG flags);
  DWORD ChangeTimer(DWORD pid, HANDLE timer, DWORD dueMs, DWORD periodMs);
  DWORD DeleteTimer(DWORD pid, HANDLE timer, Completion mode, std::shared_ptr<KernelObject> event);

  PoolCounts Counts(DWORD pid) const;

  // Ends every wait and timer of a process, waiting for their running callbacks.
  void RemoveProcess(DWORD pid);

  // The thread id a registered wait uses when it takes a mutex (the pool's wait thread).
  static constexpr DWORD kWaitThreadId = 8;

  struct State;

 private:
  struct Callbacks;
  struct PoolWait;
  struct PoolTimer;

  void ArmWait(const std::shared_ptr<PoolWait>& w);
  void QueueWaitCallback(const std::shared_ptr<PoolWait>& w, bool timedOut);
  void ScheduleTimerLocked(const std::shared_ptr<PoolTimer>& t, DWORD dueMs);
  void OnTimerDue(const std::weak_ptr<PoolTimer>& weak, uint64_t epoch);
  void QueueTick(const std::shared_ptr<PoolTimer>& t);
  DWORD Finish(Callbacks& cb, std::unique_lock<std::mutex>& lk, Completion mode,
               std::shared_ptr<KernelObject> event);
  void SignalCompletion(std::shared_ptr<KernelObject> event);

  Machine& m_machine;
  std::shared_ptr<State> m_state;

  mutable std::mutex m_tableMu;  // guards the tables below
  std::map<HANDLE, std::shared_ptr<PoolWait>> m_waits;
  std::map<HANDLE, std::shared_ptr<PoolTimer>> m_timers;
  std::map<DWORD, std::pair<uint64_t, uint64_t>> m_callbacks;  // pid -> waits', timers' ran

  void NoteCallback(DWORD pid, bool timer);
};

}  // namespace sim
