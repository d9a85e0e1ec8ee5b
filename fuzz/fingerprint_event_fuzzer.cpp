// libFuzzer target for the fingerprint handler's logic and the reader events the library
// posts to the agent's window: any event code with any data, forged or made by the stand-in
// library for a real finger, mixed with the window's own steps (ready, host-key changes,
// cancelled and real ends of session), a reader coming and going and the window's answers
// changing. The logic must stay consistent: no crash; the library never holds more than the
// one acquisition the logic knows of; an action only ever runs for the capture of a completed
// event delivered while actions could start; unknown events ask nothing of the window; once
// disposed no acquisition is left, every library buffer is given back, and a task still
// queued does nothing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "auth/fingerprint_logic.h"
#include "core/messages.h"
#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "standins/vdfpapi/host.h"
#include "standins/vdfpapi/sim_install.h"
#include "support/trace/trace.h"
#include "support/vdfp/vdfp_api.h"
#include "tests/auth/fake_fingerprint_host.h"
#include "tests/auth/fp_test_util.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

struct Event {
  WPARAM code;
  LPARAM data;
};

// What the library posted to the window, for the fuzzer to deliver.
std::mutex g_mu;
std::vector<Event> g_posted;

LRESULT Proc(HWND, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) return TRUE;
  if (msg == core::WM_VD_FINGERPRINT) {
    std::lock_guard lk(g_mu);
    g_posted.push_back({wp, lp});
  }
  return 0;
}

// One machine, library and window for the whole run: building them per input would leave
// no time to fuzz.
struct Rig {
  sim::Machine machine;
  std::unique_ptr<vdfp_standin::SimInstallation> vdfp =
      vdfp_standin::InstallVdfpApi(machine, authtest::WithWinbioPolicy(0));
  std::unique_ptr<sim::Process> process = machine.CreateProcess({.sessionId = 1});
  sim::CurrentProcessScope scope{process.get()};
  CVDFPApi api{*process};
  HWND window = nullptr;
  Rig() {
    VDTraceNS::Bind(nullptr);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &Proc;
    wc.lpszClassName = L"FuzzFingerprintWindow";
    process->Ui().RegisterClassExW(&wc);
    window = process->Ui().CreateWindowExW(0, L"FuzzFingerprintWindow", L"", WS_POPUP, 0, 0, 10,
                                           10, nullptr, nullptr, nullptr, nullptr);
    Check(window != nullptr);
  }
  vdfp_standin::CHostService& Host() { return vdfp->Host(); }
  std::vector<Event> TakePosted() {
    machine.RunUntilIdle();
    std::lock_guard lk(g_mu);
    return std::exchange(g_posted, {});
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Rig rig;
  rig.TakePosted();  // nothing of an earlier input is delivered
  authtest::FakeFingerprintHost host;
  bool wanted = false;
  std::multiset<DWORD> completed;  // captures an action may run for
  {
    CFingerprintLogic logic(*rig.process, rig.api, wanted, host);
    logic.OnCreate(rig.window);
    rig.machine.RunUntilIdle();
    logic.OnReady();

    auto deliver = [&](WPARAM code, LPARAM lp) {
      const bool couldStart = host.canStart;
      const std::size_t calls = host.calls.size(), tasks = host.PendingTasks();
      Check(logic.OnFingerprintMessage(code, lp) == S_OK);
      if (code == 0 && couldStart) completed.insert(static_cast<DWORD>(lp));
      if (code > 7) Check(host.calls.size() == calls && host.PendingTasks() == tasks);
    };
    for (std::size_t i = 0; i + 2 < size; i += 3) {
      const std::uint8_t op = data[i], a = data[i + 1], b = data[i + 2];
      switch (op % 8) {
        case 0:  // a forged event: any code, any data
        case 1:
          deliver(a % 12, static_cast<LPARAM>(b) << (a % 5 * 8));
          break;
        case 2:  // a finger on the reader: the library's own events
          rig.Host().TouchFinger(b & 1 ? L"alice" : L"nobody");
          for (const auto& e : rig.TakePosted()) deliver(e.code, e.data);
          break;
        case 3:
          host.RunTasks();
          break;
        case 4:  // the window's answers change
          host.canStart = (b & 1) != 0;
          host.selectedQuickAction = (b >> 1) & 1;
          host.feedbackState = (b >> 2) & 3;
          host.readyResult = (b & 16) ? E_FAIL : S_OK;
          break;
        case 5:
          if (b & 1)
            rig.Host().DisconnectReader();
          else
            rig.Host().ReconnectReader();
          for (const auto& e : rig.TakePosted()) deliver(e.code, e.data);
          break;
        case 6:
          logic.OnRegistryChanged();
          break;
        default: {  // a cancelled end of session keeps everything
          const bool had = logic.HasAcquisition();
          logic.OnDestroy(WM_ENDSESSION, 0);
          Check(logic.HasAcquisition() == had);
          break;
        }
      }
      const auto acquisitions = rig.Host().Acquisitions();
      Check(acquisitions.size() == (logic.HasAcquisition() ? 1u : 0u));
    }
    for (DWORD capture : host.readyCaptures) {
      const auto it = completed.find(capture);
      Check(it != completed.end());
      completed.erase(it);
    }

    logic.OnDestroy(WM_ENDSESSION, 1);
    const unsigned creates = rig.Host().CallCount("VDFPCreateAcquisition");
    const std::size_t ready = host.readyCaptures.size();
    host.RunTasks();
    logic.OnRegistryChanged();
    rig.machine.RunUntilIdle();
    Check(host.readyCaptures.size() == ready);
    Check(rig.Host().CallCount("VDFPCreateAcquisition") == creates);
    Check(rig.Host().Acquisitions().empty());
  }
  Check(rig.Host().Buffers().Outstanding() == 0);
  return 0;
}
