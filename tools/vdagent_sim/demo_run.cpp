#include "tools/vdagent_sim/demo_run.h"

#include <fstream>
#include <functional>
#include <iterator>

#include "app/agent_main.h"
#include "core/messages.h"
#include "platform/sim/desktop.h"
#include "platform/sim/file_system.h"
#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "platform/sim/registry_store.h"
#include "platform/sim/session_manager.h"
#include "platform/sim/window_manager.h"
#include "standins/vdfpapi/sim_install.h"
#include "support/trace/trace.h"
#include "support/trace/trace_file_reader.h"

namespace vdsim {

namespace {

constexpr DWORD kSession = 1;
constexpr const wchar_t* kTraceFolder = L"C:\\ProgramData\\Veridane\\Trace\\";
// Nothing in the demo takes longer; a scenario that would is cut here.
constexpr ULONGLONG kDemoLimitMs = 120000;

std::string Narrow(const std::wstring& w) {
  std::string s;
  for (wchar_t c : w) s.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return s;
}

struct Step {
  ULONGLONG atMs;
  std::function<void()> action;
};

}  // namespace

DemoResult RunDemo(const DemoOptions& options) {
  DemoResult result;
  sim::Machine machine;
  auto& reg = machine.Registry();
  reg.SetDword(L"HKLM\\SOFTWARE\\Veridane\\Tracing", L"DoTrace", 1);
  reg.SetString(L"HKLM\\SOFTWARE\\Veridane\\Tracing", L"TracePath", kTraceFolder);
  // The tracer writes into an existing folder only, as an administrator would set it up.
  std::filesystem::create_directories(machine.Files().HostPath(kTraceFolder));
  // The installer is a 32-bit program: its product keys live in the 32-bit view.
  reg.SetString(L"HKLM\\SOFTWARE\\WOW6432Node\\Veridane\\Products\\Lumera Workstation",
                L"Version", L"5.2.0.100");

  auto desc = options.machineJson ? vdfp_standin::VdfpDescription::FromJson(*options.machineJson)
                                  : vdfp_standin::VdfpDescription::Default();
  desc.hostRunning = false;  // the host starts a little after the agent
  auto vdfp = vdfp_standin::InstallVdfpApi(machine, desc);
  vdfp->StartHostAt(machine.GetClock().NowMs() + options.hostStartMs);

  auto process = machine.CreateProcess({.sessionId = kSession});
  auto& windows = machine.Windows();
  auto& clock = machine.GetClock();
  const ULONGLONG start = clock.NowMs();

  auto agentWindow = [&]() -> HWND {
    auto found = windows.WindowsOfClass(kSession, core::kAgentWindowClass);
    return found.empty() ? nullptr : found.front();
  };
  const std::vector<Step> steps = {
      {start + 8000, [&] { machine.Sessions().Lock(kSession); }},
      {start + 12000, [&] { machine.Sessions().Unlock(kSession); }},
      {start + 20000, [&] { machine.Sessions().LogOff(kSession); }},
      // The system ends the session's processes after the end-session messages.
      {start + 20500,
       [&] {
         if (HWND h = agentWindow()) windows.DestroyAnyWindow(h);
       }},
  };
  for (const auto& s : steps) clock.ScheduleAt(s.atMs, s.action);

  // While the agent's message loop has nothing to do, move virtual time on to whatever is
  // due next: the host start, the agent's own timers, the next scenario step.
  windows.SetMachineIdleDriver([&]() -> bool {
    const auto next = clock.NextDue();
    if (!next || *next > start + kDemoLimitMs) {
      if (HWND h = agentWindow()) {
        windows.DestroyAnyWindow(h);
        return true;
      }
      return false;
    }
    clock.AdvanceTo(*next);
    return true;
  });

  {
    sim::CurrentProcessScope scope(process.get());
    VDTraceNS::Bind(process.get());
    result.agentExitCode =
        app::AgentMain(*process, nullptr, options.agentCommandLine.c_str(), SW_SHOWNORMAL);
    VDTraceNS::Bind(nullptr);
  }
  windows.SetMachineIdleDriver(nullptr);

  for (const auto& e : machine.GetDesktop().Events())
    result.desktop.push_back(Narrow(sim::Desktop::Render(e)));

  // Read back every trace file the run wrote.
  const auto folder = machine.Files().HostPath(kTraceFolder);
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    if (entry.path().extension() != ".trc3") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
    struct Collector : VDTraceNS::ITraceFileHandler {
      DemoResult& r;
      VDTraceNS::CTraceTextFormatter fmt;
      explicit Collector(DemoResult& res)
          : r(res), fmt([&res](std::string_view l) { res.timeline.emplace_back(l); }) {}
      void OnHeaderLine(std::string_view line) override { r.headerLines.emplace_back(line); }
      void OnRecord(std::uint64_t off, std::uint32_t tid, char type,
                    std::string_view text) override {
        fmt.OnRecord(off, tid, type, text);
      }
    } collector(result);
    VDTraceNS::CTraceFileParser parser;
    if (!parser.Feed(bytes.data(), bytes.size(), collector) || !parser.Finish())
      result.traceError = entry.path().filename().string() + ": " + parser.Error();
    if (options.keepTraceDir) {
      std::filesystem::create_directories(*options.keepTraceDir);
      const auto to = *options.keepTraceDir / entry.path().filename();
      std::filesystem::copy_file(entry.path(), to,
                                 std::filesystem::copy_options::overwrite_existing);
      result.keptFiles.push_back(to);
    }
  }
  if (result.timeline.empty() && result.traceError.empty())
    result.traceError = "no trace file was written";
  vdfp.reset();
  return result;
}

}  // namespace vdsim
