// The agent's own notification callback: it runs one stored action when the user clicks
// the balloon or toast, and ignores every other ending.
//
//   auto poster = tray.TaskPoster();   // posts to the window, false once the window is gone
//   platform::ComPtr<IUnknown> cb = CBalloon::Create(poster, [] { OpenConsole(); return S_OK; });
//   tray.Notify(L"Title", L"Text", nullptr, cb.get(), NIIF_INFO, 0, 0);
//
// Free-threaded: a toast's ending arrives on the toast library's thread. The action belongs
// to the window's thread, so a click posts it there as a task; with the window gone the
// action is only released.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>

#include "platform/com.h"
#include "support/toast_contract.h"

// Posts a task to the window's thread; false when the window is gone (the task is dropped).
using TrayTaskPoster = std::function<bool(std::function<void()>)>;

// A counted, free-threaded IVDNXTrayNotifyCallback with a lock of its own for what derived
// classes keep.
class CBalloonItemBase : public IVDNXTrayNotifyCallback {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // Objects alive in the process, for the module's lock count and for tests.
  static long LiveObjects();

 protected:
  CBalloonItemBase();
  virtual ~CBalloonItemBase();
  std::mutex m_lock;  // guards what derived classes keep

 private:
  std::atomic<ULONG> m_refs{1};
};

class CBalloon : public CBalloonItemBase {
 public:
  using Action = std::function<HRESULT()>;

  // A new object holding one reference, for the caller.
  static platform::ComPtr<IUnknown> Create(TrayTaskPoster poster, Action action);

  // 1029 (clicked): the action is posted to the window's thread, once; S_OK when posted,
  // S_FALSE when the window is gone. Every other code: S_OK, nothing done.
  HRESULT STDMETHODCALLTYPE OnTrayNotify(UINT code, UINT id) override;

 private:
  CBalloon(TrayTaskPoster poster, Action action);

  TrayTaskPoster m_poster;  // guarded by m_lock
  Action m_action;          // guarded by m_lock; emptied by the click
};
