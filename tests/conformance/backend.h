// Backend conformance tests: one set of tests of the platform interfaces, compiled twice —
// natively against the simulated machine (sim_backend.cpp) and for Windows against the Win32
// backend (win32_backend.cpp, run under Wine by tests/wine/wine-run.sh). They keep the
// simulation honest: whatever the logic relies on must behave the same on both.
//
//   TEST_F(ConformanceTest, Something) {
//     platform::IPlatform& p = Plat();
//     ... p.Ui().PostMessageW(...);
//     ASSERT_TRUE(WaitUntil([&] { return window.Count(WM_APP) == 1; }));
//   }
//
// Time: `Pass(ms)` lets time go by (the virtual clock on the simulated machine, real time
// with the caller's messages pumped on Windows). `WaitUntil` waits for what other threads
// do without moving the virtual clock; its bound is a safety net against hangs, never a
// measure of speed.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace conformance {

class Backend {
 public:
  virtual ~Backend() = default;

  virtual platform::IPlatform& Plat() = 0;
  // Another process of the same session: a second simulated process, or on Windows a
  // second platform object of this process (objects and windows are shared the same way).
  virtual std::unique_ptr<platform::IPlatform> PeerInSameSession() = 0;
  // A process of another interactive session; null where the backend cannot make one.
  virtual std::unique_ptr<platform::IPlatform> PeerInOtherSession() = 0;
  virtual HINSTANCE Instance() = 0;
  // Lets ms milliseconds pass, pumping the calling thread's messages meanwhile.
  virtual void Pass(DWORD ms) = 0;
  // Runs the calling thread's pending messages (sent and posted) once.
  virtual void PumpOnce() = 0;
  // Presses (down) or releases the keys, in order, on this session's keyboard: the
  // simulated desktop's keyboard, or SendInput on Windows. Release what a test presses.
  virtual void SendKeys(const std::vector<int>& keys, bool down) = 0;
  // Wine, detected by ntdll's wine_get_version; never on the simulated machine, which
  // keeps the Windows behaviour.
  virtual bool IsWine() = 0;
  // Whether a test may lock the session (always on the simulated machine; on a real
  // workstation only when asked to, with VD_CONFORMANCE_LOCK=1).
  virtual bool MayLockTheSession() = 0;
  // The agent's resource module VdAgentRes.dll, loaded into this process: the one built
  // beside the test program on Windows, the same tables installed on the simulated machine.
  virtual HMODULE LoadAgentResources() = 0;
  // From now on the user looks at every dialog for ms and then does nothing (on Windows
  // nobody is there anyway): what the dialog's own messages do decides how it ends.
  virtual void UserOnlyLooksAtDialogs(DWORD ms) = 0;
  // A name no other run of these tests uses at the same time (objects outlive a test on
  // a shared wineserver until their handles close).
  virtual std::wstring Unique(const std::wstring& base) = 0;
};

std::unique_ptr<Backend> MakeBackend();

class ConformanceTest : public testing::Test {
 protected:
  void SetUp() override { m_backend = MakeBackend(); }
  void TearDown() override { m_backend.reset(); }

  Backend& B() { return *m_backend; }
  platform::IPlatform& Plat() { return m_backend->Plat(); }

  // Pumps the caller's messages until pred holds; false after a generous safety bound.
  bool WaitUntil(const std::function<bool()>& pred) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!pred()) {
      if (std::chrono::steady_clock::now() > until) return false;
      m_backend->PumpOnce();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }

#define SKIP_ON_WINE(why)                    \
  do {                                       \
    if (B().IsWine()) GTEST_SKIP() << (why); \
  } while (0)

 private:
  std::unique_ptr<Backend> m_backend;
};

struct Received {
  UINT msg;
  WPARAM wp;
  LPARAM lp;
  DWORD tid;  // the thread the window procedure ran on
};

// A top-level window (or a message-only one) whose procedure records every message and
// its thread; an optional handler answers, else DefWindowProcW.
class RecordingWindow {
 public:
  using Handler = std::function<bool(UINT, WPARAM, LPARAM, LRESULT*)>;
  static constexpr const wchar_t* kClass = L"VdConformanceRecordingWindow";

  RecordingWindow(platform::IPlatform& p, HINSTANCE inst, HWND parent = nullptr,
                  Handler handler = {})
      : m_p(p), m_handler(std::move(handler)) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &Proc;
    wc.hInstance = inst;
    wc.lpszClassName = kClass;
    // Every process (and every simulated one) registers its own; again is fine.
    if (!p.Ui().RegisterClassExW(&wc)) {
      EXPECT_EQ(p.Kernel().GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));
    }
    t_creating = this;
    m_hwnd = p.Ui().CreateWindowExW(0, kClass, L"conformance", WS_POPUP, 0, 0, 10, 10, parent,
                                    nullptr, inst, this);
    t_creating = nullptr;
    EXPECT_NE(m_hwnd, nullptr);
  }
  ~RecordingWindow() {
    if (m_hwnd && m_p.Ui().IsWindow(m_hwnd)) m_p.Ui().DestroyWindow(m_hwnd);
    std::lock_guard lk(MapMu());
    for (auto it = Map().begin(); it != Map().end();) {
      it = it->second == this ? Map().erase(it) : std::next(it);
    }
  }
  RecordingWindow(const RecordingWindow&) = delete;
  RecordingWindow& operator=(const RecordingWindow&) = delete;

  HWND hwnd() const { return m_hwnd; }
  std::vector<Received> Of(UINT msg) const {
    std::lock_guard lk(m_mu);
    std::vector<Received> r;
    for (const auto& m : m_received) {
      if (m.msg == msg) r.push_back(m);
    }
    return r;
  }
  size_t Count(UINT msg) const { return Of(msg).size(); }

 private:
  static std::mutex& MapMu() {
    static std::mutex mu;
    return mu;
  }
  static std::map<HWND, RecordingWindow*>& Map() {
    static std::map<HWND, RecordingWindow*> map;
    return map;
  }
  // The window being created on this thread: its first messages (WM_GETMINMAXINFO on
  // Windows) come before WM_NCCREATE carries the creation parameter.
  static inline thread_local RecordingWindow* t_creating = nullptr;

  static LRESULT CALLBACK Proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    RecordingWindow* self = nullptr;
    {
      std::lock_guard lk(MapMu());
      if (auto it = Map().find(h); it != Map().end()) {
        self = it->second;
      } else if (t_creating) {
        self = t_creating;
        Map()[h] = self;
      }
    }
    if (!self) return 0;
    {
      std::lock_guard lk(self->m_mu);
      self->m_received.push_back(Received{msg, wp, lp, self->m_p.Kernel().GetCurrentThreadId()});
    }
    LRESULT r = 0;
    if (self->m_handler && self->m_handler(msg, wp, lp, &r)) return r;
    return self->m_p.Ui().DefWindowProcW(h, msg, wp, lp);
  }

  platform::IPlatform& m_p;
  Handler m_handler;
  HWND m_hwnd = nullptr;
  mutable std::mutex m_mu;
  std::vector<Received> m_received;
};

// A real thread with its own message loop on a platform; work runs on it between messages.
class UiThread {
 public:
  explicit UiThread(platform::IPlatform& p) : m_p(p) {
    std::promise<DWORD> started;
    auto f = started.get_future();
    m_thread = std::thread([this, &started] {
      platform::IUi& ui = m_p.Ui();
      MSG msg;
      ui.PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // makes the queue
      started.set_value(m_p.Kernel().GetCurrentThreadId());
      while (ui.GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (!msg.hwnd && msg.message == kRun) {
          (*reinterpret_cast<std::function<void()>*>(msg.lParam))();
          continue;
        }
        ui.TranslateMessage(&msg);
        ui.DispatchMessageW(&msg);
      }
    });
    m_tid = f.get();
  }
  ~UiThread() {
    m_p.Ui().PostThreadMessageW(m_tid, WM_QUIT, 0, 0);
    m_thread.join();
  }
  UiThread(const UiThread&) = delete;
  UiThread& operator=(const UiThread&) = delete;

  DWORD Tid() const { return m_tid; }

  // Runs fn on the thread and waits for it.
  void Run(const std::function<void()>& fn) {
    std::promise<void> done;
    std::function<void()> call = [&] {
      fn();
      done.set_value();
    };
    auto f = done.get_future();
    EXPECT_TRUE(m_p.Ui().PostThreadMessageW(m_tid, kRun, 0, reinterpret_cast<LPARAM>(&call)));
    f.get();
  }

 private:
  static constexpr UINT kRun = WM_APP + 0x3FF;
  platform::IPlatform& m_p;
  std::thread m_thread;
  DWORD m_tid = 0;
};

}  // namespace conformance
