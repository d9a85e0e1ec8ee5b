// The dashboard's launcher table on the simulated machine, tracing off:
// - decoding a table of 16 groups of 8 launchers: must stay within 150 us;
// - starting one group of 8 programs and waiting until their threads have ended: must stay
//   within 1 ms of wall time.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "bench/bench_target.h"
#include "ext/launchers.h"
#include "platform/sim/file_system.h"
#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "support/trace/trace.h"

namespace {

struct LauncherRig {
  sim::Machine machine;
  std::unique_ptr<sim::Process> process = machine.CreateProcess({});
  sim::CurrentProcessScope scope{process.get()};
  CCryptBlob table;

  LauncherRig() {
    VDTraceNS::Bind(nullptr);
    CLauncherContainer c(*process);
    for (BYTE g = 0; g < 16; ++g) {
      for (BYTE s = 0; s < 8; ++s) {
        const std::wstring path = L"C:\\Apps\\app" + std::to_wstring(s) + L".exe";
        machine.Files().WriteFile(path, "MZ");
        if (s % 3 == 0)
          c.InsertLauncher(g, s, std::make_shared<CAppLauncher>(*process, path));
        else if (s % 3 == 1)
          c.InsertLauncher(g, s,
                           std::make_shared<CWebLinkLauncher>(*process, L"https://example.com/x"));
        else
          c.InsertLauncher(g, s,
                           std::make_shared<CPwdManagerLauncher>(*process, L"Bank", L"id", 7));
      }
    }
    table = c.Serialize();
  }
};

void BM_DecodeTable16x8(benchmark::State& state) {
  bench::SetTargetNs(state, 150000);
  LauncherRig rig;
  for (auto _ : state) {
    CLauncherContainer c(*rig.process);
    c.Unserialize(rig.table);
    benchmark::DoNotOptimize(c);
  }
}
BENCHMARK(BM_DecodeTable16x8)->Unit(benchmark::kMicrosecond);

void BM_StartGroupOf8(benchmark::State& state) {
  bench::SetTargetNs(state, 1000000);
  LauncherRig rig;
  CLauncherContainer c(*rig.process);
  for (BYTE s = 0; s < 8; ++s)
    c.InsertLauncher(1, s,
                     std::make_shared<CAppLauncher>(
                         *rig.process, L"C:\\Apps\\app" + std::to_wstring(s) + L".exe"));
  for (auto _ : state) {
    c.PerformLauncher(1);
    rig.machine.RunUntilIdle();
  }
}
BENCHMARK(BM_StartGroupOf8)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
