#include "support/registry_watcher.h"

#include <exception>
#include <utility>

#include "support/result_error.h"
#include "support/trace/trace.h"

namespace {

// The watcher whose thread this is: Stop and Watch from its callback must not wait for it.
thread_local const CRegKeyWatcher* t_watcherOfThisThread = nullptr;

}  // namespace

CRegKeyWatcher::CRegKeyWatcher(platform::IPlatform& plat, HKEY key, bool watchSubtree,
                               Callback callback)
    : CRegKeyWatcher(plat) {
  m_key = key;
  m_watchSubtree = watchSubtree;
  m_callback = std::move(callback);
}

CRegKeyWatcher::~CRegKeyWatcher() { Stop(); }

bool CRegKeyWatcher::OnWatcherThread() const { return t_watcherOfThisThread == this; }

void CRegKeyWatcher::Watch(HKEY key, bool watchSubtree, Callback callback) {
  Stop();
  // From the callback the old thread still runs; it ends once the callback returns (the
  // stop flag stays set until Start) and only ever calls its own copy of the callback.
  std::lock_guard lk(m_mu);
  m_key = key;
  m_watchSubtree = watchSubtree;
  m_callback = std::move(callback);
}

bool CRegKeyWatcher::Start() {
  if (OnWatcherThread()) return false;
  if (m_thread.joinable()) {
    bool stopped = false;
    {
      std::lock_guard lk(m_mu);
      stopped = m_stopping;
    }
    if (!stopped) return false;
    Join();  // stopped from its callback: it is ending
  }
  {
    std::lock_guard lk(m_mu);
    if (!m_key) return false;
    m_stopping = false;
  }
  m_ended.reset(m_kernel.CreateEventW(nullptr, TRUE, FALSE, nullptr));
  m_thread = std::thread([this, ended = m_ended.get()] {
    Run();
    // The last act: once Stop sees it, nothing of this object is touched any more.
    if (ended) m_kernel.SetEvent(ended);
  });
  return true;
}

void CRegKeyWatcher::CloseKey() {
  // Under the lock: the thread never subscribes through a handle value that is already
  // closed (and maybe reused for another key), and never begins a callback after this.
  std::lock_guard lk(m_mu);
  m_stopping = true;
  if (HKEY key = std::exchange(m_key, nullptr)) m_reg.RegCloseKey(key);
}

void CRegKeyWatcher::Join() {
  if (m_ended) {
    // The callback may be sending to this thread's windows (the policy broadcast does):
    // answer what is sent while waiting, or the sender waits for its time-out and Stop
    // for the sender. Harmless on a thread without windows: nothing is ever sent to it.
    const HANDLE ended = m_ended.get();
    for (;;) {
      MSG msg;
      m_ui.PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
      const DWORD r = m_ui.MsgWaitForMultipleObjects(1, &ended, FALSE, INFINITE, QS_SENDMESSAGE);
      if (r != WAIT_OBJECT_0 + 1) break;  // ended (or the wait failed: join all the same)
    }
  }
  m_thread.join();
  m_ended.reset();
}

void CRegKeyWatcher::Stop() {
  if (OnWatcherThread()) {
    VDTraceNS::CScope ts("CRegKeyWatcher::Stop");
    ts.Msg("Stopping from the watcher's own callback: its thread ends after the callback");
    CloseKey();
    return;
  }
  if (!m_thread.joinable()) {
    CloseKey();  // a key taken but never watched is still ours to close
    return;
  }
  VDTraceNS::CScope ts("CRegKeyWatcher::Stop");
  ts.Msg("Stopping");
  // Closing the key signals the thread's event: that is what wakes it.
  CloseKey();
  Join();
  ts.Msg("Stopped");
}

void CRegKeyWatcher::Run() {
  t_watcherOfThisThread = this;
  VDTraceNS::CScope ts("[registryWatcher]()");
  auto& kernel = m_kernel;
  kernel.SetCurrentThreadDescription(L"registryWatcher");
  platform::UniqueHandle event(kernel, kernel.CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!event) {
    ts.Result("Failed to create an event", HRESULT_FROM_WIN32(kernel.GetLastError()));
    return;
  }
  const BOOL subtree = m_watchSubtree ? TRUE : FALSE;
  const DWORD filter = Filter(m_watchSubtree);
  for (;;) {
    {
      std::lock_guard lk(m_mu);
      if (m_stopping || !m_key) break;
      ts.Msg("Subscribing...");
      const LSTATUS s = m_reg.RegNotifyChangeKeyValue(m_key, subtree, filter, event.get(), TRUE);
      if (s != ERROR_SUCCESS) {
        ts.Result("Failed to subscribe", HRESULT_FROM_WIN32(static_cast<unsigned long>(s)));
        break;
      }
    }
    ts.Msg("Waiting for changes...");
    if (kernel.WaitForSingleObject(event.get(), INFINITE) == WAIT_FAILED) {
      ts.Result("Failed to wait", HRESULT_FROM_WIN32(kernel.GetLastError()));
      break;
    }
    Callback callback;
    {
      // Being woken by Stop's close is no change to report, and once Stop has begun no
      // callback begins.
      std::lock_guard lk(m_mu);
      if (m_stopping || !m_key) break;
      ts.Msg("Registry key changed");
      kernel.ResetEvent(event.get());
      callback = m_callback;
    }
    if (!callback) continue;
    // Without the lock: the callback may wait for the owner while the owner is in Stop,
    // and may call Stop or Watch itself.
    try {
      callback();
    } catch (const CResultError& e) {
      // Nothing may leave this thread as an exception: it would end the process.
      ts.Result("Callback failed", e.Result());
    } catch (...) {
      ts.Result("Callback failed", E_UNEXPECTED);
    }
  }
}
