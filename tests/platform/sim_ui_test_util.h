// Helpers for tests of the simulated window system: a recording test window, a thread
// with its own message loop, and a delivery log for message-sequence tables.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "platform/sim/window_manager.h"

namespace simtest {

struct Received {
  UINT msg;
  WPARAM wp;
  LPARAM lp;
  DWORD tid;
  ULONGLONG timeMs;
};

// A window whose procedure records every message (with the thread and virtual time) and
// answers through an optional handler, else DefWindowProcW.
class TestWindow {
 public:
  using Handler = std::function<std::optional<LRESULT>(HWND, UINT, WPARAM, LPARAM)>;

  explicit TestWindow(sim::Process& p) : m_process(p) {}
  ~TestWindow() {
    std::lock_guard lk(Mu());
    for (auto it = Map().begin(); it != Map().end();) {
      it = it->second == this ? Map().erase(it) : std::next(it);
    }
  }
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;

  static ATOM RegisterClass(sim::Process& p, const wchar_t* name) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &Proc;
    wc.lpszClassName = name;
    return p.Ui().RegisterClassExW(&wc);
  }

  HWND Create(const wchar_t* cls, const wchar_t* title = L"", DWORD style = WS_POPUP,
              HWND parent = nullptr) {
    m_hwnd = m_process.Ui().CreateWindowExW(0, cls, title, style, 0, 0, 10, 10, parent, nullptr,
                                            nullptr, this);
    return m_hwnd;
  }

  HWND hwnd() const { return m_hwnd; }
  sim::Process& process() { return m_process; }
  void SetHandler(Handler h) {
    std::lock_guard lk(m_mu);
    m_handler = std::move(h);
  }

  std::vector<Received> All() const {
    std::lock_guard lk(m_mu);
    return m_received;
  }
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
  static std::mutex& Mu() {
    static std::mutex mu;
    return mu;
  }
  static std::map<HWND, TestWindow*>& Map() {
    static std::map<HWND, TestWindow*> map;
    return map;
  }

  static LRESULT Proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    TestWindow* self = nullptr;
    {
      std::lock_guard lk(Mu());
      if (msg == WM_NCCREATE) {
        self = static_cast<TestWindow*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
        Map()[h] = self;
      } else if (auto it = Map().find(h); it != Map().end()) {
        self = it->second;
      }
    }
    if (!self) return 0;
    sim::Machine& m = self->m_process.GetMachine();
    Handler handler;
    {
      std::lock_guard lk(self->m_mu);
      self->m_received.push_back(Received{msg, wp, lp, m.CurrentThreadId(), m.GetClock().NowMs()});
      handler = self->m_handler;
    }
    std::optional<LRESULT> r;
    if (handler) r = handler(h, msg, wp, lp);
    return r ? *r : self->m_process.Ui().DefWindowProcW(h, msg, wp, lp);
  }

  sim::Process& m_process;
  HWND m_hwnd = nullptr;
  mutable std::mutex m_mu;
  std::vector<Received> m_received;
  Handler m_handler;
};

// A real thread with a message loop (GetMessageW until WM_QUIT) on which a test runs work.
class UiThread {
 public:
  explicit UiThread(sim::Process& p) : m_process(p) {
    std::promise<DWORD> started;
    auto f = started.get_future();
    m_thread = std::thread([this, &started] {
      platform::IUi& ui = m_process.Ui();
      MSG msg;
      ui.PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // makes the queue
      started.set_value(m_process.GetMachine().CurrentThreadId());
      while (ui.GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (!msg.hwnd && msg.message == kRun) {
          (*reinterpret_cast<std::function<void()>*>(msg.lParam))();
          continue;
        }
        ui.DispatchMessageW(&msg);
      }
    });
    m_tid = f.get();
  }
  ~UiThread() {
    m_process.Ui().PostThreadMessageW(m_tid, WM_QUIT, 0, 0);
    m_thread.join();
  }
  UiThread(const UiThread&) = delete;
  UiThread& operator=(const UiThread&) = delete;

  DWORD Tid() const { return m_tid; }

  // Runs fn on the thread, between two messages of its loop, and waits for it.
  void Run(const std::function<void()>& fn) {
    std::promise<void> done;
    std::function<void()> call = [&] {
      fn();
      done.set_value();
    };
    auto f = done.get_future();
    m_process.Ui().PostThreadMessageW(m_tid, kRun, 0, reinterpret_cast<LPARAM>(&call));
    f.get();
  }

 private:
  static constexpr UINT kRun = WM_APP + 0x3FF;
  sim::Process& m_process;
  std::thread m_thread;
  DWORD m_tid = 0;
};

// Every delivery while it lives, optionally only those to some windows.
class DeliveryLog {
 public:
  explicit DeliveryLog(sim::WindowManager& wm, std::vector<HWND> only = {})
      : m_wm(wm), m_only(std::move(only)) {
    m_token = wm.AddDeliveryHook([this](const sim::Delivery& d) {
      std::lock_guard lk(m_mu);
      if (m_only.empty() || std::find(m_only.begin(), m_only.end(), d.hwnd) != m_only.end()) {
        m_log.push_back(d);
      }
    });
  }
  ~DeliveryLog() { m_wm.RemoveDeliveryHook(m_token); }
  void Only(std::vector<HWND> only) {
    std::lock_guard lk(m_mu);
    m_only = std::move(only);
  }
  std::vector<sim::Delivery> Take() {
    std::lock_guard lk(m_mu);
    return std::exchange(m_log, {});
  }

 private:
  sim::WindowManager& m_wm;
  std::mutex m_mu;
  std::vector<HWND> m_only;
  std::vector<sim::Delivery> m_log;
  int m_token = 0;
};

// Waits (really) for something another real thread does; fails the test after a long
// safety bound rather than hanging.
inline bool WaitFor(const std::function<bool()>& pred) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

}  // namespace simtest
