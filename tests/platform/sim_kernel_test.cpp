// Kernel objects, waits, the thread pool and timer queues of the simulated machine, seen
// through processes' IKernel.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "platform/handles.h"
#include "platform/sim/desktop.h"
#include "platform/sim/file_system.h"
#include "platform/sim/machine.h"
#include "platform/sim/object_manager.h"
#include "platform/sim/process.h"
#include "platform/sim/program_table.h"
#include "platform/sim/registry_store.h"
#include "platform/sim/thread_pool.h"

namespace {

using platform::UniqueHandle;

constexpr const wchar_t* kAgentMutex = L"Veridane Classic5.x Agent";

class SimKernelTest : public ::testing::Test {
 protected:
  SimKernelTest()
      : m_p1(m_machine.CreateProcess({.sessionId = 1})),
        m_p2(m_machine.CreateProcess({.sessionId = 2})),
        m_k(m_p1->Kernel()) {}

  ULONGLONG Now() { return m_machine.GetClock().NowMs(); }
  // Until `n` threads or pool waits are queued on the object.
  void AwaitWaiters(HANDLE h, size_t n) {
    while (m_machine.Objects().WaiterCount(m_p1->Pid(), h) < n) std::this_thread::yield();
  }

  sim::Machine m_machine;
  std::unique_ptr<sim::Process> m_p1;
  std::unique_ptr<sim::Process> m_p2;
  platform::IKernel& m_k;
};

// ---- Named objects --------------------------------------------------------------------------

TEST_F(SimKernelTest, SecondInstanceInTheSameSessionSeesTheMutexOthersDoNot) {
  UniqueHandle first(m_k, m_k.CreateMutexW(nullptr, FALSE, kAgentMutex));
  ASSERT_TRUE(first);
  EXPECT_EQ(m_k.GetLastError(), ERROR_SUCCESS);

  auto second = m_machine.CreateProcess({.sessionId = 1});
  UniqueHandle dup(second->Kernel(), second->Kernel().CreateMutexW(nullptr, FALSE, kAgentMutex));
  ASSERT_TRUE(dup);  // a handle to the same mutex, not a failure
  EXPECT_EQ(second->Kernel().GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_NE(dup.get(), first.get());

  // Another session has a namespace of its own; "Local\" is that namespace too.
  platform::IKernel& k2 = m_p2->Kernel();
  k2.SetLastError(77);
  UniqueHandle other(k2, k2.CreateMutexW(nullptr, FALSE, kAgentMutex));
  EXPECT_EQ(k2.GetLastError(), ERROR_SUCCESS);
  UniqueHandle local(k2, k2.CreateMutexW(nullptr, FALSE, L"Local\\Veridane Classic5.x Agent"));
  EXPECT_EQ(k2.GetLastError(), ERROR_ALREADY_EXISTS);

  // Kernel-object names are case-sensitive.
  UniqueHandle upper(m_k, m_k.CreateMutexW(nullptr, FALSE, L"VERIDANE CLASSIC5.X AGENT"));
  EXPECT_EQ(m_k.GetLastError(), ERROR_SUCCESS);
}

TEST_F(SimKernelTest, GlobalNamesAreMachineWide) {
  UniqueHandle ready(m_p2->Kernel(),
                     m_p2->Kernel().CreateEventW(nullptr, TRUE, FALSE, L"Global\\VDHostReady"));
  ASSERT_TRUE(ready);
  UniqueHandle opened(m_k, m_k.OpenEventW(SYNCHRONIZE, FALSE, L"Global\\VDHostReady"));
  ASSERT_TRUE(opened);
  EXPECT_EQ(m_k.WaitForSingleObject(opened.get(), 0), WAIT_TIMEOUT);
  ASSERT_TRUE(m_p2->Kernel().SetEvent(ready.get()));
  EXPECT_EQ(m_k.WaitForSingleObject(opened.get(), 0), WAIT_OBJECT_0);
  // Without the prefix the name is looked up in session 1 only.
  EXPECT_EQ(m_k.OpenEventW(SYNCHRONIZE, FALSE, L"VDHostReady"), nullptr);
  EXPECT_EQ(m_k.GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(m_machine.Objects().NameExists(7, L"Global\\VDHostReady"));
}

TEST_F(SimKernelTest, NameGoesWithTheLastHandleAndWithTheProcess) {
  HANDLE a = m_k.CreateMutexW(nullptr, FALSE, kAgentMutex);
  HANDLE b = m_k.CreateMutexW(nullptr, FALSE, kAgentMutex);
  EXPECT_EQ(m_k.GetLastError(), ERROR_ALREADY_EXISTS);
  ASSERT_TRUE(m_k.CloseHandle(a));
  EXPECT_TRUE(m_machine.Objects().NameExists(1, kAgentMutex));
  ASSERT_TRUE(m_k.CloseHandle(b));
  EXPECT_FALSE(m_machine.Objects().NameExists(1, kAgentMutex));
  UniqueHandle fresh(m_k, m_k.CreateMutexW(nullptr, FALSE, kAgentMutex));
  EXPECT_EQ(m_k.GetLastError(), ERROR_SUCCESS);
  fresh.reset();

  // An agent that ends without closing its handles frees the name all the same.
  auto agent = m_machine.CreateProcess({.sessionId = 1});
  agent->Kernel().CreateMutexW(nullptr, FALSE, kAgentMutex);
  agent->Kernel().CreateEventW(nullptr, TRUE, FALSE, L"Global\\AgentEvent");
  EXPECT_EQ(m_machine.Objects().HandleCount(agent->Pid()), 2u);
  const DWORD pid = agent->Pid();
  agent.reset();
  EXPECT_EQ(m_machine.Objects().HandleCount(pid), 0u);
  EXPECT_FALSE(m_machine.Objects().NameExists(1, kAgentMutex));
  EXPECT_FALSE(m_machine.Objects().NameExists(1, L"Global\\AgentEvent"));
}

TEST_F(SimKernelTest, NameHeldByAnotherKindOfObject) {
  UniqueHandle ev(m_k, m_k.CreateEventW(nullptr, TRUE, FALSE, L"Veridane Agent Command"));
  EXPECT_EQ(m_k.CreateMutexW(nullptr, FALSE, L"Veridane Agent Command"), nullptr);
  EXPECT_EQ(m_k.GetLastError(), ERROR_INVALID_HANDLE);
  UniqueHandle mutex(m_k, m_k.CreateMutexW(nullptr, FALSE, L"JustAMutex"));
  EXPECT_EQ(m_k.CreateEventW(nullptr, TRUE, FALSE, L"JustAMutex"), nullptr);
  EXPECT_EQ(m_k.GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(m_k.OpenEventW(SYNCHRONIZE, FALSE, L"JustAMutex"), nullptr);
  EXPECT_EQ(m_k.GetLastError(), ERROR_INVALID_HANDLE);
  // Operations of the other kind are refused on the handle too.
  EXPECT_FALSE(m_k.SetEvent(mutex.get()));
  EXPECT_EQ(m_k.GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(m_k.ReleaseMutex(ev.get()));
  EXPECT_EQ(m_k.GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(SimKernelTest, HandleValuesAreUniqueAndNeverLookInvalid) {
  std::set<HANDLE> seen;
  std::vector<UniqueHandle> handles;
  for (int i = 0; i < 50; ++i) {
    handles.emplace_back(m_k, i % 2 ? m_k.CreateEventW(nullptr, FALSE, FALSE, nullptr)
                                    : m_k.CreateMutexW(nullptr, FALSE, nullptr));
    HANDLE h = handles.back().get();
    EXPECT_NE(h, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(seen.insert(h).second);
  }
  EXPECT_FALSE(m_k.CloseHandle(reinterpret_cast<HANDLE>(0x10)));
  EXPECT_EQ(m_k.GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(m_k.WaitForSingleObject(reinterpret_cast<HANDLE>(0x10), 0), WAIT_FAILED);
}

// ---- Mutex ownership and events --------------------------------------------------------------

TEST_F(SimKernelTest, MutexBelongsToAThreadAndCountsRecursion) {
  UniqueHandle m(m_k, m_k.CreateMutexW(nullptr, TRUE, nullptr));
  EXPECT_EQ(m_k.WaitForSingleObject(m.get(), 0), WAIT_OBJECT_0);  // owner again: recursion 2
  auto fromOtherThread = [&](auto fn) {
    decltype(fn()) r{};
    std::thread([&] { r = fn(); }).join();
    return r;
  };
  EXPECT_EQ(fromOtherThread([&] { return m_k.WaitForSingleObject(m.get(), 0); }), WAIT_TIMEOUT);
  EXPECT_EQ(
      fromOtherThread([&] { return m_k.ReleaseMutex(m.get()) ? DWORD{0} : m_k.GetLastError(); }),
      static_cast<DWORD>(ERROR_NOT_OWNER));
  ASSERT_TRUE(m_k.ReleaseMutex(m.get()));
  EXPECT_EQ(fromOtherThread([&] { return m_k.WaitForSingleObject(m.get(), 0); }), WAIT_TIMEOUT);
  ASSERT_TRUE(m_k.ReleaseMutex(m.get()));
  EXPECT_FALSE(m_k.ReleaseMutex(m.get()));
  EXPECT_EQ(m_k.GetLastError(), ERROR_NOT_OWNER);
  // Free now: another thread takes it (and keeps it, since that thread never releases).
  EXPECT_EQ(fromOtherThread([&] { return m_k.WaitForSingleObject(m.get(), 0); }), WAIT_OBJECT_0);
  EXPECT_EQ(m_k.WaitForSingleObject(m.get(), 0), WAIT_TIMEOUT);
}

TEST_F(SimKernelTest, AutoResetEventsAreConsumedManualOnesStay) {
  UniqueHandle autoEv(m_k, m_k.CreateEventW(nullptr, FALSE, TRUE, nullptr));
  EXPECT_EQ(m_k.WaitForSingleObject(autoEv.get(), 0), WAIT_OBJECT_0);
  EXPECT_EQ(m_k.WaitForSingleObject(autoEv.get(), 0), WAIT_TIMEOUT);
  UniqueHandle manual(m_k, m_k.CreateEventW(nullptr, TRUE, FALSE, nullptr));
  m_k.SetEvent(manual.get());
  EXPECT_EQ(m_k.WaitForSingleObject(manual.get(), 0), WAIT_OBJECT_0);
  EXPECT_EQ(m_k.WaitForSingleObject(manual.get(), 0), WAIT_OBJECT_0);
  m_k.ResetEvent(manual.get());
  EXPECT_EQ(m_k.WaitForSingleObject(manual.get(), 0), WAIT_TIMEOUT);
  // Opening an existing event keeps its kind and state, whatever the new call asks.
  UniqueHandle named(m_k, m_k.CreateEventW(nullptr, TRUE, TRUE, L"Named"));
  UniqueHandle again(m_k, m_k.CreateEventW(nullptr, FALSE, FALSE, L"Named"));
  EXPECT_EQ(m_k.WaitForSingleObject(again.get(), 0), WAIT_OBJECT_0);
  EXPECT_EQ(m_k.WaitForSingleObject(again.get(), 0), WAIT_OBJECT_0);
}

// ---- Waits ----------------------------------------------------------------------------------

TEST_F(SimKernelTest, InfiniteWaitsBlockUntilAnotherThreadSignals) {
  UniqueHandle ev(m_k, m_k.CreateEventW(nullptr, FALSE, FALSE, nullptr));
  std::atomic<int> woke{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 2; ++i)
    waiters.emplace_back([&] {
      if (m_k.WaitForSingleObject(ev.get(), INFINITE) == WAIT_OBJECT_0) ++woke;
    });
  AwaitWaiters(ev.get(), 2);
  // An auto-reset event releases exactly one waiter per signal.
  m_k.SetEvent(ev.get());
  m_machine.RunUntilIdle();  // the woken thread counts as busy until it ends
  EXPECT_EQ(woke.load(), 1);
  m_k.SetEvent(ev.get());
  for (auto& t : waiters) t.join();
  EXPECT_EQ(woke.load(), 2);
  EXPECT_EQ(Now(), 0u);  // nothing moved the clock
}

TEST_F(SimKernelTest, FiniteWaitMovesTheClockToTheDeadline) {
  UniqueHandle ev(m_k, m_k.CreateEventW(nullptr, TRUE, FALSE, nullptr));
  EXPECT_EQ(m_k.WaitForSingleObject(ev.get(), 5000), WAIT_TIMEOUT);
  EXPECT_EQ(Now(), 5000u);
  m_k.Sleep(250);
  EXPECT_EQ(Now(), 5250u);
  EXPECT_EQ(m_k.GetTickCount(), 5250u);
}

TEST_F(SimKernelTest, FiniteWaitEndsWhenSomethingDueOnTheWaySignals) {
  UniqueHandle ev(m_k, m_k.CreateEventW(nullptr, FALSE, FALSE, nullptr));
  struct Ctx {
    platform::IKernel* k;
    HANDLE ev;
  } ctx{&m_k, ev.get()};
  HANDLE timer = nullptr;
  ASSERT_TRUE(m_k.CreateTimerQueueTimer(
      &timer, nullptr,
      [](PVOID p, BOOLEAN) {
        auto* c = static_cast<Ctx*>(p);
        c->k->SetEvent(c->ev);
      },
      &ctx, 1500, 0, 0));
  EXPECT_EQ(m_k.WaitForSingleObject(ev.get(), 60000), WAIT_OBJECT_0);
  EXPECT_EQ(Now(), 1500u);
  EXPECT_TRUE(m_k.DeleteTimerQueueTimer(nullptr, timer, INVALID_HANDLE_VALUE));
}

// ---- Thread-pool waits ------------------------------------------------------------------------

struct WaitRecord {
  explicit WaitRecord(sim::Machine* m) : machine(m) {}
  sim::Machine* machine;
  std::mutex mu;
  std::vector<std::pair<BOOLEAN, ULONGLONG>> calls;  // (timed out, virtual time)
  std::set<DWORD> threads;
  static void CALLBACK Callback(PVOID p, BOOLEAN timedOut) {
    auto* r = static_cast<WaitRecord*>(p);
    std::lock_guard lk(r->mu);
    r->calls.emplace_back(timedOut, r->machine->GetClock().NowMs());
    r->threads.insert(r->machine->CurrentThreadId());
  }
  size_t Count() {
    std::lock_guard lk(mu);
    return calls.size();
  }
};

TEST_F(SimKernelTest, PoolWaitRunsOnAWorkerWhenSignalledOrTimedOut) {
  UniqueHandle ev(m_k, m_k.CreateEventW(nullptr, FALSE, FALSE, nullptr));
  WaitRecord rec(&m_machine);
  HANDLE wait = nullptr;
  ASSERT_TRUE(m_k.RegisterWaitForSingleObject(&wait, ev.get(), &WaitRecord::Callback, &rec, 1000,
                                              WT_EXECUTEDEFAULT));
  m_machine.AdvanceBy(999);
  EXPECT_EQ(rec.Count(), 0u);
  m_machine.AdvanceBy(1);
  ASSERT_EQ(rec.Count(), 1u);
  EXPECT_EQ(rec.calls[0], std::make_pair(BOOLEAN{TRUE}, ULONGLONG{1000}));
  // Re-armed after the callback: the next time-out counts from then.
  m_machine.AdvanceBy(400);
  m_k.SetEvent(ev.get());
  m_machine.RunUntilIdle();  // returns once the callback it started has run
  ASSERT_EQ(rec.Count(), 2u);
  EXPECT_EQ(rec.calls[1], std::make_pair(BOOLEAN{FALSE}, ULONGLONG{1400}));
  m_machine.AdvanceBy(1000);
  ASSERT_EQ(rec.Count(), 3u);
  EXPECT_EQ(rec.calls[2], std::make_pair(BOOLEAN{TRUE}, ULONGLONG{2400}));
  EXPECT_EQ(rec.threads.count(m_machine.CurrentThreadId()), 0u);  // never on this thread
  // The auto-reset event was consumed by the pool's wait.
  EXPECT_EQ(m_k.WaitForSingleObject(ev.get(), 0), WAIT_TIMEOUT);
  EXPECT_TRUE(m_k.UnregisterWaitEx(wait, INVALID_HANDLE_VALUE));
  m_machine.AdvanceBy(5000);
  EXPECT_EQ(rec.Count(), 3u);
}

TEST_F(SimKernelTest, ExecuteOnlyOnceFiresOneTime) {
  UniqueHandle ev(m_k, m_k.CreateEventW(nullptr, TRUE, TRUE, nullptr));  // already signalled
  WaitRecord rec(&m_machine);
  HANDLE wait = nullptr;
  ASSERT_TRUE(m_k.RegisterWaitForSingleObject(&wait, ev.get(), &WaitRecord::Callback, &rec,
                                              INFINITE, WT_EXECUTEONLYONCE));
  m_machine.RunUntilIdle();
  m_machine.AdvanceBy(1000);
  m_k.SetEvent(ev.get());
  m_machine.RunUntilIdle();
  EXPECT_EQ(rec.Count(), 1u);
  EXPECT_TRUE(m_k.UnregisterWaitEx(wait, nullptr));
  EXPECT_FALSE(m_k.UnregisterWaitEx(wait, nullptr));
  EXPECT_EQ(m_k.GetLastError(), ERROR_INVALID_HANDLE);
}

struct Blocker {
  platform::IKernel* k = nullptr;
  std::atomic<bool> entered{false};
  std::atomic<bool> release{false};
  std::atomic<bool> finished{false};
  std::atomic<int> running{0};
  std::atomic<int> maxRunning{0};
  HANDLE self = nullptr;  // for unregistering from inside
  static void CALLBACK Callback(PVOID p, BOOLEAN) {
    auto* b = static_cast<Blocker*>(p);
    const int now = ++b->running;
    int seen = b->maxRunning.load();
    while (now > seen && !b->maxRunning.compare_exchange_weak(seen, now)) {
    }
    b->entered = true;
    while (!b->release) std::this_thread::yield();
    --b->running;
    b->finished = true;
  }
};

TEST_F(SimKernelTest, UnregisterWaitsForTheRunningCallbackUnlessAskedNotTo) {
  m_machine.Pool().SetSettleWaitsForCallbacks(false);  // let the callback block
  UniqueHandle ev(m_k, m_k.CreateEventW(nullptr, FALSE, FALSE, nullptr));
  Blocker b;
  HANDLE wait = nullptr;
  ASSERT_TRUE(m_k.RegisterWaitForSingleObject(&wait, ev.get(), &Blocker::Callback, &b, INFINITE,
                                              WT_EXECUTEONLYONCE));
  m_k.SetEvent(ev.get());
  m_machine.RunUntilIdle();
  while (!b.entered) std::this_thread::yield();

  std::atomic<bool> unregistered{false};
  std::thread t([&] {
    EXPECT_TRUE(m_k.UnregisterWaitEx(wait, INVALID_HANDLE_VALUE));
    unregistered = true;
  });
  // The unregistering thread is held until the callback ends; it cannot have returned yet.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(unregistered.load());
  b.release = true;
  t.join();
  EXPECT_TRUE(b.finished.load());

  // Without a completion event: the call reports the callback still running.
  Blocker b2;
  ASSERT_TRUE(m_k.RegisterWaitForSingleObject(&wait, ev.get(), &Blocker::Callback, &b2, INFINITE,
                                              WT_EXECUTEONLYONCE));
  m_k.SetEvent(ev.get());
  m_machine.RunUntilIdle();
  while (!b2.entered) std::this_thread::yield();
  EXPECT_FALSE(m_k.UnregisterWaitEx(wait, nullptr));
  EXPECT_EQ(m_k.GetLastError(), ERROR_IO_PENDING);
  b2.release = true;
  m_machine.Pool().SetSettleWaitsForCallbacks(true);
  m_machine.RunUntilIdle();
  EXPECT_TRUE(b2.finished.load());
}

TEST_F(SimKernelTest, UnregisterFromInsideItsOwnCallbackDoesNotDeadlock) {
  UniqueHandle ev(m_k, m_k.CreateEventW(nullptr, FALSE, FALSE, nullptr));
  struct Ctx {
    platform::IKernel* k;
    HANDLE wait = nullptr;
    std::atomic<int> result{-1};
  } ctx{&m_k};
  ASSERT_TRUE(m_k.RegisterWaitForSingleObject(
      &ctx.wait, ev.get(),
      [](PVOID p, BOOLEAN) {
        auto* c = static_cast<Ctx*>(p);
        c->result = c->k->UnregisterWaitEx(c->wait, INVALID_HANDLE_VALUE);
      },
      &ctx, INFINITE, WT_EXECUTEDEFAULT));
  m_k.SetEvent(ev.get());
  m_machine.RunUntilIdle();
  EXPECT_EQ(ctx.result.load(), TRUE);
  m_k.SetEvent(ev.get());
  m_machine.RunUntilIdle();
  EXPECT_EQ(m_k.WaitForSingleObject(ev.get(), 0), WAIT_OBJECT_0);  // nobody consumed it
}

TEST_F(SimKernelTest, UnregisterWithAnEventSignalsItWhenTheCallbackEnds) {
  m_machine.Pool().SetSettleWaitsForCallbacks(false);
  UniqueHandle ev(m_k, m_k.CreateEventW(nullptr, FALSE, TRUE, nullptr));
  UniqueHandle done(m_k, m_k.CreateEventW(nullptr, TRUE, FALSE, nullptr));
  Blocker b;
  HANDLE wait = nullptr;
  ASSERT_TRUE(m_k.RegisterWaitForSingleObject(&wait, ev.get(), &Blocker::Callback, &b, INFINITE,
                                              WT_EXECUTEONLYONCE));
  m_machine.RunUntilIdle();
  while (!b.entered) std::this_thread::yield();
  EXPECT_TRUE(m_k.UnregisterWaitEx(wait, done.get()));
  EXPECT_EQ(m_k.WaitForSingleObject(done.get(), 0), WAIT_TIMEOUT);
  b.release = true;
  EXPECT_EQ(m_k.WaitForSingleObject(done.get(), INFINITE), WAIT_OBJECT_0);
}

// ---- Timer-queue timers -----------------------------------------------------------------------

TEST_F(SimKernelTest, PeriodicTimerTicksOnTheVirtualClock) {
  WaitRecord rec(&m_machine);
  HANDLE timer = nullptr;
  ASSERT_TRUE(m_k.CreateTimerQueueTimer(&timer, nullptr, &WaitRecord::Callback, &rec, 100, 50,
                                        WT_EXECUTEDEFAULT));
  m_machine.AdvanceBy(300);
  std::vector<ULONGLONG> times;
  for (auto& c : rec.calls) times.push_back(c.second);
  EXPECT_EQ(times, (std::vector<ULONGLONG>{100, 150, 200, 250, 300}));
  EXPECT_EQ(rec.calls[0].first, TRUE);

  // Changing it restarts it from now with the new due time and period.
  ASSERT_TRUE(m_k.ChangeTimerQueueTimer(nullptr, timer, 1000, 0));
  m_machine.AdvanceBy(999);
  EXPECT_EQ(rec.Count(), 5u);
  m_machine.AdvanceBy(10000);
  EXPECT_EQ(rec.Count(), 6u);
  EXPECT_EQ(rec.calls.back().second, 1300u);

  EXPECT_TRUE(m_k.DeleteTimerQueueTimer(nullptr, timer, INVALID_HANDLE_VALUE));
  EXPECT_FALSE(m_k.ChangeTimerQueueTimer(nullptr, timer, 10, 10));
  EXPECT_EQ(m_k.GetLastError(), ERROR_INVALID_HANDLE);

  // Due 0 runs at once, without the clock moving.
  ASSERT_TRUE(m_k.CreateTimerQueueTimer(&timer, nullptr, &WaitRecord::Callback, &rec, 0, 0,
                                        WT_EXECUTEDEFAULT));
  m_machine.RunUntilIdle();
  EXPECT_EQ(rec.Count(), 7u);
  EXPECT_EQ(rec.calls.back().second, Now());
  EXPECT_TRUE(m_k.DeleteTimerQueueTimer(nullptr, timer, INVALID_HANDLE_VALUE));
}

TEST_F(SimKernelTest, ExpiredOneShotTimerIsNotChangedAsOnWindows) {
  WaitRecord rec(&m_machine);
  HANDLE timer = nullptr;
  ASSERT_TRUE(m_k.CreateTimerQueueTimer(&timer, nullptr, &WaitRecord::Callback, &rec, 0x1FFFFFFF, 0,
                                        WT_EXECUTELONGFUNCTION));
  // Still pending: a change re-arms it.
  ASSERT_TRUE(m_k.ChangeTimerQueueTimer(nullptr, timer, 10, 0));
  m_machine.AdvanceBy(10);
  EXPECT_EQ(rec.Count(), 1u);
  // Expired one-shot: the call succeeds and nothing happens.
  EXPECT_TRUE(m_k.ChangeTimerQueueTimer(nullptr, timer, 10, 75));
  m_machine.AdvanceBy(1000);
  EXPECT_EQ(rec.Count(), 1u);
  EXPECT_TRUE(m_k.DeleteTimerQueueTimer(nullptr, timer, nullptr));
}

TEST_F(SimKernelTest, OverlappingTicksRunConcurrentlyWhenSettlingDoesNotWait) {
  m_machine.Pool().SetSettleWaitsForCallbacks(false);
  Blocker b;
  HANDLE timer = nullptr;
  ASSERT_TRUE(m_k.CreateTimerQueueTimer(&timer, nullptr, &Blocker::Callback, &b, 75, 75,
                                        WT_EXECUTEDEFAULT));
  m_machine.AdvanceBy(75);
  while (!b.entered) std::this_thread::yield();
  m_machine.AdvanceBy(75);  // returns once the second tick has started
  // The callback counts itself running before it records the highest count: wait for the
  // record, or the check races the second callback's bookkeeping.
  while (b.maxRunning.load() < 2) std::this_thread::yield();
  EXPECT_EQ(b.running.load(), 2);
  EXPECT_EQ(b.maxRunning.load(), 2);
  EXPECT_GE(m_machine.Pool().WorkerCount(), 2u);
  b.release = true;
  EXPECT_TRUE(m_k.DeleteTimerQueueTimer(nullptr, timer, INVALID_HANDLE_VALUE));
  EXPECT_EQ(b.running.load(), 0);
}

TEST_F(SimKernelTest, DeleteWaitsForARunningTick) {
  m_machine.Pool().SetSettleWaitsForCallbacks(false);
  Blocker b;
  HANDLE timer = nullptr;
  ASSERT_TRUE(
      m_k.CreateTimerQueueTimer(&timer, nullptr, &Blocker::Callback, &b, 0, 0, WT_EXECUTEDEFAULT));
  while (!b.entered) std::this_thread::yield();
  std::atomic<bool> deleted{false};
  std::thread t([&] {
    EXPECT_TRUE(m_k.DeleteTimerQueueTimer(nullptr, timer, INVALID_HANDLE_VALUE));
    deleted = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(deleted.load());
  b.release = true;
  t.join();
  EXPECT_TRUE(b.finished.load());
}

// ---- Callbacks that wait ---------------------------------------------------------------------

TEST_F(SimKernelTest, CallbackSleepingWaitsForTheClockAndCountsAsIdleMeanwhile) {
  struct Ctx {
    platform::IKernel* k;
    sim::Machine* m;
    std::atomic<ULONGLONG> wokeAt{0};
  } ctx{&m_k, &m_machine};
  HANDLE timer = nullptr;
  ASSERT_TRUE(m_k.CreateTimerQueueTimer(
      &timer, nullptr,
      [](PVOID p, BOOLEAN) {
        auto* c = static_cast<Ctx*>(p);
        c->k->Sleep(100);
        c->wokeAt = c->m->GetClock().NowMs();
      },
      &ctx, 10, 0, WT_EXECUTEDEFAULT));
  m_machine.AdvanceBy(60);  // the tick started at 10 and sleeps until 110
  EXPECT_EQ(ctx.wokeAt.load(), 0u);
  EXPECT_EQ(Now(), 60u);
  m_machine.AdvanceBy(60);  // returns only after the woken callback finished
  EXPECT_EQ(ctx.wokeAt.load(), 110u);
  EXPECT_TRUE(m_k.DeleteTimerQueueTimer(nullptr, timer, INVALID_HANDLE_VALUE));
}

TEST_F(SimKernelTest, ThreadWokenByASignalCountsAsBusyUntilItWaitsAgain) {
  UniqueHandle ev(m_k, m_k.CreateEventW(nullptr, FALSE, FALSE, nullptr));
  UniqueHandle stop(m_k, m_k.CreateEventW(nullptr, TRUE, FALSE, nullptr));
  std::atomic<int> handled{0};
  std::thread watcher([&] {
    for (;;) {
      m_k.WaitForSingleObject(ev.get(), INFINITE);
      if (m_k.WaitForSingleObject(stop.get(), 0) == WAIT_OBJECT_0) return;
      // Slow work after the wake-up: the machine must wait for it all the same.
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      ++handled;
    }
  });
  for (int i = 1; i <= 3; ++i) {
    AwaitWaiters(ev.get(), 1);
    m_k.SetEvent(ev.get());
    m_machine.RunUntilIdle();
    EXPECT_EQ(handled.load(), i);
  }
  m_k.SetEvent(stop.get());
  m_k.SetEvent(ev.get());
  watcher.join();
  m_machine.RunUntilIdle();  // the ended thread no longer counts
}

// ---- Process facts, clocks, COM --------------------------------------------------------------

TEST_F(SimKernelTest, ModuleAndSystemNamesFollowWin32BufferRules) {
  WCHAR buf[MAX_PATH];
  const std::wstring exe = m_p1->ExePath();
  EXPECT_EQ(m_k.GetModuleFileNameW(nullptr, buf, MAX_PATH), exe.size());
  EXPECT_EQ(std::wstring(buf), exe);
  m_k.SetLastError(0);
  EXPECT_EQ(m_k.GetModuleFileNameW(nullptr, buf, 10), 10u);
  EXPECT_EQ(std::wstring(buf), exe.substr(0, 9));
  EXPECT_EQ(m_k.GetLastError(), ERROR_INSUFFICIENT_BUFFER);

  const std::wstring sys = L"C:\\Windows\\system32";
  EXPECT_EQ(m_k.GetSystemDirectoryW(buf, 5), sys.size() + 1);
  EXPECT_EQ(m_k.GetSystemDirectoryW(buf, MAX_PATH), sys.size());
  EXPECT_EQ(std::wstring(buf), sys);

  DWORD size = 3;
  EXPECT_FALSE(m_k.GetComputerNameW(buf, &size));
  EXPECT_EQ(m_k.GetLastError(), ERROR_BUFFER_OVERFLOW);
  EXPECT_EQ(size, 9u);  // "VDSIM-PC" and its zero
  EXPECT_TRUE(m_k.GetComputerNameW(buf, &size));
  EXPECT_EQ(std::wstring(buf, size), L"VDSIM-PC");

  EXPECT_EQ(m_k.GetCurrentProcessId(), m_p1->Pid());
  EXPECT_NE(m_p1->Pid(), m_p2->Pid());
}

TEST_F(SimKernelTest, VersionsComeFromTheDescriptionAndTheVersionTable) {
  OSVERSIONINFOEXW v{};
  v.dwOSVersionInfoSize = sizeof v;
  ASSERT_TRUE(m_k.GetVersionExW(&v));
  EXPECT_EQ(v.dwMajorVersion, 10u);
  EXPECT_EQ(v.dwBuildNumber, 19045u);
  EXPECT_EQ(v.wProductType, VER_NT_WORKSTATION);
  v.dwOSVersionInfoSize = 12;
  EXPECT_FALSE(m_k.GetVersionExW(&v));

  WORD parts[4] = {};
  EXPECT_FALSE(m_k.GetFileVersion(m_p1->ExePath().c_str(), parts));
  m_machine.Files().SetFileVersion(L"c:\\program files\\veridane\\agent\\VDAGENT.exe",
                                   {5, 2, 0, 100});
  ASSERT_TRUE(m_k.GetFileVersion(m_p1->ExePath().c_str(), parts));
  EXPECT_EQ(parts[0], 5);
  EXPECT_EQ(parts[3], 100);
  // Relative to the current folder, like any path.
  ASSERT_TRUE(m_k.GetFileVersion(L"VdAgent.exe", parts));
}

TEST_F(SimKernelTest, EnvironmentExpandsPerProcess) {
  WCHAR buf[MAX_PATH];
  const wchar_t* src = L"%ProgramFiles%\\Veridane;%windir%;%NoSuchVar%;100%";
  const std::wstring want = L"C:\\Program Files (x86)\\Veridane;C:\\Windows;%NoSuchVar%;100%";
  EXPECT_EQ(m_k.ExpandEnvironmentStringsW(src, buf, MAX_PATH), want.size() + 1);
  EXPECT_EQ(std::wstring(buf), want);
  EXPECT_EQ(m_k.ExpandEnvironmentStringsW(src, buf, 4), want.size() + 1);
  EXPECT_EQ(m_k.ExpandEnvironmentStringsW(src, nullptr, 0), want.size() + 1);

  // A 64-bit process sees its own Program Files; a test can add machine variables before
  // a process starts.
  m_machine.Registry().SetString(sim::RegistryStore::kMachineEnvironmentPath, L"NXWDINSTALLPATH",
                                 L"%ProgramFiles%\\Veridane", REG_EXPAND_SZ);
  auto native = m_machine.CreateProcess({.sessionId = 1, .is32Bit = false});
  platform::IKernel& nk = native->Kernel();
  nk.ExpandEnvironmentStringsW(L"%PROGRAMFILES%|%nxwdinstallpath%|%ProgramFiles(x86)%", buf,
                               MAX_PATH);
  EXPECT_EQ(std::wstring(buf),
            L"C:\\Program Files|C:\\Program Files\\Veridane|C:\\Program Files (x86)");
  nk.ExpandEnvironmentStringsW(L"%TEMP%", buf, MAX_PATH);
  EXPECT_NE(std::wstring(buf).find(L"\\AppData\\Local\\Temp"), std::wstring::npos);
  EXPECT_TRUE(m_machine.Files().Exists(buf));
}

TEST_F(SimKernelTest, ClocksFollowTheVirtualClock) {
  sim::MachineDescription d;
  d.bootUtc = {2026, 3, 0, 2, 23, 30, 0, 0};
  d.localBiasMinutes = -60;  // UTC+1
  sim::Machine m(d);
  auto p = m.CreateProcess({});
  platform::IKernel& k = p->Kernel();
  SYSTEMTIME local{}, utc{};
  k.GetLocalTime(&local);
  k.GetSystemTime(&utc);
  EXPECT_EQ(utc.wHour, 23);
  EXPECT_EQ(local.wHour, 0);
  EXPECT_EQ(local.wDay, 3);
  m.AdvanceBy(0x100000000ull + 5);
  EXPECT_EQ(k.GetTickCount(), 5u);  // 32-bit tick count wraps
  EXPECT_EQ(k.GetTickCount64(), 0x100000005ull);
  FILETIME ft{};
  k.GetSystemTimeAsFileTime(&ft);
  const ULONGLONG ticks = (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  EXPECT_EQ(ticks, m.GetClock().UtcFileTime());
}

TEST_F(SimKernelTest, LastErrorAndDescriptionsArePerThread) {
  m_k.SetLastError(42);
  DWORD other = 0, otherTid = 0;
  std::thread([&] {
    other = m_k.GetLastError();
    m_k.SetLastError(7);
    otherTid = m_k.GetCurrentThreadId();
    EXPECT_EQ(m_k.SetCurrentThreadDescription(L"registryWatcher"), S_OK);
  }).join();
  EXPECT_EQ(other, 0u);
  EXPECT_EQ(m_k.GetLastError(), 42u);
  EXPECT_NE(otherTid, m_k.GetCurrentThreadId());
  EXPECT_EQ(m_machine.Objects().ThreadDescription(otherTid), L"registryWatcher");
  EXPECT_EQ(m_machine.Objects().ThreadDescription(m_k.GetCurrentThreadId()), std::nullopt);
}

TEST_F(SimKernelTest, ComApartmentIsPerThreadAndBalanced) {
  platform::ICom& com = m_p1->Com();
  EXPECT_EQ(com.CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  EXPECT_EQ(com.CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
  EXPECT_EQ(com.CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
  HRESULT onOther = E_FAIL;
  std::thread([&] { onOther = com.CoInitializeEx(nullptr, COINIT_MULTITHREADED); }).join();
  EXPECT_EQ(onOther, S_OK);
  com.CoUninitialize();
  EXPECT_EQ(com.CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
  com.CoUninitialize();  // balances the first S_OK: the thread is uninitialised now
  EXPECT_EQ(com.CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  com.CoUninitialize();
}

// ---- Started programs ------------------------------------------------------------------------

class SimProgramTest : public SimKernelTest {
 protected:
  // Starts a program as the kiosk script step does; the handles belong to the test.
  BOOL Start(const wchar_t* application, std::wstring commandLine, PROCESS_INFORMATION* pi,
             const wchar_t* folder = L"C:\\Windows\\system32") {
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    wchar_t desktop[] = L"winsta0\\default";
    si.lpDesktop = desktop;
    *pi = PROCESS_INFORMATION{};
    return m_k.CreateProcessW(
        application, commandLine.empty() ? nullptr : commandLine.data(), nullptr, nullptr, FALSE,
        CREATE_UNICODE_ENVIRONMENT | NORMAL_PRIORITY_CLASS, nullptr, folder, &si, pi);
  }
  DWORD ExitCode(HANDLE process) {
    DWORD code = 0xCCCCCCCC;
    EXPECT_TRUE(m_k.GetExitCodeProcess(process, &code));
    return code;
  }
  std::vector<std::wstring> Shown() {
    return m_machine.GetDesktop().Texts(1, sim::desktop_kind::kProcess);
  }
};

TEST_F(SimProgramTest, ScriptHostRunsItsTimeAndItsHandleSignalsAtTheEnd) {
  m_machine.Files().WriteFile(L"C:\\Users\\alice\\unlock.vbs", "WScript.Quit 0");
  m_machine.AdvanceBy(1000);
  PROCESS_INFORMATION pi;
  ASSERT_TRUE(Start(
      nullptr, L"C:\\Windows\\system32\\cscript.exe \"C:\\Users\\alice\\unlock.vbs\" //B", &pi));
  UniqueHandle process(m_k, pi.hProcess), thread(m_k, pi.hThread);
  EXPECT_NE(pi.dwProcessId, m_p1->Pid());
  EXPECT_NE(pi.dwProcessId, m_p2->Pid());
  EXPECT_EQ(ExitCode(pi.hProcess), static_cast<DWORD>(STILL_ACTIVE));

  // One millisecond short of the machine's 500 ms it still runs; the wait then ends with it.
  EXPECT_EQ(m_k.WaitForSingleObject(pi.hProcess, 499), WAIT_TIMEOUT);
  EXPECT_EQ(Now(), 1499u);
  EXPECT_EQ(ExitCode(pi.hProcess), static_cast<DWORD>(STILL_ACTIVE));
  EXPECT_EQ(m_k.WaitForSingleObject(pi.hProcess, 20000), WAIT_OBJECT_0);
  EXPECT_EQ(Now(), 1500u);
  EXPECT_EQ(ExitCode(pi.hProcess), 0u);
  // Ended for good: every later wait passes, the thread's too.
  EXPECT_EQ(m_k.WaitForSingleObject(pi.hProcess, 0), WAIT_OBJECT_0);
  EXPECT_EQ(m_k.WaitForSingleObject(pi.hThread, 0), WAIT_OBJECT_0);

  const std::vector<std::wstring> expected = {
      L"started \"C:\\Windows\\system32\\cscript.exe\" C:\\Windows\\system32\\cscript.exe "
      L"\"C:\\Users\\alice\\unlock.vbs\" //B",
      L"ended \"C:\\Windows\\system32\\cscript.exe\" exit code 0"};
  EXPECT_EQ(Shown(), expected);
  const auto runs = m_machine.Programs().Runs(1);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].pid, pi.dwProcessId);
  EXPECT_EQ(runs[0].tid, pi.dwThreadId);
  EXPECT_EQ(runs[0].parentPid, m_p1->Pid());
  EXPECT_EQ(runs[0].desktop, L"winsta0\\default");
  EXPECT_EQ(runs[0].currentDirectory, L"C:\\Windows\\system32");
  EXPECT_EQ(runs[0].creationFlags, CREATE_UNICODE_ENVIRONMENT | NORMAL_PRIORITY_CLASS);
  EXPECT_EQ(runs[0].startMs, 1000u);
  EXPECT_EQ(runs[0].endMs, std::optional<ULONGLONG>(1500));
  EXPECT_TRUE(m_machine.Programs().Runs(2).empty());
}

TEST_F(SimProgramTest, RunTimesAndExitCodesComeFromTheMachinesTable) {
  m_machine.Files().WriteFile(L"C:\\Scripts\\slow.vbs", "");
  m_machine.Files().WriteFile(L"C:\\Program Files\\Veridane\\VDRunDll.exe", "");
  m_machine.SetProgramBehaviour(L"CScript.EXE", {.runMs = 30000, .exitCode = 3, .exitCodeOf = {}});
  PROCESS_INFORMATION script, runner, shell;
  ASSERT_TRUE(Start(nullptr, L"cscript \"C:\\Scripts\\slow.vbs\" //B", &script));
  // A program without an entry ends before CreateProcessW returns, with 0.
  ASSERT_TRUE(Start(L"C:\\Program Files\\Veridane\\VDRunDll.exe", L"", &runner));
  EXPECT_EQ(ExitCode(runner.hProcess), 0u);
  // The command interpreter ends with the code it is told to.
  ASSERT_TRUE(Start(nullptr, L"cmd.exe /c exit 7", &shell));
  EXPECT_EQ(ExitCode(shell.hProcess), 7u);

  // The agent gives a script 20 s: this one is left running.
  EXPECT_EQ(m_k.WaitForSingleObject(script.hProcess, 20000), WAIT_TIMEOUT);
  EXPECT_EQ(ExitCode(script.hProcess), static_cast<DWORD>(STILL_ACTIVE));
  // Closing the handles does not stop it.
  for (HANDLE h : {script.hProcess, script.hThread, runner.hProcess, runner.hThread, shell.hProcess,
                   shell.hThread})
    EXPECT_TRUE(m_k.CloseHandle(h));
  m_machine.AdvanceBy(10000);
  const auto runs = m_machine.Programs().Runs(1);
  ASSERT_EQ(runs.size(), 3u);
  // "cscript" was searched for and found as the system's cscript.exe.
  EXPECT_EQ(runs[0].path, L"C:\\Windows\\system32\\cscript.exe");
  EXPECT_EQ(runs[0].exitCode, 3u);
  EXPECT_EQ(runs[0].endMs, std::optional<ULONGLONG>(30000));
  // Without a command line the program gets its own name.
  EXPECT_EQ(runs[1].commandLine, L"C:\\Program Files\\Veridane\\VDRunDll.exe");
  EXPECT_EQ(Shown().back(), L"ended \"C:\\Windows\\system32\\cscript.exe\" exit code 3");
}

TEST_F(SimProgramTest, WhatCannotBeStartedFailsAsOnWindows) {
  m_machine.Files().WriteFile(L"C:\\Users\\alice\\unlock.vbs", "WScript.Quit 0");
  m_machine.Files().WriteFile(L"C:\\Program Files\\Veridane\\Agent\\notes.txt", "MZ");
  struct Row {
    const wchar_t* application;
    const wchar_t* commandLine;
    const wchar_t* folder;
    DWORD error;
    const char* why;
  };
  const Row rows[] = {
      {L"C:\\Users\\alice\\unlock.vbs", nullptr, nullptr, ERROR_BAD_EXE_FORMAT,
       "a script is no program"},
      {nullptr, L"\"C:\\Users\\alice\\unlock.vbs\" //B", nullptr, ERROR_BAD_EXE_FORMAT,
       "nor on the command line"},
      {nullptr, L"notes.txt", nullptr, ERROR_BAD_EXE_FORMAT, "the content does not make a program"},
      {L"C:\\Users\\alice\\missing.exe", nullptr, nullptr, ERROR_FILE_NOT_FOUND, "missing file"},
      {L"cmd.exe", nullptr, nullptr, ERROR_FILE_NOT_FOUND,
       "an application name is taken in the current folder only"},
      {nullptr, L"nosuchprogram /x", nullptr, ERROR_FILE_NOT_FOUND, "not found on the search path"},
      {L"C:\\No\\Folder\\x.exe", nullptr, nullptr, ERROR_PATH_NOT_FOUND, "missing folder"},
      {L"C:\\Windows", nullptr, nullptr, ERROR_ACCESS_DENIED, "a folder"},
      {L"C:\\Windows\\system32\\cmd.exe", nullptr, L"C:\\No\\Folder", ERROR_DIRECTORY,
       "a missing working folder"},
      {nullptr, nullptr, nullptr, ERROR_INVALID_PARAMETER, "nothing to start"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.why);
    PROCESS_INFORMATION pi;
    m_k.SetLastError(0xCCCC);
    EXPECT_FALSE(Start(row.application, row.commandLine ? row.commandLine : L"", &pi,
                       row.folder ? row.folder : L"C:\\Windows\\system32"));
    EXPECT_EQ(m_k.GetLastError(), row.error);
    EXPECT_EQ(pi.hProcess, nullptr);
  }
  EXPECT_TRUE(Shown().empty());
  EXPECT_TRUE(m_machine.Programs().Runs().empty());
}

TEST_F(SimProgramTest, NamesWithBlanksPrefixesAndBatchFiles) {
  m_machine.Files().WriteFile(L"C:\\Program Files\\Veridane\\Console.exe", "");
  m_machine.Files().WriteFile(L"C:\\Users\\alice\\fix.cmd", "");
  PROCESS_INFORMATION a, b, c;
  // Unquoted, the name runs to the blank that gives an existing program.
  ASSERT_TRUE(Start(nullptr, L"C:\\Program Files\\Veridane\\Console.exe -mode:UserReset", &a));
  ASSERT_TRUE(Start(L"\\\\?\\C:\\Program Files\\Veridane\\Console.exe", L"", &b));
  // The command interpreter runs batch files.
  ASSERT_TRUE(Start(L"C:\\Users\\alice\\fix.cmd", L"", &c));
  for (auto* pi : {&a, &b, &c}) {
    m_k.CloseHandle(pi->hProcess);
    m_k.CloseHandle(pi->hThread);
  }
  const auto runs = m_machine.Programs().Runs(1);
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[0].path, L"C:\\Program Files\\Veridane\\Console.exe");
  EXPECT_EQ(runs[1].path, L"C:\\Program Files\\Veridane\\Console.exe");
  EXPECT_EQ(runs[2].path, L"C:\\Users\\alice\\fix.cmd");
}

TEST_F(SimProgramTest, ProcessHandlesAreNoEventsAndBelongToTheirCaller) {
  PROCESS_INFORMATION pi;
  m_machine.SetProgramBehaviour(L"cscript.exe", {.runMs = 100, .exitCode = 0, .exitCodeOf = {}});
  ASSERT_TRUE(Start(L"C:\\Windows\\system32\\cscript.exe", L"", &pi));
  UniqueHandle process(m_k, pi.hProcess), thread(m_k, pi.hThread);
  EXPECT_FALSE(m_k.SetEvent(pi.hProcess));
  EXPECT_EQ(m_k.GetLastError(), ERROR_INVALID_HANDLE);
  DWORD code = 0;
  EXPECT_FALSE(m_k.GetExitCodeProcess(pi.hThread, &code));
  EXPECT_EQ(m_k.GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(m_p2->Kernel().GetExitCodeProcess(pi.hProcess, &code));
  EXPECT_EQ(m_p2->Kernel().GetLastError(), ERROR_INVALID_HANDLE);
  UniqueHandle ev(m_k, m_k.CreateEventW(nullptr, TRUE, TRUE, nullptr));
  EXPECT_FALSE(m_k.GetExitCodeProcess(ev.get(), &code));

  // A pool wait on the program fires when it ends.
  WaitRecord recorder(&m_machine);
  HANDLE wait = nullptr;
  ASSERT_TRUE(m_k.RegisterWaitForSingleObject(&wait, pi.hProcess, &WaitRecord::Callback, &recorder,
                                              INFINITE, WT_EXECUTEONLYONCE));
  m_machine.AdvanceBy(99);
  EXPECT_EQ(recorder.Count(), 0u);
  m_machine.AdvanceBy(1);
  ASSERT_EQ(recorder.Count(), 1u);
  EXPECT_EQ(recorder.calls[0], std::make_pair(BOOLEAN{FALSE}, ULONGLONG{100}));
  EXPECT_TRUE(m_k.UnregisterWaitEx(wait, INVALID_HANDLE_VALUE));
}

// ---- Computer names and the token -------------------------------------------------------------

TEST(SimNamesTest, ComputerNamesComeFromTheDescriptionWithWin32Sizing) {
  struct Row {
    COMPUTER_NAME_FORMAT type;
    const wchar_t* inDomain;
    const wchar_t* alone;
  };
  const Row rows[] = {
      {ComputerNameNetBIOS, L"KIOSK-07", L"KIOSK-07"},
      {ComputerNameDnsHostname, L"Kiosk-07", L"Kiosk-07"},
      {ComputerNameDnsDomain, L"corp.example", L""},
      {ComputerNameDnsFullyQualified, L"Kiosk-07.corp.example", L"Kiosk-07"},
      {ComputerNamePhysicalDnsFullyQualified, L"Kiosk-07.corp.example", L"Kiosk-07"},
  };
  sim::MachineDescription inDomainDesc;
  inDomainDesc.computerName = L"Kiosk-07";
  inDomainDesc.dnsDomain = L"corp.example";
  sim::MachineDescription aloneDesc;
  aloneDesc.computerName = L"Kiosk-07";
  sim::Machine domain(inDomainDesc);
  sim::Machine alone(aloneDesc);
  auto inDomain = domain.CreateProcess({});
  auto standalone = alone.CreateProcess({});
  for (const auto& row : rows) {
    SCOPED_TRACE(row.type);
    for (auto [p, want] :
         {std::pair{inDomain.get(), row.inDomain}, {standalone.get(), row.alone}}) {
      platform::IKernel& k = p->Kernel();
      const std::wstring expected = want;
      // Asking with no room gives the room needed, terminator included.
      DWORD size = 0;
      EXPECT_FALSE(k.GetComputerNameExW(row.type, nullptr, &size));
      EXPECT_EQ(k.GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
      EXPECT_EQ(size, expected.size() + 1);
      // Exactly that much: the name, and its length without the terminator.
      std::vector<wchar_t> buffer(size + 2, L'\xCCCC');
      EXPECT_TRUE(k.GetComputerNameExW(row.type, buffer.data(), &size));
      EXPECT_EQ(size, expected.size());
      EXPECT_EQ(std::wstring(buffer.data()), expected);
      EXPECT_EQ(buffer[expected.size() + 1], L'\xCCCC') << "wrote past the terminator";
      // One short of it is too small.
      if (!expected.empty()) {
        size = static_cast<DWORD>(expected.size());
        EXPECT_FALSE(k.GetComputerNameExW(row.type, buffer.data(), &size));
        EXPECT_EQ(size, expected.size() + 1);
      }
    }
  }
  DWORD size = 10;
  wchar_t buffer[10];
  EXPECT_FALSE(inDomain->Kernel().GetComputerNameExW(ComputerNameMax, buffer, &size));
  EXPECT_EQ(inDomain->Kernel().GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(SimTokenTest, WellKnownSidsAreTheRealBytes) {
  sim::Machine m;
  auto p = m.CreateProcess({});
  platform::IKernel& k = p->Kernel();
  const std::vector<BYTE> system = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
  const std::vector<BYTE> admins = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 0x02, 0, 0};
  for (auto [type, expected] :
       {std::pair{WinLocalSystemSid, system}, {WinBuiltinAdministratorsSid, admins}}) {
    SCOPED_TRACE(type);
    DWORD size = 0;
    EXPECT_FALSE(k.CreateWellKnownSid(type, nullptr, nullptr, &size));
    EXPECT_EQ(k.GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(size, expected.size());
    std::vector<BYTE> sid(SECURITY_MAX_SID_SIZE, 0xCC);
    size = SECURITY_MAX_SID_SIZE;
    ASSERT_TRUE(k.CreateWellKnownSid(type, nullptr, sid.data(), &size));
    EXPECT_EQ(size, expected.size());
    sid.resize(size);
    EXPECT_EQ(sid, expected);
  }
  DWORD size = SECURITY_MAX_SID_SIZE;
  BYTE sid[SECURITY_MAX_SID_SIZE];
  EXPECT_FALSE(k.CreateWellKnownSid(static_cast<WELL_KNOWN_SID_TYPE>(999), nullptr, sid, &size));
  EXPECT_EQ(k.GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(SimTokenTest, MembershipFollowsHowTheProcessWasCreated) {
  sim::Machine m;
  BYTE system[SECURITY_MAX_SID_SIZE], admins[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof(system);
  auto probe = m.CreateProcess({});
  ASSERT_TRUE(probe->Kernel().CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &size));
  size = sizeof(admins);
  ASSERT_TRUE(
      probe->Kernel().CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size));
  struct Row {
    sim::ProcessOptions options;
    BOOL admin;
    BOOL localSystem;
    const char* why;
  };
  const Row rows[] = {
      {{}, FALSE, FALSE, "an ordinary (or not elevated) user"},
      {{.elevatedAdmin = true}, TRUE, FALSE, "an elevated administrator"},
      {{.runsAsSystem = true}, TRUE, TRUE, "LocalSystem is an administrator too"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.why);
    auto p = m.CreateProcess(row.options);
    platform::IKernel& k = p->Kernel();
    BOOL member = 2;
    ASSERT_TRUE(k.CheckTokenMembership(nullptr, admins, &member));
    EXPECT_EQ(member, row.admin);
    member = 2;
    ASSERT_TRUE(k.CheckTokenMembership(nullptr, system, &member));
    EXPECT_EQ(member, row.localSystem);
  }
  // Something that is no SID is refused, not answered.
  BYTE garbage[8] = {7, 1, 0, 0, 0, 0, 0, 5};
  BOOL member = 2;
  EXPECT_FALSE(probe->Kernel().CheckTokenMembership(nullptr, garbage, &member));
  EXPECT_EQ(probe->Kernel().GetLastError(), 1337u);  // ERROR_INVALID_SID
  EXPECT_EQ(member, 2);
}

}  // namespace
