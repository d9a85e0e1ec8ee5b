// One timer-queue timer whose ticks run on a pool thread, independent of the window's
// message queue (the tray icon flashes with it). A tick that falls due while the previous
// callback still runs is dropped, not queued.
//
//   CVDTimerQueue<void (*)(void*)> flash(plat.Kernel());   // dormant until armed
//   flash.Arm(&FlashStep, this, 0, 75);                      // now, then every 75 ms
//   flash.Disarm();
//
// Callbacks run on a pool thread: they must not touch window state except through `Post`
// or window messages. Destruction waits for a running callback, so never destroy the timer
// from its own callback.
#pragma once

#include <exception>
#include <mutex>
#include <utility>

#include "platform/handles.h"
#include "platform/kernel.h"

namespace core::timer_queue {

// The due time of a timer that should not fire: 0x1FFFFFFF ms (0xFFFFFFFF before version 5.0).
DWORD DormantDue(platform::IKernel& kernel);
// Trace lines of the failures nobody can be told about.
void LogStartFailure(DWORD error);
void LogStopFailure(DWORD error);
void LogCallbackFailure(const std::exception* e);

}  // namespace core::timer_queue

// TCallback: anything callable with one untyped pointer that tests false when unset (a plain
// function pointer in the agent).
template <class TCallback>
class CVDTimerQueue {
 public:
  explicit CVDTimerQueue(platform::IKernel& kernel)
      : m_kernel(kernel),
        m_busy(kernel, kernel.CreateEventW(nullptr, TRUE, FALSE, nullptr)),
        m_dormantDue(core::timer_queue::DormantDue(kernel)) {
    // A dormant timer keeps a period: a one-shot timer that has fired can never be changed
    // again (ChangeTimerQueueTimer leaves it alone), and a dormant one-shot fires after six
    // days, which an agent running for weeks would reach.
    if (!m_kernel.CreateTimerQueueTimer(&m_timer, nullptr, &CVDTimerQueue::Tick, this, m_dormantDue,
                                        m_dormantDue, WT_EXECUTELONGFUNCTION)) {
      m_timer = nullptr;
      core::timer_queue::LogStartFailure(m_kernel.GetLastError());
    }
  }

  virtual ~CVDTimerQueue() {
    // Not under the lock: a tick waiting for it would never end, nor would this wait.
    if (!m_kernel.DeleteTimerQueueTimer(nullptr, m_timer, INVALID_HANDLE_VALUE))
      core::timer_queue::LogStopFailure(m_kernel.GetLastError());
  }

  CVDTimerQueue(const CVDTimerQueue&) = delete;
  CVDTimerQueue& operator=(const CVDTimerQueue&) = delete;

  // What the next ticks run; a null callback makes them do nothing.
  void Set(TCallback callback, void* argument) {
    std::lock_guard lk(m_lock);
    m_callback = std::move(callback);
    m_argument = argument;
  }

  // First tick after `dueMs`, then every `periodMs` (0: once). S_OK, the Win32 error as a
  // result code, or E_FAIL when the timer could not be created.
  HRESULT Change(DWORD dueMs, DWORD periodMs) {
    std::lock_guard lk(m_lock);
    return ChangeLocked(dueMs, periodMs, true);
  }

  HRESULT Arm(TCallback callback, void* argument, DWORD dueMs, DWORD periodMs) {
    std::lock_guard lk(m_lock);
    m_callback = std::move(callback);
    m_argument = argument;
    return ChangeLocked(dueMs, periodMs, true);
  }

  // Back to dormant. A tick already running finishes; later ones run nothing.
  HRESULT Disarm() {
    std::lock_guard lk(m_lock);
    return ChangeLocked(m_dormantDue, m_dormantDue, false);
  }

 private:
  HRESULT ChangeLocked(DWORD dueMs, DWORD periodMs, bool armed) {
    if (!m_timer) return E_FAIL;
    // Set before the change: a due-now tick may start before the call returns.
    m_armed = armed;
    if (!m_kernel.ChangeTimerQueueTimer(nullptr, m_timer, dueMs, periodMs))
      return HRESULT_FROM_WIN32(m_kernel.GetLastError());
    return S_OK;
  }

  static void CALLBACK Tick(PVOID context, BOOLEAN) { static_cast<CVDTimerQueue*>(context)->OnTick(); }

  void OnTick() {
    TCallback callback{};
    void* argument = nullptr;
    {
      // Testing and setting the busy event under the lock: two ticks starting together
      // must not both run.
      std::lock_guard lk(m_lock);
      if (m_kernel.WaitForSingleObject(m_busy.get(), 0) == WAIT_OBJECT_0) return;
      m_kernel.SetEvent(m_busy.get());
      if (m_armed) {
        callback = m_callback;
        argument = m_argument;
      }
    }
    // The callback runs outside the lock: the tray takes its own lock and then this one.
    if (callback) {
      try {
        callback(argument);
      } catch (const std::exception& e) {
        core::timer_queue::LogCallbackFailure(&e);  // a pool thread must not see it
      } catch (...) {
        core::timer_queue::LogCallbackFailure(nullptr);
      }
    }
    m_kernel.ResetEvent(m_busy.get());
  }

  platform::IKernel& m_kernel;
  std::mutex m_lock;  // guards the callback fields, the armed flag and the timer handle
  TCallback m_callback{};
  void* m_argument = nullptr;
  bool m_armed = false;
  platform::UniqueHandle m_busy;  // manual reset; signalled while a callback runs
  DWORD m_dormantDue;
  HANDLE m_timer = nullptr;
};
