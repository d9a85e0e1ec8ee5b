// The main window's task queue: work posted from any thread runs on the window's thread
// in posting order, and scheduled work runs on a window timer until it reports done.
//
//   Self().Post([=] { ... });                                   // any thread
//   UINT id = Self().Schedule(1500, [=](UINT id) { return done; });  // window thread
//
// Posted tasks run in batches: a batch takes the whole queue at once, so a task posted
// while a batch runs (even from a nested message loop inside a task) waits for the next
// batch. No task ever runs under the lock.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <mutex>

#include "core/message_map.h"
#include "core/messages.h"
#include "support/result_error.h"
#include "support/trace/trace.h"

template <class T>
class CPostTaskHandler {
 public:
  using Task = std::function<void()>;
  using ScheduledTask = std::function<bool(UINT)>;

  VD_BEGIN_MSG_MAP()
  VD_MESSAGE_HANDLER(uMsg == WM_DESTROY || uMsg == WM_ENDSESSION, OnDestroy)
  VD_MESSAGE_HANDLER(uMsg == core::WM_VD_POSTED_TASK, OnPostedTask)
  VD_MESSAGE_HANDLER(uMsg == WM_TIMER && wParam >= core::kFirstTaskTimerId, OnScheduledTask)
  VD_END_MSG_MAP()

  // Any thread: one allocation and one posted message.
  void Post(Task task) {
    VDTraceNS::CScope ts("##== Post ==>>");
    std::lock_guard lk(m_lock);
    m_posted.push_back(std::move(task));
    Self().Ui().PostMessageW(Self().m_hWnd, core::WM_VD_POSTED_TASK, 0, 0);
  }

  // Window thread only. Raises E_ABORT when every identifier is taken.
  UINT Schedule(UINT delayMs, ScheduledTask task) {
    std::lock_guard lk(m_lock);
    VDTraceNS::CScope ts("@@== Schedule ==>>");
    UINT& counter = Self().Process().TaskIdCounter;
    for (int attempt = 0; attempt < 10000; ++attempt) {
      ++counter;
      if (counter < core::kFirstTaskTimerId) counter = static_cast<UINT>(core::kFirstTaskTimerId);
      if (m_scheduled.count(counter)) continue;
      const UINT id = counter;
      m_scheduled.emplace(id, std::move(task));
      Self().Ui().SetTimer(Self().m_hWnd, id, delayMs, nullptr);
      ts.Msg("id = %d, delay = %d ms", static_cast<int>(id), static_cast<int>(delayMs));
      return id;
    }
    ts.Result("Task queue is overflown", E_INVALIDARG);
    throw CResultError(E_ABORT);
  }

  // Window thread only. The task is destroyed after the lock is released: what it holds may
  // post, schedule or cancel as it goes.
  void CancelSchedule(UINT id) {
    VDTraceNS::CScope ts("XX== CancelSchedule ==>>");
    if (!TakeScheduled(id)) ts.Result("No such task found", E_INVALIDARG);
  }

  // Window thread only.
  void Reschedule(UINT id, UINT delayMs) {
    VDTraceNS::CScope ts("&&== Reschedule ==>>");
    ts.Msg("id = %d, delay = %d ms", static_cast<int>(id), static_cast<int>(delayMs));
    std::lock_guard lk(m_lock);
    if (!m_scheduled.count(id)) {
      ts.Result("No such task found", E_INVALIDARG);
      return;
    }
    Self().Ui().SetTimer(Self().m_hWnd, id, delayMs, nullptr);
  }

  // Discards every pending task without running it; safe to run twice. The tasks are
  // destroyed outside the lock: what they hold may post or cancel as it goes.
  void Dispose() {
    std::deque<Task> posted;
    std::map<UINT, ScheduledTask> scheduled;
    std::lock_guard lk(m_lock);
    posted.swap(m_posted);
    scheduled.swap(m_scheduled);
  }

 protected:
  T& Self() { return static_cast<T&>(*this); }

 private:
  LRESULT OnDestroy(UINT uMsg, WPARAM wParam, LPARAM) {
    Self().SetMsgHandled(FALSE);
    if (uMsg == WM_ENDSESSION && !wParam) return 0;
    VDTraceNS::CScope ts("CPostTaskHandler<class CVdAgentMain>::OnDestroy");
    Dispose();
    return 0;
  }

  LRESULT OnPostedTask(UINT, WPARAM, LPARAM) {
    // A nested message loop inside a task: the outer runner picks the work up.
    if (m_running) return 0;
    std::deque<Task> batch;
    {
      std::lock_guard lk(m_lock);
      batch.swap(m_posted);
    }
    struct RunningFlag {
      bool& f;
      explicit RunningFlag(bool& b) : f(b) { f = true; }
      ~RunningFlag() { f = false; }
    };
    {
      RunningFlag running(m_running);
      // Any other exception goes on to the window's guard; the tasks of the batch that did
      // not run yet go back to the front of the queue, to run in the next batch, rather
      // than being dropped with it.
      struct Requeue {
        CPostTaskHandler& h;
        std::deque<Task>& rest;
        ~Requeue() {
          if (rest.empty()) return;
          std::lock_guard lk(h.m_lock);
          h.m_posted.insert(h.m_posted.begin(), std::make_move_iterator(rest.begin()),
                            std::make_move_iterator(rest.end()));
          h.Self().Ui().PostMessageW(h.Self().m_hWnd, core::WM_VD_POSTED_TASK, 0, 0);
        }
      } requeue{*this, batch};
      while (!batch.empty()) {
        VDTraceNS::CScope ts("======== Task ========");
        // The task is destroyed inside its scope, whatever it holds.
        Task task = std::move(batch.front());
        batch.pop_front();
        try {
          task();
        } catch (const CResultError& e) {
          ts.Result("Task failed", e.Result());
        }
      }
    }
    std::lock_guard lk(m_lock);
    if (!m_posted.empty()) Self().Ui().PostMessageW(Self().m_hWnd, core::WM_VD_POSTED_TASK, 0, 0);
    return 0;
  }

  LRESULT OnScheduledTask(UINT, WPARAM wParam, LPARAM) {
    const UINT id = static_cast<UINT>(wParam);
    ScheduledTask task;
    {
      std::lock_guard lk(m_lock);
      auto it = m_scheduled.find(id);
      if (it == m_scheduled.end()) return 0;  // a stale tick after a cancel
      task = it->second;
    }
    VDTraceNS::CScope ts("======== Scheduled Task ========");
    ts.Msg("id = %d", static_cast<int>(id));
    try {
      if (task(id)) {
        ts.Msg("Task %d complete", static_cast<int>(id));
        TakeScheduled(id);
      }
    } catch (const CResultError& e) {
      ts.Result("Task failed", e.Result());  // entry and timer stay: retried at the next tick
    }
    return 0;
  }

  // Removes a scheduled task and its timer. The entry leaves the map under the lock and is
  // destroyed when the returned node goes, after the lock is released.
  bool TakeScheduled(UINT id) {
    typename std::map<UINT, ScheduledTask>::node_type node;
    std::lock_guard lk(m_lock);
    node = m_scheduled.extract(id);
    if (node.empty()) return false;
    Self().Ui().KillTimer(Self().m_hWnd, id);
    return true;
  }

  std::mutex m_lock;
  std::deque<Task> m_posted;
  std::map<UINT, ScheduledTask> m_scheduled;
  bool m_running = false;
};
