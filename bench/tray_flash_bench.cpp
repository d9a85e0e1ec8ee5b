// Wall time from a finger touch asking the tray icon to flash to the first frame reaching
// the notification area, on the simulated machine: the timer armed due now, its pool
// thread started, the icon's lock taken and one NIM_MODIFY made. Must stay within 50 µs.
#include <benchmark/benchmark.h>

#include <atomic>
#include <memory>

#include "bench/bench_target.h"
#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "support/trace/trace.h"
#include "tests/testing/forwarding_platform.h"
#include "tests/tray/tray_test_platform.h"
#include "tray/tray_icon.h"

namespace {

// Counts flash frames; every call succeeds.
class CountingShell : public vdtest::ForwardingShell {
 public:
  using ForwardingShell::ForwardingShell;
  BOOL Shell_NotifyIconW(DWORD message, PNOTIFYICONDATAW) override {
    if (message == NIM_MODIFY) modifies.fetch_add(1, std::memory_order_release);
    return TRUE;
  }
  std::atomic<int> modifies{0};
};

class BenchPlatform : public traytest::TrayPlatform {
 public:
  explicit BenchPlatform(sim::Process& p) : TrayPlatform(p), counting(p.Shell()) {}
  platform::IShell& Shell() override { return counting; }
  CountingShell counting;
};

void BM_FingerTouchToFirstFrame(benchmark::State& state) {
  bench::SetTargetNs(state, 50000);
  sim::Machine machine;
  auto process = machine.CreateProcess({});
  sim::CurrentProcessScope scope(process.get());
  BenchPlatform plat(*process);
  plat.gdi.theme = false;
  plat.ui.faceColour = RGB(0, 0, 0);
  CTrayIcon icon(plat, nullptr, [](UINT) { return std::wstring(L"Agent"); });
  icon.SetWindowHandle(traytest::Fake<HWND>(0x3A1));
  if (!icon.PutIconOnTray(0, false)) {
    state.SkipWithError("icon not on the tray");
    return;
  }
  for (auto _ : state) {
    const int before = plat.counting.modifies.load(std::memory_order_acquire);
    icon.StartFlash();
    while (plat.counting.modifies.load(std::memory_order_acquire) == before) machine.RunUntilIdle();
    state.PauseTiming();
    machine.AdvanceBy(CTrayIcon::kFlashPeriodMs * 6);  // the rest of the flash, parked
    state.ResumeTiming();
  }
}
BENCHMARK(BM_FingerTouchToFirstFrame)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
