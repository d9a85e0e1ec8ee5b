// Cost of the window's task queue on the simulated machine, tracing off: one Post (an
// allocation and a posted message), and running a batch of posted tasks from the message
// loop (the swap under the lock, then each task in its trace scope).
#include <benchmark/benchmark.h>

#include <memory>

#include "app/main_window.h"
#include "core/agent_process.h"
#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "support/trace/trace.h"

namespace {

struct Agent {
  sim::Machine machine;
  std::unique_ptr<sim::Process> process = machine.CreateProcess({});
  sim::CurrentProcessScope scope{process.get()};
  std::unique_ptr<core::CAgentProcess> agent;
  std::unique_ptr<CExceptionSafeWindow<CVdAgentMain>> window;

  Agent() {
    VDTraceNS::Bind(process.get());
    agent = std::make_unique<core::CAgentProcess>(*process, nullptr);
    window = std::make_unique<CExceptionSafeWindow<CVdAgentMain>>(*agent);
    window->CreateMainWindow();
    Pump();
  }
  ~Agent() {
    window.reset();
    agent.reset();
    VDTraceNS::Bind(nullptr);
  }
  // The agent's message loop, until nothing is left.
  void Pump() {
    auto& ui = process->Ui();
    MSG msg;
    while (ui.PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ui.DispatchMessageW(&msg);
  }
};

void BM_Post(benchmark::State& state) {
  Agent a;
  int counter = 0;
  int pending = 0;
  for (auto _ : state) {
    a.window->Post([&counter] { ++counter; });
    if (++pending == 4096) {  // keep the queues at a realistic size
      state.PauseTiming();
      a.Pump();
      pending = 0;
      state.ResumeTiming();
    }
  }
  a.Pump();
  benchmark::DoNotOptimize(counter);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Post);

// N tasks posted, then the message loop: N messages arrive, the first runs the whole batch
// and the rest find the queue empty. No timer pauses inside the loop (they would cost more
// than a small batch): the batch's own cost is this less N posts.
void BM_PostAndRunBatch(benchmark::State& state) {
  Agent a;
  const int n = static_cast<int>(state.range(0));
  int counter = 0;
  for (auto _ : state) {
    for (int i = 0; i < n; ++i) a.window->Post([&counter] { ++counter; });
    a.Pump();
  }
  benchmark::DoNotOptimize(counter);
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_PostAndRunBatch)->Arg(1)->Arg(16)->Arg(256);

// For scale: one posted message and its dispatch, with no task queue involved.
void BM_PostMessageAndDispatch(benchmark::State& state) {
  Agent a;
  auto& ui = a.process->Ui();
  for (auto _ : state) {
    ui.PostMessageW(a.window->m_hWnd, WM_NULL, 0, 0);
    a.Pump();
  }
}
BENCHMARK(BM_PostMessageAndDispatch);

}  // namespace

BENCHMARK_MAIN();
