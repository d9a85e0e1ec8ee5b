// Cost of tracing: a scope and a message with tracing off (the state every agent runs in),
// and one record written to the enciphered trace file with tracing on.
#include <benchmark/benchmark.h>

#include <memory>

#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "platform/sim/registry_store.h"
#include "support/trace/trace.h"

namespace {

struct Agent {
  sim::Machine machine;
  std::unique_ptr<sim::Process> process = machine.CreateProcess({});
  Agent() { VDTraceNS::Bind(process.get()); }
  ~Agent() { VDTraceNS::Bind(nullptr); }
};

// For scale: what the scope's one platform call costs on its own on the simulated machine.
void BM_SimGetTickCount(benchmark::State& state) {
  Agent agent;
  platform::IKernel& kernel = agent.process->Kernel();
  for (auto _ : state) benchmark::DoNotOptimize(kernel.GetTickCount());
}
BENCHMARK(BM_SimGetTickCount);

void BM_ScopeTracingOff(benchmark::State& state) {
  Agent agent;
  for (auto _ : state) {
    VDTraceNS::CScope ts("CBench::Scope");
    benchmark::DoNotOptimize(&ts);
  }
}
BENCHMARK(BM_ScopeTracingOff);

void BM_MessageTracingOff(benchmark::State& state) {
  Agent agent;
  VDTraceNS::CScope ts("CBench::Message");
  int i = 0;
  for (auto _ : state) ts.Msg("iteration %d of %s", ++i, "bench");
}
BENCHMARK(BM_MessageTracingOff);

void BM_RecordToTraceFile(benchmark::State& state) {
  Agent agent;
  agent.machine.Registry().SetDword(L"HKLM\\SOFTWARE\\Veridane\\Tracing", L"DoTrace", 1);
  VDTraceNS::CScope ts("CBench::Record");  // reads the key, opens the file, writes '>'
  int i = 0;
  for (auto _ : state) ts.Msg("iteration %d of %s", ++i, "bench");
}
BENCHMARK(BM_RecordToTraceFile);

}  // namespace

BENCHMARK_MAIN();
