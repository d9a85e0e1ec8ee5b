// Wall time from the password manager's feedback change 0 -> 1 ("Act.Trained") reaching the
// agent's window to the reader's LED set to Wait and the acquisition started again, on the
// simulated machine: the message through the whole handler chain, the stop, the LED and the
// start through the authentication library. Tracing off. Must stay within 50 µs.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "bench/bench_target.h"
#include "app/main_window.h"
#include "core/agent_process.h"
#include "core/messages.h"
#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "standins/suite/sim_install.h"
#include "standins/vdfpapi/sim_install.h"
#include "support/trace/trace.h"
#include "support/vdfp/vdfpapi_types.h"

namespace {

struct FeedbackRig {
  sim::Machine machine;
  std::unique_ptr<vdfp_standin::SimInstallation> vdfp;
  std::unique_ptr<suite_standin::SimSuiteInstallation> suite;
  std::unique_ptr<sim::Process> process;
  std::unique_ptr<sim::CurrentProcessScope> scope;
  std::unique_ptr<core::CAgentProcess> agent;
  std::unique_ptr<CExceptionSafeWindow<CVdAgentMain>> window;

  FeedbackRig() {
    // Without the compatibility mode the agent runs the reader's acquisition itself.
    auto desc = vdfp_standin::VdfpDescription::Default();
    vdfp_standin::PolicySettingDesc winbio;
    winbio.name = L"MS_WINBIO_Compatibility";
    winbio.value.type = VDVAR_UINT32;
    winbio.value.number = 0;
    desc.policySettings.push_back(winbio);
    vdfp = vdfp_standin::InstallVdfpApi(machine, desc);
    suite = suite_standin::InstallSuiteStandIns(machine);
    process = machine.CreateProcess({.sessionId = 1});
    scope = std::make_unique<sim::CurrentProcessScope>(process.get());
    VDTraceNS::Bind(process.get());
    agent = std::make_unique<core::CAgentProcess>(*process, nullptr);
    window = std::make_unique<CExceptionSafeWindow<CVdAgentMain>>(*agent);
    window->CreateMainWindow();
    machine.RunUntilIdle();
  }
  ~FeedbackRig() {
    window.reset();
    agent.reset();
    VDTraceNS::Bind(nullptr);
    scope.reset();
    process.reset();
    suite.reset();
    vdfp.reset();
  }

  void Feedback(LPARAM state) {
    process->Ui().SendMessageW(window->m_hWnd, core::WM_VD_KWS, 2, state);
  }

  // The one acquisition: its LED and how often it was started. Empty when as expected.
  std::string Check(DWORD led, unsigned startsAtLeast) {
    const auto acquisitions = vdfp->Host().Acquisitions();
    if (acquisitions.size() != 1) return "no single acquisition";
    const auto& a = acquisitions.front();
    if (a.led != led) return "the LED is not as the state asks";
    if (!a.started || a.starts < startsAtLeast) return "the acquisition was not started";
    return {};
  }
  unsigned Starts() {
    const auto acquisitions = vdfp->Host().Acquisitions();
    return acquisitions.empty() ? 0 : acquisitions.front().starts;
  }
};

void BM_FeedbackTrainedToLedAndAcquisition(benchmark::State& state) {
  bench::SetTargetNs(state, 50000);
  FeedbackRig rig;
  if (rig.Starts() == 0) {
    state.SkipWithError("the agent never started its acquisition");
    return;
  }
  for (auto _ : state) {
    state.PauseTiming();
    const unsigned before = rig.Starts();
    state.ResumeTiming();
    rig.Feedback(1);
    state.PauseTiming();
    if (auto error = rig.Check(VDFP_LED_WAIT, before + 1); !error.empty()) {
      state.SkipWithError(error.c_str());
      break;
    }
    rig.Feedback(0);  // back to Inactive: LED off, the acquisition keeps running
    state.ResumeTiming();
  }
}
BENCHMARK(BM_FeedbackTrainedToLedAndAcquisition)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
