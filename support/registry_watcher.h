// Watches one registry key on a thread of its own and calls back after every change.
//
//   HKEY key = nullptr;
//   reg.RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Veridane\\Policies", 0,
//                     KEY_READ | view, &key);
//   CRegKeyWatcher watcher(plat, key, /*watchSubtree=*/true, [hwnd, &ui] {
//     ui.PostMessageW(hwnd, WM_SETTINGCHANGE, 0, 0);   // hand over; never run logic here
//   });
//   watcher.Start();
//   ...
//   watcher.Stop();   // or let it go: the destructor stops it
//
// The watcher owns the key handle. Stop closes it, which wakes the waiting thread, and joins
// the thread; no callback runs once Stop has closed the key. The callback runs on the
// watcher thread: it must only hand work to the owner's thread (post a message or a task),
// and must never call Stop or Watch itself. Changes made between a wake-up and the next
// subscription are reported with that wake-up, not separately. Errors end the thread after a
// trace; the key is then not watched until the next Watch.
#pragma once

#include <functional>
#include <mutex>
#include <thread>

#include "platform/platform.h"

class CRegKeyWatcher {
 public:
  using Callback = std::function<void()>;

  explicit CRegKeyWatcher(platform::IPlatform& plat)
      : CRegKeyWatcher(plat.Registry(), plat.Kernel()) {}
  CRegKeyWatcher(platform::IRegistry& reg, platform::IKernel& kernel)
      : m_reg(reg), m_kernel(kernel) {}
  // Takes ownership of `key` (KEY_NOTIFY access needed); Start begins watching.
  CRegKeyWatcher(platform::IPlatform& plat, HKEY key, bool watchSubtree, Callback callback);
  ~CRegKeyWatcher();
  CRegKeyWatcher(const CRegKeyWatcher&) = delete;
  CRegKeyWatcher& operator=(const CRegKeyWatcher&) = delete;

  // Stops an earlier watch, then takes `key` and `callback` for the next Start.
  void Watch(HKEY key, bool watchSubtree, Callback callback);
  // Launches the watcher thread; false when one is already there or there is no key.
  bool Start();
  // Closes the key (waking the thread) and waits for the thread to end. Safe to repeat.
  void Stop();
  // A watcher thread was started and has not been joined by Stop.
  bool IsStarted() const { return m_thread.joinable(); }

  // The change filter for a watch: values only, or names too when the sub-tree is watched.
  static DWORD Filter(bool watchSubtree) {
    return watchSubtree ? (REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET)
                        : REG_NOTIFY_CHANGE_LAST_SET;
  }

 private:
  void Run();
  void CloseKey();

  platform::IRegistry& m_reg;
  platform::IKernel& m_kernel;
  // Shared with the thread: which key is watched, or null once Stop closed it.
  std::mutex m_mu;
  HKEY m_key = nullptr;
  // Set before the thread starts and read only by it.
  bool m_watchSubtree = false;
  Callback m_callback;
  std::thread m_thread;
};
