// The window's task queue (posted and scheduled tasks) and the timer-queue timer.
#include <algorithm>
#include <atomic>
#include <functional>
#include <latch>
#include <memory>
#include <stdexcept>
#include <thread>

#include "agent_fixture.h"
#include "core/timer_queue.h"
#include "platform/sim/desktop.h"
#include "platform/sim/thread_pool.h"
#include "tests/testing/forwarding_platform.h"

namespace {

using Names = std::vector<std::string>;

class TaskQueueTest : public AgentWindowTest {
 protected:
  CVdAgentMain& W() { return *window; }
  // Posts a task that appends `name` to `order`.
  void PostNamed(const char* name) {
    W().Post([this, name] { order.push_back(name); });
  }
  void PostLock() { proc->Ui().PostMessageW(W().m_hWnd, WM_COMMAND, core::ID_LOCK_WORKSTATION, 0); }
  int Locks() { return machine.GetDesktop().LockCount(1); }
  int Count(const std::string& scope) {
    int n = 0;
    for (auto& s : Entered()) n += s == scope;
    return n;
  }

  Names order;
};

// ---- Posted tasks ----

TEST_F(TaskQueueTest, TasksPostedBeforeTheWindowGetsToThemRunTogetherAheadOfLaterMessages) {
  // Three task messages and a lock between the second and the third: the first message takes
  // all three tasks, so the lock comes after them and the last two messages find nothing.
  PostNamed("1");
  PostNamed("2");
  PostLock();
  W().Post([this] { order.push_back(Locks() == 0 ? "3 before the lock" : "3 after the lock"); });
  Entered();
  machine.RunUntilIdle();
  EXPECT_EQ(order, (Names{"1", "2", "3 before the lock"}));
  EXPECT_EQ(Locks(), 1);
  EXPECT_EQ(Count("======== Task ========"), 3);
}

TEST_F(TaskQueueTest, ATaskPostedByATaskWaitsForTheNextBatchBehindWaitingMessages) {
  W().Post([this] {
    order.push_back("A");
    W().Post([this] { order.push_back(Locks() == 1 ? "C after the lock" : "C inside the batch"); });
  });
  PostLock();
  PostNamed("B");
  machine.RunUntilIdle();
  // The lock message was waiting before the batch that posted C began.
  EXPECT_EQ(order, (Names{"A", "B", "C after the lock"}));
}

TEST_F(TaskQueueTest, TasksPostedDuringANestedMessageLoopRunAfterItAndAfterTheBatch) {
  auto& ui = proc->Ui();
  W().Post([&] {
    order.push_back("dialog opens");
    // While the "dialog" is up, more work arrives and another message too.
    PostNamed("posted during the dialog");
    PostLock();
    MSG msg;
    while (ui.PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ui.TranslateMessage(&msg);
      ui.DispatchMessageW(&msg);
    }
    order.push_back(Locks() == 1 ? "dialog closes (it pumped)" : "dialog closes (no pumping)");
  });
  PostNamed("second of the batch");
  machine.RunUntilIdle();
  // The nested loop swallowed the task messages; the runner posts again after the batch.
  EXPECT_EQ(order, (Names{"dialog opens", "dialog closes (it pumped)", "second of the batch",
                          "posted during the dialog"}));
}

TEST_F(TaskQueueTest, AResultErrorIsLoggedAndAnyOtherExceptionReachesTheWindowGuard) {
  W().Post([] { throw CResultError(E_ACCESSDENIED); });
  PostNamed("next");
  machine.RunUntilIdle();
  EXPECT_EQ(order, (Names{"next"}));
  EXPECT_TRUE(sink.Contains('E', "-2147024891 Task failed"));

  // Anything else leaves the batch; the rest of it runs next.
  order.clear();
  W().Post([this] {
    PostNamed("posted by the failing task");
    throw std::runtime_error("boom");
  });
  PostNamed("B");
  PostNamed("C");
  machine.RunUntilIdle();
  const auto messages = sink.Texts('U');
  EXPECT_EQ(std::count(messages.begin(), messages.end(), "vda::wndproc: boom"), 1);
  // The batch's own tasks go back in front of what was posted meanwhile.
  EXPECT_EQ(order, (Names{"B", "C", "posted by the failing task"}));
  // And the queue still works afterwards.
  PostNamed("later");
  machine.RunUntilIdle();
  EXPECT_EQ(order.back(), "later");
}

TEST_F(TaskQueueTest, PostFromManyThreadsRunsEveryTaskOnTheWindowThreadInEachThreadsOrder) {
  constexpr int kThreads = 4, kEach = 200;
  const DWORD windowThread = proc->Kernel().GetCurrentThreadId();
  std::vector<std::vector<int>> seen(kThreads);
  std::atomic<int> offThread{0};
  std::vector<std::thread> threads;
  std::latch go(kThreads);
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      go.arrive_and_wait();
      for (int i = 0; i < kEach; ++i)
        W().Post([&, t, i] {
          // Tasks run on the window thread only, so `seen` needs no lock.
          if (proc->Kernel().GetCurrentThreadId() != windowThread) ++offThread;
          seen[t].push_back(i);
        });
    });
  for (auto& th : threads) th.join();
  machine.RunUntilIdle();
  EXPECT_EQ(offThread.load(), 0);
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(seen[t].size(), static_cast<size_t>(kEach));
    for (int i = 0; i < kEach; ++i) ASSERT_EQ(seen[t][i], i);
  }
}

// ---- Scheduled tasks ----

TEST_F(TaskQueueTest, AScheduledTaskRepeatsEachPeriodUntilItSaysDone) {
  int runs = 0;
  const UINT id = W().Schedule(1000, [&](UINT self) {
    EXPECT_EQ(self, 10000u);
    return ++runs == 3;
  });
  EXPECT_EQ(id, 10000u);  // the first identifier of the process
  EXPECT_TRUE(sink.Contains('U', "id = 10000, delay = 1000 ms"));
  machine.AdvanceBy(999);
  EXPECT_EQ(runs, 0);
  machine.AdvanceBy(1);
  EXPECT_EQ(runs, 1);
  machine.AdvanceBy(2000);
  EXPECT_EQ(runs, 3);
  EXPECT_TRUE(sink.Contains('U', "Task 10000 complete"));
  // Done: removed and its timer killed, so nothing comes any more.
  Entered();
  machine.AdvanceBy(10000);
  EXPECT_EQ(runs, 3);
  EXPECT_EQ(Count("======== Scheduled Task ========"), 0);
  EXPECT_EQ(W().Schedule(1000, [](UINT) { return true; }), 10001u);
}

TEST_F(TaskQueueTest, RescheduleChangesThePeriodOfALiveTaskOnly) {
  int runs = 0;
  const UINT id = W().Schedule(1000, [&](UINT) { return ++runs == 2; });
  W().Reschedule(id, 120000);
  EXPECT_TRUE(sink.Contains('U', "id = 10000, delay = 120000 ms"));
  machine.AdvanceBy(119999);
  EXPECT_EQ(runs, 0);
  machine.AdvanceBy(1);
  EXPECT_EQ(runs, 1);
  machine.AdvanceBy(120000);
  EXPECT_EQ(runs, 2);

  sink.Clear();
  W().Reschedule(id, 5000);                                        // completed: unknown now
  EXPECT_TRUE(sink.Contains('U', "id = 10000, delay = 5000 ms"));  // logged before the look-up
  EXPECT_TRUE(sink.Contains('E', "-2147024809 No such task found"));
  machine.AdvanceBy(10000);
  EXPECT_EQ(runs, 2);
}

TEST_F(TaskQueueTest, CancelStopsALiveTaskEvenFromInsideItAndComplainsAboutACompletedOne) {
  int a = 0, b = 0;
  const UINT ida = W().Schedule(500, [&](UINT) { return ++a, false; });
  const UINT idb = W().Schedule(500, [&](UINT) { return ++b, true; });
  machine.AdvanceBy(500);
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 1);

  W().CancelSchedule(ida);
  EXPECT_FALSE(sink.Contains('E', "-2147024809 No such task found"));
  // A timer message already on its way after the cancel finds nothing.
  proc->Ui().PostMessageW(W().m_hWnd, WM_TIMER, ida, 0);
  machine.AdvanceBy(2000);
  EXPECT_EQ(a, 1);

  W().CancelSchedule(idb);  // it completed at its first run
  EXPECT_TRUE(sink.Contains('E', "-2147024809 No such task found"));

  // A task may cancel itself and schedule another.
  int runs = 0, follow = 0;
  W().Schedule(100, [&](UINT self) {
    ++runs;
    W().CancelSchedule(self);
    W().Schedule(100, [&](UINT) { return ++follow, true; });
    return false;
  });
  machine.AdvanceBy(1000);
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(follow, 1);
}

// What a scheduled task captured is destroyed once it leaves the queue; a destructor that
// posts, schedules or cancels must find the queue's lock free (a shared object's last owner).
TEST_F(TaskQueueTest, AScheduledTaskWhoseStateUsesTheQueueWhenDestroyedLeavesItWorking) {
  struct RunsWhenGone {
    std::function<void()> f;
    explicit RunsWhenGone(std::function<void()> fn) : f(std::move(fn)) {}
    ~RunsWhenGone() { f(); }
  };
  auto usesQueue = [this](const char* name) {
    return [this, name] {
      PostNamed(name);
      W().CancelSchedule(W().Schedule(100, [](UINT) { return true; }));
    };
  };
  auto cancelled = std::make_shared<RunsWhenGone>(usesQueue("cancelled"));
  auto completed = std::make_shared<RunsWhenGone>(usesQueue("completed"));
  const UINT id = W().Schedule(500, [cancelled](UINT) { return false; });
  W().Schedule(100, [completed](UINT) { return true; });
  cancelled.reset();
  completed.reset();

  machine.AdvanceBy(100);  // the second completes: its state goes with the entry
  W().CancelSchedule(id);  // the first is cancelled: its state goes too
  machine.RunUntilIdle();
  EXPECT_EQ(order, (Names{"completed", "cancelled"}));
  // The window thread is still serving the queue.
  PostNamed("later");
  machine.RunUntilIdle();
  EXPECT_EQ(order.back(), "later");
}

TEST_F(TaskQueueTest, AScheduledTaskRaisingAResultErrorIsRetriedAtTheNextTick) {
  int runs = 0;
  W().Schedule(100, [&](UINT) {
    if (++runs == 1) throw CResultError(E_FAIL);
    return true;
  });
  machine.AdvanceBy(100);
  EXPECT_TRUE(sink.Contains('E', "-2147467259 Task failed"));
  machine.AdvanceBy(100);
  EXPECT_EQ(runs, 2);
  machine.AdvanceBy(1000);
  EXPECT_EQ(runs, 2);
}

TEST_F(TaskQueueTest, IdentifiersWrapTo9999AndThatTimerStillReachesTheQueue) {
  agent->TaskIdCounter = 0xFFFFFFFEu;
  int last = 0, wrapped = 0;
  EXPECT_EQ(W().Schedule(100, [&](UINT) { return ++last, true; }), 0xFFFFFFFFu);
  EXPECT_EQ(W().Schedule(100, [&](UINT id) { return wrapped = static_cast<int>(id), true; }),
            9999u);
  EXPECT_EQ(W().Schedule(100, [](UINT) { return true; }), 10000u);
  machine.AdvanceBy(100);
  EXPECT_EQ(last, 1);
  EXPECT_EQ(wrapped, 9999);
}

TEST_F(TaskQueueTest, TenThousandIdentifiersInUseRaiseAbortAndRegisterNothing) {
  VDTraceNS::SetSink(nullptr);  // 10000 schedules: keep the records out of the sink
  for (int i = 0; i < 10000; ++i) W().Schedule(60000, [](UINT) { return false; });
  VDTraceNS::SetSink(&sink);
  agent->TaskIdCounter = 9999;  // every candidate, 10000 to 19999, is taken
  int ran = 0;
  try {
    W().Schedule(100, [&](UINT) { return ++ran, true; });
    ADD_FAILURE() << "no error raised";
  } catch (const CResultError& e) {
    EXPECT_EQ(e.Result(), E_ABORT);
  }
  EXPECT_TRUE(sink.Contains('E', "-2147024809 Task queue is overflown"));
  machine.AdvanceBy(1000);
  EXPECT_EQ(ran, 0);

  // One freed identifier is found again by the search.
  W().CancelSchedule(15000);
  agent->TaskIdCounter = 9999;
  EXPECT_EQ(W().Schedule(100, [&](UINT) { return ++ran, true; }), 15000u);
  machine.AdvanceBy(100);
  EXPECT_EQ(ran, 1);
}

// ---- Disposal ----

TEST_F(TaskQueueTest, DestroyingTheWindowRunsNoPendingTaskAndFreesThem) {
  auto held = std::make_shared<int>(0);
  int ran = 0;
  W().Post([&ran, held] { ++ran; });
  W().Schedule(100, [&ran, held](UINT) { return ++ran, false; });
  EXPECT_EQ(held.use_count(), 3);
  Entered();
  W().DestroyWindow();
  EXPECT_EQ(Count(H("CPostTaskHandler", "OnDestroy")), 1);
  EXPECT_EQ(held.use_count(), 1);
  machine.AdvanceBy(1000);
  EXPECT_EQ(ran, 0);
}

TEST_F(TaskQueueTest, OnlyARealEndOfSessionDiscardsTasks) {
  int ran = 0;
  W().Schedule(100, [&](UINT) { return ++ran, false; });
  PostNamed("kept");
  Send(WM_ENDSESSION, FALSE);
  machine.AdvanceBy(100);
  EXPECT_EQ(order, (Names{"kept"}));
  EXPECT_EQ(ran, 1);

  PostNamed("dropped");
  Send(WM_ENDSESSION, TRUE);
  machine.AdvanceBy(1000);
  EXPECT_EQ(order, (Names{"kept"}));
  EXPECT_EQ(ran, 1);
  // Disposing again (the window is destroyed later) is harmless.
  W().DestroyWindow();
}

// ---- Timer-queue timer ----

using FlashTimer = CVDTimerQueue<void (*)(void*)>;

struct Ticks {
  std::atomic<int> n{0};
  static void Count(void* p) { ++static_cast<Ticks*>(p)->n; }
};

// A timer callback that runs `f` (on a pool thread).
struct Fn {
  std::function<void()> f;
  static void Run(void* p) { static_cast<Fn*>(p)->f(); }
};

class TimerQueueTest : public TaskQueueTest {
 protected:
  platform::IKernel& K() { return proc->Kernel(); }
};

TEST_F(TimerQueueTest, ArmedItTicksAtItsPeriodAndDisarmedItStops) {
  Ticks t;
  FlashTimer timer(K());
  machine.AdvanceBy(1000);
  EXPECT_EQ(t.n.load(), 0);  // dormant
  EXPECT_EQ(timer.Arm(&Ticks::Count, &t, 0, 75), S_OK);
  machine.RunUntilIdle();
  EXPECT_EQ(t.n.load(), 1);  // due at once
  machine.AdvanceBy(150);
  EXPECT_EQ(t.n.load(), 3);
  EXPECT_EQ(timer.Disarm(), S_OK);
  machine.AdvanceBy(1000);
  EXPECT_EQ(t.n.load(), 3);
  // Re-armed later, with a new due time.
  EXPECT_EQ(timer.Change(500, 75), S_OK);
  machine.AdvanceBy(499);
  EXPECT_EQ(t.n.load(), 3);
  machine.AdvanceBy(1);
  EXPECT_EQ(t.n.load(), 4);
}

TEST_F(TimerQueueTest, ATickArrivingWhileTheCallbackRunsIsDroppedNotQueued) {
  platform::UniqueHandle release(K(), K().CreateEventW(nullptr, TRUE, FALSE, nullptr));
  std::atomic<int> calls{0};
  // The first call stays until the test releases it; the pool counts a callback blocked in
  // a platform wait as idle, so the clock can move on meanwhile.
  Fn slow{[&] {
    if (++calls == 1) K().WaitForSingleObject(release.get(), INFINITE);
  }};
  FlashTimer timer(K());
  timer.Arm(&Fn::Run, &slow, 75, 75);
  machine.AdvanceBy(75);
  EXPECT_EQ(calls.load(), 1);
  machine.AdvanceBy(150);  // two ticks while the first still runs
  EXPECT_EQ(calls.load(), 1);
  K().SetEvent(release.get());
  machine.RunUntilIdle();
  EXPECT_EQ(calls.load(), 1);  // the dropped ticks do not come back
  machine.AdvanceBy(75);
  EXPECT_EQ(calls.load(), 2);
}

TEST_F(TimerQueueTest, OverlappingTicksAreDroppedWhenTheSettleDoesNotWaitForCallbacks) {
  // With the pool switch off, a callback blocked outside any platform wait keeps running
  // while time moves on, and due ticks start on other workers.
  std::latch release{1};
  std::atomic<int> calls{0}, inside{0}, most{0};
  Fn blocking{[&] {
    const int now = ++inside;
    for (int m = most.load(); now > m && !most.compare_exchange_weak(m, now);) {
    }
    if (++calls == 1) release.wait();
    --inside;
  }};
  machine.Pool().SetSettleWaitsForCallbacks(false);
  FlashTimer timer(K());
  timer.Arm(&Fn::Run, &blocking, 75, 75);
  machine.AdvanceBy(75);
  while (calls.load() == 0) std::this_thread::yield();
  machine.AdvanceBy(300);  // four more ticks start while the first is blocked
  release.count_down();
  machine.Pool().SetSettleWaitsForCallbacks(true);
  machine.RunUntilIdle();
  // The dropped ticks may still have been starting when released (on a loaded machine,
  // one after another): none ran the callback beside another.
  EXPECT_EQ(most.load(), 1);
  const int before = calls.load();
  machine.AdvanceBy(75);
  EXPECT_EQ(calls.load(), before + 1);
}

TEST_F(TimerQueueTest, DestructionWaitsForARunningCallback) {
  std::latch entered{1}, release{1};
  std::atomic<bool> finished{false};
  Fn blocking{[&] {
    entered.count_down();
    release.wait();
    finished = true;
  }};
  machine.Pool().SetSettleWaitsForCallbacks(false);
  auto timer = std::make_unique<FlashTimer>(K());
  timer->Arm(&Fn::Run, &blocking, 10, 0);
  machine.AdvanceBy(10);
  entered.wait();
  std::atomic<bool> finishedWhenDestroyed{false};
  std::thread destroyer([&] {
    timer.reset();
    finishedWhenDestroyed = finished.load();
  });
  release.count_down();
  destroyer.join();
  machine.Pool().SetSettleWaitsForCallbacks(true);
  EXPECT_TRUE(finishedWhenDestroyed.load());
  EXPECT_FALSE(sink.Contains('U', "Problem with stoping timer!!! Error 6"));
}

TEST_F(TimerQueueTest, ACallbackExceptionIsCaughtAndLaterTicksStillRun) {
  std::atomic<int> calls{0};
  Fn throwing{[&] {
    if (++calls == 1) throw std::runtime_error("flash failed");
  }};
  FlashTimer timer(K());
  timer.Arm(&Fn::Run, &throwing, 50, 50);
  machine.AdvanceBy(50);
  EXPECT_TRUE(sink.Contains('U', "Callback failed: flash failed"));
  machine.AdvanceBy(50);
  EXPECT_EQ(calls.load(), 2);  // the busy event was reset after the failure
}

TEST_F(TimerQueueTest, ADormantTimerStaysUsableAfterItsDueTimeAndRunsNothingMeanwhile) {
  Ticks t;
  FlashTimer timer(K());
  timer.Set(&Ticks::Count, &t);      // set but never armed
  machine.AdvanceBy(0x20000000ull);  // past the dormant due time (six days)
  EXPECT_EQ(t.n.load(), 0);
  EXPECT_EQ(timer.Change(75, 75), S_OK);
  machine.AdvanceBy(75);
  EXPECT_EQ(t.n.load(), 1);
  // Disarmed with a callback still set: the far-away ticks run nothing.
  timer.Disarm();
  machine.AdvanceBy(0x40000000ull);
  EXPECT_EQ(t.n.load(), 1);
  timer.Arm(&Ticks::Count, &t, 10, 0);
  machine.AdvanceBy(10);
  EXPECT_EQ(t.n.load(), 2);
}

TEST_F(TimerQueueTest, ACallbackPostsWorkToTheWindowThread) {
  std::vector<int> seen;
  std::atomic<int> n{0};
  Fn post{[&] {
    const int i = ++n;
    W().Post([&seen, i] { seen.push_back(i); });
  }};
  FlashTimer timer(K());
  timer.Arm(&Fn::Run, &post, 75, 75);
  machine.AdvanceBy(300);
  timer.Disarm();
  machine.RunUntilIdle();
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 4}));
}

TEST_F(TimerQueueTest, TheDormantDueTimeFollowsTheSystemVersion) {
  EXPECT_EQ(core::timer_queue::DormantDue(K()), 0x1FFFFFFFu);
  sim::MachineDescription nt4;
  nt4.osMajor = 4;
  nt4.osBuild = 1381;
  sim::Machine old(nt4);
  auto p = old.CreateProcess({});
  EXPECT_EQ(core::timer_queue::DormantDue(p->Kernel()), 0xFFFFFFFFu);
}

// A kernel whose timer-queue timers cannot be created; everything else is the simulated one.
class NoTimerKernel : public vdtest::ForwardingKernel {
 public:
  using ForwardingKernel::ForwardingKernel;
  BOOL CreateTimerQueueTimer(PHANDLE, HANDLE, WAITORTIMERCALLBACK, PVOID, DWORD, DWORD,
                             ULONG) override {
    inner.SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
};

TEST_F(TimerQueueTest, ATimerThatCouldNotBeCreatedIsLoggedAndEveryChangeFails) {
  NoTimerKernel kernel(K());
  Ticks t;
  {
    FlashTimer timer(kernel);
    EXPECT_TRUE(sink.Contains('U', "Problem to start the timer!!! Error 8"));
    EXPECT_EQ(timer.Arm(&Ticks::Count, &t, 0, 75), E_FAIL);
    EXPECT_EQ(timer.Change(10, 10), E_FAIL);
    EXPECT_EQ(timer.Disarm(), E_FAIL);
    machine.AdvanceBy(1000);
    EXPECT_EQ(t.n.load(), 0);
  }
  // Nothing to stop: the system refuses the missing timer, and that is logged too.
  EXPECT_TRUE(sink.Contains('U', "Problem with stoping timer!!! Error 6"));
}

TEST_F(TimerQueueTest, TheTemplateTakesAnyCallableThatCanBeUnset) {
  using FnTimer = CVDTimerQueue<std::function<void(void*)>>;
  static int one = 1, two = 2;
  int n = 0;
  auto add = [&](void* p) { n += *static_cast<int*>(p); };
  FnTimer timer(K());
  timer.Arm(add, &one, 10, 10);
  machine.AdvanceBy(10);
  EXPECT_EQ(n, 1);
  timer.Set(add, &two);
  machine.AdvanceBy(10);
  EXPECT_EQ(n, 3);
  timer.Set(nullptr, nullptr);  // a null callback: the ticks do nothing
  machine.AdvanceBy(20);
  EXPECT_EQ(n, 3);
}

}  // namespace
