// Watches one registry key on a thread of its own and calls back after every change.
//
//   platform::UniqueHKey key(plat.Registry());
//   plat.Registry().RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Veridane\\Policies", 0,
//                                 KEY_READ | view, key.put());
//   CRegKeyWatcher watcher(plat, key.release(), /*watchSubtree=*/true, [hwnd, &ui] {
//     ui.PostMessageW(hwnd, WM_SETTINGCHANGE, 0, 0);   // hand over; never run logic here
//   });
//   watcher.Start();
//   ...
//   watcher.Stop();   // or let it go: the destructor stops it
//
// The watcher owns the key handle. Stop closes it, which wakes the waiting thread, and
// waits for the thread; no callback begins once Stop has begun. The callback runs on the
// watcher thread without any lock of the watcher, so it may send to the owner's windows
// (a broadcast with SendMessageTimeoutW included): Stop answers messages sent to its
// thread while it waits, so such a callback completes instead of waiting for its time-out.
// Stop (or Watch) from the callback itself ends the watch without waiting for itself; the
// thread is joined by the next Stop or Start on another thread, or by the destructor.
// Changes made between a wake-up and the next subscription are reported with that wake-up,
// not separately. Errors end the thread after a trace; the key is then not watched until
// the next Watch.
#pragma once

#include <functional>
#include <mutex>
#include <thread>

#include "platform/handles.h"
#include "platform/platform.h"

class CRegKeyWatcher {
 public:
  using Callback = std::function<void()>;

  explicit CRegKeyWatcher(platform::IPlatform& plat)
      : CRegKeyWatcher(plat.Registry(), plat.Kernel(), plat.Ui()) {}
  CRegKeyWatcher(platform::IRegistry& reg, platform::IKernel& kernel, platform::IUi& ui)
      : m_reg(reg), m_kernel(kernel), m_ui(ui), m_ended(kernel) {}
  // Takes ownership of `key` (KEY_NOTIFY access needed); Start begins watching.
  CRegKeyWatcher(platform::IPlatform& plat, HKEY key, bool watchSubtree, Callback callback);
  // Owner's thread, never the callback: it would have to wait for itself.
  ~CRegKeyWatcher();
  CRegKeyWatcher(const CRegKeyWatcher&) = delete;
  CRegKeyWatcher& operator=(const CRegKeyWatcher&) = delete;

  // Stops an earlier watch, then takes `key` and `callback` for the next Start.
  void Watch(HKEY key, bool watchSubtree, Callback callback);
  // Launches the watcher thread; false when one is watching, when called from the callback,
  // or when there is no key. A thread that a Stop ended is joined first.
  bool Start();
  // Closes the key (waking the thread) and waits for the thread to end, answering messages
  // sent to the calling thread meanwhile. From the callback: closes the key and returns.
  // Safe to repeat.
  void Stop();
  // A watcher thread was started and has not been joined.
  bool IsStarted() const { return m_thread.joinable(); }

  // The change filter for a watch: values only, or names too when the sub-tree is watched.
  static DWORD Filter(bool watchSubtree) {
    return watchSubtree ? (REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET)
                        : REG_NOTIFY_CHANGE_LAST_SET;
  }

 private:
  void Run();
  // Closes the key and marks the watch stopping: no callback begins after this.
  void CloseKey();
  bool OnWatcherThread() const;
  // Joins the thread, answering sent messages until it has ended.
  void Join();

  platform::IRegistry& m_reg;
  platform::IKernel& m_kernel;
  platform::IUi& m_ui;
  // Shared with the thread: which key is watched (null once Stop closed it), and whether a
  // Stop has begun (no callback may begin then).
  std::mutex m_mu;
  HKEY m_key = nullptr;
  bool m_stopping = false;
  // Set on the owner's thread before the thread starts and read only by it meanwhile.
  bool m_watchSubtree = false;
  Callback m_callback;
  // Signalled by the thread as its last act: what Stop waits on while answering messages.
  platform::UniqueHandle m_ended;
  std::thread m_thread;
};
