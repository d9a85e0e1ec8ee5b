// Wall time of one avatar draw on the simulated machine: drawing_t::update_state with a frame
// of the real 48-pixel strip (a screen DC, a memory DC and a DIB made and freed, the frame
// stretched into it, the layered window updated and set top-most again). Tracing off. A look
// or a drag step costs one such draw; a drag repaints on every mouse move, so it must stay
// well under a millisecond: 500 us.
#include <benchmark/benchmark.h>

#include <memory>

#include "bench/bench_target.h"
#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "standins/agent_res/sim_install.h"
#include "tray/avatar_drawing.h"

namespace {

struct AvatarRig {
  sim::Machine machine;
  std::unique_ptr<sim::Process> process;
  std::unique_ptr<sim::CurrentProcessScope> scope;
  std::unique_ptr<tray::drawing_t> picture;
  HWND window = nullptr;

  AvatarRig() {
    agent_res_sim::InstallAgentPicture(machine, sim::ProcessOptions{}.exePath);
    process = machine.CreateProcess({.sessionId = 1});
    scope = std::make_unique<sim::CurrentProcessScope>(process.get());
    platform::IUi& ui = process->Ui();
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = ui.DefWindowProcAddress();
    wc.lpszClassName = L"AvatarBench";
    ui.RegisterClassExW(&wc);
    window = ui.CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_LAYERED, L"AvatarBench", L"", WS_POPUP,
                                10, 10, 48, 48, nullptr, nullptr, nullptr, nullptr);
    picture = std::make_unique<tray::drawing_t>(*process);
    const auto module = reinterpret_cast<HINSTANCE>(process->Modules().GetModuleHandleW(nullptr));
    if (!window || !picture->load(module)) std::abort();
  }
  ~AvatarRig() {
    picture.reset();
    scope.reset();
    process.reset();
  }
};

void BM_AvatarUpdateState(benchmark::State& state) {
  bench::SetTargetNs(state, 500000);
  AvatarRig rig;
  int frame = 0;
  for (auto _ : state) {
    rig.picture->update_state(rig.window, frame, false);
    frame = (frame + 1) % 4;
  }
}
BENCHMARK(BM_AvatarUpdateState)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
