#include "platform/sim/thread_pool.h"

#include <algorithm>
#include <tuple>

#include "platform/sim/machine.h"
#include "platform/sim/object_manager.h"
#include "platform/sim/process.h"

namespace sim {

struct ThreadPool::State {
  std::mutex mu;
  std::condition_variable workCv;  // work queued, or stopping
  std::condition_variable idleCv;  // the queue shrank or a thread stopped being busy
  struct Work {
    Process* owner;
    DWORD pid;
    std::function<void()> fn;
  };
  std::deque<Work> queue;
  std::set<std::thread::id> busy;  // a worker runs one callback at a time
  size_t idleWorkers = 0;
  bool stop = false;
  bool settleWaits = true;
  std::vector<std::thread> workers;

  bool IdleFor(std::thread::id self) const {
    if (!queue.empty()) return false;
    if (!settleWaits) return true;
    return std::all_of(busy.begin(), busy.end(), [&](auto id) { return id == self; });
  }
};

namespace {

// The pool whose worker this thread is (null elsewhere).
thread_local const ThreadPool::State* t_workerOf = nullptr;

// A thread that is not a worker may count as busy after a wait ends; when it ends, it
// stops counting. The pools are held weakly: a thread may outlive its machine.
struct ThreadExitHook {
  std::vector<std::weak_ptr<ThreadPool::State>> pools;
  ~ThreadExitHook() {
    const auto self = std::this_thread::get_id();
    for (auto& weak : pools) {
      if (auto s = weak.lock()) {
        std::lock_guard lk(s->mu);
        s->busy.erase(self);
        s->idleCv.notify_all();
      }
    }
  }
  void Watch(const std::shared_ptr<ThreadPool::State>& s) {
    for (auto& weak : pools)
      if (weak.lock() == s) return;
    std::erase_if(pools, [](auto& w) { return w.expired(); });
    pools.push_back(s);
  }
};
thread_local ThreadExitHook t_exitHook;

}  // namespace

// What a registered wait and a timer share: their callbacks in flight and their end.
struct ThreadPool::Callbacks {
  HANDLE handle = nullptr;
  DWORD pid = 0;
  Process* owner = nullptr;
  std::mutex mu;
  std::condition_variable cv;
  bool ended = false;  // unregistered or deleted
  int running = 0;
  std::multiset<std::thread::id> runningThreads;
  std::shared_ptr<KernelObject> completionEvent;  // signalled when the last callback ends

  int RunningOthers(std::thread::id self) const {
    return running - static_cast<int>(runningThreads.count(self));
  }
};

struct ThreadPool::PoolWait : Callbacks {
  std::shared_ptr<KernelObject> object;
  WAITORTIMERCALLBACK callback = nullptr;
  PVOID context = nullptr;
  ULONG timeoutMs = INFINITE;
  bool once = false;
  ObjectManager::WaitPtr block;
};

struct ThreadPool::PoolTimer : Callbacks {
  WAITORTIMERCALLBACK callback = nullptr;
  PVOID parameter = nullptr;
  bool once = false;  // WT_EXECUTEONLYONCE: one tick even when periodic
  DWORD periodMs = 0;
  uint64_t epoch = 0;  // bumped by every change, so a stale clock item does nothing
  uint64_t clockItem = 0;
  ULONGLONG nextDue = 0;
  bool armed = false;
  bool fired = false;
};

ThreadPool::ThreadPool(Machine& m) : m_machine(m), m_state(std::make_shared<State>()) {}

ThreadPool::~ThreadPool() {
  std::vector<std::thread> workers;
  {
    std::lock_guard lk(m_state->mu);
    m_state->stop = true;
    // The machine is going: work that has not started never will.
    m_state->queue.clear();
    workers.swap(m_state->workers);
  }
  m_state->workCv.notify_all();
  for (auto& t : workers) t.join();
}

// ---------------------------------------------------------------------------------------
// Workers and the busy count

void ThreadPool::Queue(Process* owner, std::function<void()> work) {
  std::lock_guard lk(m_state->mu);
  if (m_state->stop) return;
  m_state->queue.push_back(State::Work{owner, owner ? owner->Pid() : 0, std::move(work)});
  if (m_state->queue.size() > m_state->idleWorkers) {
    // Every worker is busy (or blocked in a callback): callbacks never wait for each
    // other, so take another thread, as the Windows pool does.
    m_state->workers.emplace_back([s = m_state] {
      t_workerOf = s.get();
      const auto self = std::this_thread::get_id();
      std::unique_lock lk(s->mu);
      for (;;) {
        ++s->idleWorkers;
        s->workCv.wait(lk, [&] { return s->stop || !s->queue.empty(); });
        --s->idleWorkers;
        if (s->stop) return;
        State::Work w = std::move(s->queue.front());
        s->queue.pop_front();
        s->busy.insert(self);  // with the pop, so nobody sees a moment of idleness
        s->idleCv.notify_all();
        lk.unlock();
        {
          CurrentProcessScope scope(w.owner);
          w.fn();
        }
        w.fn = nullptr;
        lk.lock();
        s->busy.erase(self);
        s->idleCv.notify_all();
      }
    });
  } else {
    m_state->workCv.notify_one();
  }
}

bool ThreadPool::IsWorkerThread() const { return t_workerOf == m_state.get(); }

void ThreadPool::MarkBlocking() {
  if (!IsWorkerThread()) t_exitHook.Watch(m_state);
  std::lock_guard lk(m_state->mu);
  m_state->busy.erase(std::this_thread::get_id());
  m_state->idleCv.notify_all();
}

void ThreadPool::MarkWoken(std::thread::id thread) {
  std::lock_guard lk(m_state->mu);
  m_state->busy.insert(thread);
}

void ThreadPool::WaitIdle() {
  const auto self = std::this_thread::get_id();
  std::unique_lock lk(m_state->mu);
  m_state->idleCv.wait(lk, [&] { return m_state->IdleFor(self); });
}

bool ThreadPool::IsIdle() const {
  const auto self = std::this_thread::get_id();
  std::lock_guard lk(m_state->mu);
  return m_state->IdleFor(self);
}

void ThreadPool::SetSettleWaitsForCallbacks(bool on) {
  std::lock_guard lk(m_state->mu);
  m_state->settleWaits = on;
  m_state->idleCv.notify_all();
}

size_t ThreadPool::WorkerCount() const {
  std::lock_guard lk(m_state->mu);
  return m_state->workers.size();
}

// ---------------------------------------------------------------------------------------
// Ending waits and timers

void ThreadPool::SignalCompletion(std::shared_ptr<KernelObject> event) {
  if (event) m_machine.Objects().SetEvent(event);
}

DWORD ThreadPool::Finish(Callbacks& cb, std::unique_lock<std::mutex>& lk, Completion mode,
                         std::shared_ptr<KernelObject> event) {
  const auto self = std::this_thread::get_id();
  switch (mode) {
    case Completion::kWait:
      // A callback that ends its own wait or timer must not wait for itself.
      cb.cv.wait(lk, [&] { return cb.RunningOthers(self) == 0; });
      return ERROR_SUCCESS;
    case Completion::kNone:
      return cb.RunningOthers(self) > 0 ? ERROR_IO_PENDING : ERROR_SUCCESS;
    case Completion::kEvent:
      if (cb.running == 0) {
        lk.unlock();
        SignalCompletion(std::move(event));
      } else {
        cb.completionEvent = std::move(event);
      }
      return ERROR_SUCCESS;
  }
  return ERROR_SUCCESS;
}

PoolCounts ThreadPool::Counts(DWORD pid) const {
  std::lock_guard lk(m_tableMu);
  PoolCounts c;
  for (const auto& [h, w] : m_waits) c.waits += w->pid == pid;
  for (const auto& [h, t] : m_timers) c.timers += t->pid == pid;
  if (auto it = m_callbacks.find(pid); it != m_callbacks.end())
    std::tie(c.waitCallbacks, c.timerCallbacks) = it->second;
  return c;
}

void ThreadPool::NoteCallback(DWORD pid, bool timer) {
  std::lock_guard lk(m_tableMu);
  auto& ran = m_callbacks[pid];
  ++(timer ? ran.second : ran.first);
}

void ThreadPool::RemoveProcess(DWORD pid) {
  std::vector<HANDLE> waits, timers;
  {
    std::lock_guard lk(m_tableMu);
    for (auto& [h, w] : m_waits)
      if (w->pid == pid) waits.push_back(h);
    for (auto& [h, t] : m_timers)
      if (t->pid == pid) timers.push_back(h);
  }
  for (HANDLE h : waits) UnregisterWait(pid, h, Completion::kWait, nullptr);
  for (HANDLE h : timers) DeleteTimer(pid, h, Completion::kWait, nullptr);
  std::lock_guard lk(m_state->mu);
  std::erase_if(m_state->queue, [&](const State::Work& w) { return w.pid == pid; });
  m_state->idleCv.notify_all();
}

// ---------------------------------------------------------------------------------------
// Registered waits

HANDLE ThreadPool::RegisterWait(Process& owner, std::shared_ptr<KernelObject> object,
                                WAITORTIMERCALLBACK callback, PVOID context, ULONG timeoutMs,
                                ULONG flags) {
  auto w = std::make_shared<PoolWait>();
  w->handle = reinterpret_cast<HANDLE>(m_machine.Objects().NewHandleValue());
  w->pid = owner.Pid();
  w->owner = &owner;
  w->object = std::move(object);
  w->callback = callback;
  w->context = context;
  w->timeoutMs = timeoutMs;
  w->once = (flags & WT_EXECUTEONLYONCE) != 0;
  {
    std::lock_guard lk(m_tableMu);
    m_waits[w->handle] = w;
  }
  ArmWait(w);
  return w->handle;
}

void ThreadPool::ArmWait(const std::shared_ptr<PoolWait>& w) {
  std::lock_guard lk(w->mu);
  if (w->ended) return;
  std::weak_ptr<PoolWait> weak = w;
  // The completion runs under the object manager's lock: it only queues the callback.
  w->block = m_machine.Objects().ArmWait(w->object, kWaitThreadId, w->timeoutMs,
                                         [this, weak](bool timedOut) {
                                           if (auto self = weak.lock())
                                             QueueWaitCallback(self, timedOut);
                                         });
}

void ThreadPool::QueueWaitCallback(const std::shared_ptr<PoolWait>& w, bool timedOut) {
  Queue(w->owner, [this, w, timedOut] {
    const auto self = std::this_thread::get_id();
    {
      std::lock_guard lk(w->mu);
      if (w->ended) return;  // unregistered before the callback could start
      ++w->running;
      w->runningThreads.insert(self);
    }
    NoteCallback(w->pid, false);
    w->callback(w->context, timedOut ? TRUE : FALSE);
    bool rearm = false;
    std::shared_ptr<KernelObject> completion;
    {
      std::lock_guard lk(w->mu);
      --w->running;
      w->runningThreads.erase(w->runningThreads.find(self));
      rearm = !w->once && !w->ended;
      if (w->ended && w->running == 0) completion = std::move(w->completionEvent);
      w->cv.notify_all();
    }
    SignalCompletion(std::move(completion));
    if (rearm) ArmWait(w);
  });
}

DWORD ThreadPool::UnregisterWait(DWORD pid, HANDLE wait, Completion mode,
                                 std::shared_ptr<KernelObject> event) {
  std::shared_ptr<PoolWait> w;
  {
    std::lock_guard lk(m_tableMu);
    auto it = m_waits.find(wait);
    if (it == m_waits.end() || it->second->pid != pid) return ERROR_INVALID_HANDLE;
    w = it->second;
    m_waits.erase(it);
  }
  std::unique_lock lk(w->mu);
  w->ended = true;
  m_machine.Objects().CancelWait(w->block);
  return Finish(*w, lk, mode, std::move(event));
}

// ---------------------------------------------------------------------------------------
// Timer-queue timers

HANDLE ThreadPool::CreateTimer(Process& owner, WAITORTIMERCALLBACK callback, PVOID parameter,
                               DWORD dueMs, DWORD periodMs, ULONG flags) {
  auto t = std::make_shared<PoolTimer>();
  t->handle = reinterpret_cast<HANDLE>(m_machine.Objects().NewHandleValue());
  t->pid = owner.Pid();
  t->owner = &owner;
  t->callback = callback;
  t->parameter = parameter;
  t->once = (flags & WT_EXECUTEONLYONCE) != 0;
  {
    std::lock_guard lk(m_tableMu);
    m_timers[t->handle] = t;
  }
  std::lock_guard lk(t->mu);
  t->periodMs = periodMs;
  ScheduleTimerLocked(t, dueMs);
  return t->handle;
}

void ThreadPool::ScheduleTimerLocked(const std::shared_ptr<PoolTimer>& t, DWORD dueMs) {
  Clock& clock = m_machine.GetClock();
  const uint64_t epoch = ++t->epoch;
  if (t->clockItem) clock.Cancel(t->clockItem);
  t->clockItem = 0;
  t->armed = true;
  const ULONGLONG now = clock.NowMs();
  std::weak_ptr<PoolTimer> weak = t;
  if (dueMs == 0) {
    // Due now: the tick goes to a worker at once rather than waiting for the clock to move.
    t->fired = true;
    QueueTick(t);
    if (t->periodMs == 0 || t->once) {
      t->armed = false;
      return;
    }
    t->nextDue = now + t->periodMs;
  } else {
    t->nextDue = now + dueMs;
  }
  t->clockItem = clock.ScheduleAt(t->nextDue, [this, weak, epoch] { OnTimerDue(weak, epoch); });
}

void ThreadPool::OnTimerDue(const std::weak_ptr<PoolTimer>& weak, uint64_t epoch) {
  auto t = weak.lock();
  if (!t) return;
  std::lock_guard lk(t->mu);
  if (t->ended || t->epoch != epoch) return;
  t->clockItem = 0;
  t->fired = true;
  QueueTick(t);
  if (t->periodMs == 0 || t->once) {
    t->armed = false;
    return;
  }
  // Periodic ticks keep their own rhythm, whatever the callbacks do.
  t->nextDue += t->periodMs;
  t->clockItem =
      m_machine.GetClock().ScheduleAt(t->nextDue, [this, weak, epoch] { OnTimerDue(weak, epoch); });
}

void ThreadPool::QueueTick(const std::shared_ptr<PoolTimer>& t) {
  Queue(t->owner, [this, t] {
    const auto self = std::this_thread::get_id();
    {
      std::lock_guard lk(t->mu);
      if (t->ended) return;
      ++t->running;
      t->runningThreads.insert(self);
    }
    NoteCallback(t->pid, true);
    t->callback(t->parameter, TRUE);
    std::shared_ptr<KernelObject> completion;
    {
      std::lock_guard lk(t->mu);
      --t->running;
      t->runningThreads.erase(t->runningThreads.find(self));
      if (t->ended && t->running == 0) completion = std::move(t->completionEvent);
      t->cv.notify_all();
    }
    SignalCompletion(std::move(completion));
  });
}

DWORD ThreadPool::ChangeTimer(DWORD pid, HANDLE timer, DWORD dueMs, DWORD periodMs) {
  std::shared_ptr<PoolTimer> t;
  {
    std::lock_guard lk(m_tableMu);
    auto it = m_timers.find(timer);
    if (it == m_timers.end() || it->second->pid != pid) return ERROR_INVALID_HANDLE;
    t = it->second;
  }
  std::lock_guard lk(t->mu);
  if (t->ended) return ERROR_INVALID_HANDLE;
  // Windows does not update a one-shot timer that has already expired (documented for
  // ChangeTimerQueueTimer): the call succeeds and nothing happens.
  if (t->periodMs == 0 && t->fired && !t->armed) return ERROR_SUCCESS;
  t->periodMs = periodMs;
  ScheduleTimerLocked(t, dueMs);
  return ERROR_SUCCESS;
}

DWORD ThreadPool::DeleteTimer(DWORD pid, HANDLE timer, Completion mode,
                              std::shared_ptr<KernelObject> event) {
  std::shared_ptr<PoolTimer> t;
  {
    std::lock_guard lk(m_tableMu);
    auto it = m_timers.find(timer);
    if (it == m_timers.end() || it->second->pid != pid) return ERROR_INVALID_HANDLE;
    t = it->second;
    m_timers.erase(it);
  }
  std::unique_lock lk(t->mu);
  t->ended = true;
  ++t->epoch;
  if (t->clockItem) m_machine.GetClock().Cancel(t->clockItem);
  t->clockItem = 0;
  return Finish(*t, lk, mode, std::move(event));
}

}  // namespace sim
