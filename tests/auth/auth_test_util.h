// Shared set-up of the authentication tests: a simulated machine with the stand-in library
// installed, an agent process, and a window that records what is posted to it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "standins/vdfpapi/sim_install.h"
#include "support/trace/trace.h"

namespace authtest {

struct Posted {
  UINT msg;
  WPARAM wp;
  LPARAM lp;
  bool operator==(const Posted&) const = default;
};

inline void PrintTo(const Posted& p, std::ostream* os) {
  *os << "{0x" << std::hex << p.msg << ", " << std::dec << p.wp << ", " << p.lp << "}";
}

// A top-level window of a process that records the messages in [first, last] it receives.
class RecordingWindow {
 public:
  RecordingWindow(sim::Process& p, UINT first, UINT last)
      : m_process(p), m_first(first), m_last(last) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &Proc;
    wc.lpszClassName = L"AuthTestWindow";
    p.Ui().RegisterClassExW(&wc);  // a second window of the process finds it registered
    m_hwnd = p.Ui().CreateWindowExW(0, L"AuthTestWindow", L"", WS_POPUP, 0, 0, 10, 10, nullptr,
                                    nullptr, nullptr, this);
  }
  ~RecordingWindow() {
    if (m_hwnd) m_process.Ui().DestroyWindow(m_hwnd);
  }
  RecordingWindow(const RecordingWindow&) = delete;
  RecordingWindow& operator=(const RecordingWindow&) = delete;

  HWND hwnd() const { return m_hwnd; }
  std::vector<Posted> Take() {
    std::lock_guard lk(m_mu);
    return std::exchange(m_seen, {});
  }

 private:
  static LRESULT Proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    sim::Process* p = sim::CurrentProcess();
    auto* self =
        reinterpret_cast<RecordingWindow*>(p ? p->Ui().GetWindowLongPtrW(h, GWLP_USERDATA) : 0);
    if (msg == WM_NCCREATE) {
      self = static_cast<RecordingWindow*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
      self->m_process.Ui().SetWindowLongPtrW(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    if (!self) return 0;
    if (msg >= self->m_first && msg <= self->m_last) {
      std::lock_guard lk(self->m_mu);
      self->m_seen.push_back({msg, wp, lp});
      return 0;
    }
    return self->m_process.Ui().DefWindowProcW(h, msg, wp, lp);
  }

  sim::Process& m_process;
  UINT m_first, m_last;
  HWND m_hwnd = nullptr;
  std::mutex m_mu;
  std::vector<Posted> m_seen;
};

// A kiosk user record as the logon side writes it: version, format (or presence), the name in
// UTF-16 with its terminator unless `terminated` is false.
inline std::vector<BYTE> KioskRecord(DWORD version, DWORD field, const std::u16string& name,
                                     bool terminated = true) {
  std::vector<BYTE> r;
  for (DWORD v : {version, field})
    for (int i = 0; i < 4; ++i) r.push_back(static_cast<BYTE>(v >> (8 * i)));
  for (char16_t c : name) r.insert(r.end(), {static_cast<BYTE>(c), static_cast<BYTE>(c >> 8)});
  if (terminated) r.insert(r.end(), {0, 0});
  return r;
}

// A machine with the stand-in installed and one agent process in session 1, whose code the
// test thread runs (the current-process scope is set for the test's lifetime).
class SimAgentTest : public ::testing::Test {
 protected:
  void SetUp() override { VDTraceNS::Bind(nullptr); }

  void Install(vdfp_standin::VdfpDescription desc = vdfp_standin::VdfpDescription::Default(),
               vdfp_standin::SimInstallOptions opts = {}) {
    m_vdfp = vdfp_standin::InstallVdfpApi(m_machine, std::move(desc), std::move(opts));
  }
  static vdfp_standin::VdfpDescription LateHost() {
    auto d = vdfp_standin::VdfpDescription::Default();
    d.hostRunning = false;
    return d;
  }
  sim::Process& Agent() { return *m_agent; }
  vdfp_standin::CHostService& Host() { return m_vdfp->Host(); }

  sim::Machine m_machine;
  std::unique_ptr<vdfp_standin::SimInstallation> m_vdfp;
  std::unique_ptr<sim::Process> m_agent = m_machine.CreateProcess({.sessionId = 1});
  sim::CurrentProcessScope m_scope{m_agent.get()};
};

}  // namespace authtest
