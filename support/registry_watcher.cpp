#include "support/registry_watcher.h"

#include <exception>
#include <utility>

#include "platform/handles.h"
#include "support/result_error.h"
#include "support/trace/trace.h"

CRegKeyWatcher::CRegKeyWatcher(platform::IPlatform& plat, HKEY key, bool watchSubtree,
                               Callback callback)
    : CRegKeyWatcher(plat) {
  m_key = key;
  m_watchSubtree = watchSubtree;
  m_callback = std::move(callback);
}

CRegKeyWatcher::~CRegKeyWatcher() { Stop(); }

void CRegKeyWatcher::Watch(HKEY key, bool watchSubtree, Callback callback) {
  Stop();
  std::lock_guard lk(m_mu);
  m_key = key;
  m_watchSubtree = watchSubtree;
  m_callback = std::move(callback);
}

bool CRegKeyWatcher::Start() {
  if (m_thread.joinable()) return false;
  {
    std::lock_guard lk(m_mu);
    if (!m_key) return false;
  }
  m_thread = std::thread([this] { Run(); });
  return true;
}

void CRegKeyWatcher::CloseKey() {
  // Closed under the lock: the thread never subscribes through a handle value that is
  // already closed (and maybe reused for another key), and a callback in progress ends first.
  std::lock_guard lk(m_mu);
  if (HKEY key = std::exchange(m_key, nullptr)) m_reg.RegCloseKey(key);
}

void CRegKeyWatcher::Stop() {
  if (!m_thread.joinable()) {
    CloseKey();  // a key taken but never watched is still ours to close
    return;
  }
  VDTraceNS::CScope ts("CRegKeyWatcher::Stop");
  ts.Msg("Stopping");
  // Closing the key signals the thread's event: that is what wakes it.
  CloseKey();
  m_thread.join();
  ts.Msg("Stopped");
}

void CRegKeyWatcher::Run() {
  VDTraceNS::CScope ts("[registryWatcher]()");
  auto& kernel = m_kernel;
  kernel.SetCurrentThreadDescription(L"registryWatcher");
  platform::UniqueHandle event(kernel, kernel.CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!event) {
    ts.Result("Failed to create an event", HRESULT_FROM_WIN32(kernel.GetLastError()));
    return;
  }
  const DWORD filter = Filter(m_watchSubtree);
  for (;;) {
    {
      std::lock_guard lk(m_mu);
      if (!m_key) break;
      ts.Msg("Subscribing...");
      const LSTATUS s = m_reg.RegNotifyChangeKeyValue(m_key, m_watchSubtree ? TRUE : FALSE, filter,
                                                      event.get(), TRUE);
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
    // The callback runs under the lock, so once Stop has closed the key none begins; being
    // woken by Stop's close is no change to report.
    std::lock_guard lk(m_mu);
    if (!m_key) break;
    ts.Msg("Registry key changed");
    kernel.ResetEvent(event.get());
    if (m_callback) {
      // Nothing may leave this thread as an exception: it would end the process.
      try {
        m_callback();
      } catch (const CResultError& e) {
        ts.Result("Callback failed", e.Result());
      } catch (...) {
        ts.Result("Callback failed", E_UNEXPECTED);
      }
    }
  }
}
