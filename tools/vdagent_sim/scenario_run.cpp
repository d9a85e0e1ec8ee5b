#include "tools/vdagent_sim/scenario_run.h"

#include <fstream>
#include <functional>
#include <iterator>

#include "app/agent_main.h"
#include "core/messages.h"
#include "platform/sim/desktop.h"
#include "platform/sim/file_system.h"
#include "platform/sim/machine.h"
#include "platform/sim/module_table.h"
#include "platform/sim/process.h"
#include "platform/sim/registry_store.h"
#include "platform/sim/session_manager.h"
#include "platform/sim/window_manager.h"
#include "standins/agent_res/sim_install.h"
#include "standins/plugins/sim_install.h"
#include "standins/suite/sim_install.h"
#include "standins/toast/sim_install.h"
#include "standins/vdfpapi/sim_install.h"
#include "standins/vdscapi/sim_install.h"
#include "support/trace/trace.h"
#include "support/trace/trace_file_reader.h"
#include "tools/vdagent_sim/scenario_kinds.h"

namespace vdsim {

namespace {

constexpr DWORD kSession = 1;
constexpr const wchar_t* kTraceFolder = L"C:\\ProgramData\\Veridane\\Trace\\";

// The text form of a record line "<date> <time> <tid> <type> <indent><text>".
TraceRecord SplitRecordLine(const std::string& line) {
  TraceRecord r;
  std::size_t p = 0;
  auto word = [&]() {
    while (p < line.size() && line[p] == ' ') ++p;  // the thread id is right-aligned
    const std::size_t end = std::min(line.find(' ', p), line.size());
    std::string w = line.substr(p, end - p);
    p = end < line.size() ? end + 1 : end;
    return w;
  };
  const std::string date = word();
  r.t = date + " " + word();
  r.thread = static_cast<std::uint32_t>(std::strtoul(word().c_str(), nullptr, 10));
  const std::string type = word();
  r.type = type.empty() ? '?' : type[0];
  while (p < line.size() && line[p] == ' ') ++p;
  r.text = line.substr(p);
  return r;
}

void ReadTraceFiles(sim::Machine& machine, const RunOptions& options, RunResult& result) {
  const auto folder = machine.Files().HostPath(kTraceFolder);
  std::error_code ec;
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
    if (entry.path().extension() == ".trc3") files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  for (const auto& file : files) {
    std::ifstream in(file, std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
    struct Collector : VDTraceNS::ITraceFileHandler {
      RunResult& r;
      VDTraceNS::CTraceTextFormatter fmt;
      explicit Collector(RunResult& res)
          : r(res), fmt([&res](std::string_view l) {
              res.timeline.emplace_back(l);
              res.trace.push_back(SplitRecordLine(std::string(l)));
            }) {}
      void OnHeaderLine(std::string_view line) override { r.headerLines.emplace_back(line); }
      void OnRecord(std::uint64_t off, std::uint32_t tid, char type,
                    std::string_view text) override {
        fmt.OnRecord(off, tid, type, text);
      }
    } collector(result);
    VDTraceNS::CTraceFileParser parser;
    if (!parser.Feed(bytes.data(), bytes.size(), collector) || !parser.Finish())
      result.traceError = file.filename().string() + ": " + parser.Error();
    if (options.keepTraceDir) {
      std::filesystem::create_directories(*options.keepTraceDir);
      const auto to = *options.keepTraceDir / file.filename();
      std::filesystem::copy_file(file, to, std::filesystem::copy_options::overwrite_existing);
      result.keptFiles.push_back(to);
    }
  }
  if (result.timeline.empty() && result.traceError.empty())
    result.traceError = "no trace file was written";
}

bool Matches(const DesktopExpectation& e, const DesktopRecord& d) {
  if (e.kind && *e.kind != d.kind) return false;
  if (e.session && *e.session != d.session) return false;
  return !e.text || d.text.find(*e.text) != std::string::npos;
}

std::string Describe(const DesktopExpectation& e) {
  std::string s = "{";
  if (e.kind) s += "kind " + *e.kind + " ";
  if (e.session) s += "session " + std::to_string(*e.session) + " ";
  if (e.text) s += "text \"" + *e.text + "\"";
  return s + "}";
}

}  // namespace

RunResult RunScenario(const Scenario& scenario, const RunOptions& options) {
  RunResult result;
  sim::MachineDescription machineDesc;
  machineDesc.osMajor = scenario.windows.major;
  machineDesc.osMinor = scenario.windows.minor;
  machineDesc.dnsDomain = scenario.windows.dnsDomain;
  machineDesc.uiLanguages = scenario.windows.uiLanguages;
  sim::Machine machine(machineDesc);
  for (const auto& share : scenario.windows.shares) machine.Files().AddShare(share, 0);
  auto& reg = machine.Registry();
  reg.SetDword(L"HKLM\\SOFTWARE\\Veridane\\Tracing", L"DoTrace", 1);
  reg.SetString(L"HKLM\\SOFTWARE\\Veridane\\Tracing", L"TracePath", kTraceFolder);
  // The tracer writes into an existing folder only, as an administrator would set it up.
  std::filesystem::create_directories(machine.Files().HostPath(kTraceFolder));
  // The installer is a 32-bit program: its product keys live in the 32-bit view.
  reg.SetString(L"HKLM\\SOFTWARE\\WOW6432Node\\Veridane\\Products\\Lumera Workstation", L"Version",
                L"5.2.0.100");

  auto desc = scenario.machineJson ? vdfp_standin::VdfpDescription::FromJson(*scenario.machineJson)
                                   : vdfp_standin::VdfpDescription::Default();
  desc.hostRunning = false;  // the host starts a little after the agent
  auto vdfp = vdfp_standin::InstallVdfpApi(machine, desc);
  // The card readers and cards are described in the same machine description.
  auto cards = vdsc_standin::InstallVdscApi(
      machine, *vdfp,
      scenario.machineJson ? vdsc_standin::CardsDescription::FromJson(*scenario.machineJson)
                           : vdsc_standin::CardsDescription{});
  auto suite = suite_standin::InstallSuiteStandIns(
      machine, scenario.suiteJson ? suite_standin::SuiteDescription::FromJson(*scenario.suiteJson)
                                  : suite_standin::SuiteDescription{});
  // The toast library and the quick links are described with the suite's other components.
  auto toasts = toast_standin::InstallToastStandIns(
      machine, scenario.suiteJson
                   ? toast_standin::ToastStandInsDescription::FromJson(*scenario.suiteJson)
                   : toast_standin::ToastStandInsDescription{});
  // The tray plug-ins registered on the machine.
  auto trayPlugins = plugin_standin::InstallTrayPluginStandIns(
      machine, scenario.machineJson
                   ? plugin_standin::TrayPluginsDescription::FromJson(*scenario.machineJson)
                   : plugin_standin::TrayPluginsDescription{});
  // The agent's resource module with its texts and icons, beside the agent's executable.
  const std::wstring agentExe = sim::ProcessOptions{}.exePath;
  agent_res_sim::InstallAgentResources(
      machine, agentExe.substr(0, agentExe.find_last_of(L'\\') + 1) + L"VdAgentRes.dll");

  for (const auto& seed : scenario.registry) {
    std::wstring path = seed.key;
    if (path.rfind(L"HKCU", 0) == 0)
      path = L"HKU\\" + machine.Sessions().UserSid(kSession) + path.substr(4);
    reg.SetValue(path, seed.name, seed.type, seed.data);
  }

  auto process = machine.CreateProcess(
      {.sessionId = kSession, .elevatedAdmin = scenario.windows.administrator});
  auto sender = machine.CreateProcess(
      {.sessionId = kSession, .exePath = L"C:\\Windows\\system32\\scenario.exe"});
  auto& windows = machine.Windows();
  auto& clock = machine.GetClock();
  const ULONGLONG start = clock.NowMs();
  const ULONGLONG limit = start + scenario.limitMs;
  vdfp->StartHostAt(start + scenario.hostStartMs);

  auto agentWindow = [&]() -> HWND {
    auto found = windows.WindowsOfClass(kSession, core::kAgentWindowClass);
    return found.empty() ? nullptr : found.front();
  };
  bool ended = false;
  auto end = [&] {
    ended = true;
    if (HWND h = agentWindow()) windows.DestroyAnyWindow(h);
  };
  ScenarioContext ctx{machine, *vdfp, *suite, *cards, *toasts, kSession, *sender, agentWindow, end};

  for (const auto& ev : scenario.events) {
    clock.ScheduleAt(start + ev.atMs, [&ctx, &ev, &result, &end] {
      if (!result.runError.empty()) return;
      try {
        FindKind(ev.kind)->action(ctx, ev.fields);
      } catch (const std::exception& e) {
        result.runError = "events[" + std::to_string(ev.index) + "] (" + ev.kind + "): " + e.what();
        end();
      }
    });
  }

  // While the agent's message loop has nothing to do, move virtual time on to whatever is
  // due next: the host start, the agent's own timers, the next event.
  windows.SetMachineIdleDriver([&]() -> bool {
    const auto next = clock.NextDue();
    if (ended || !next || *next > limit) {
      if (HWND h = agentWindow()) {
        windows.DestroyAnyWindow(h);
        return true;
      }
      return false;
    }
    clock.AdvanceTo(*next);
    return true;
  });

  if (options.onAgentProcess) options.onAgentProcess(machine, *process);
  {
    sim::CurrentProcessScope scope(process.get());
    VDTraceNS::Bind(process.get());
    result.agentExitCode =
        app::AgentMain(*process, nullptr, scenario.commandLine.c_str(), SW_SHOWNORMAL);
    VDTraceNS::Bind(nullptr);
  }
  windows.SetMachineIdleDriver(nullptr);
  // A tray plug-in still hanging in its creation holds a thread of the agent's process, which
  // ending the process would stop on Windows; here it finishes before the process goes.
  if (const DWORD hang = trayPlugins->LongestCreationBlockMs()) {
    machine.AdvanceBy(hang);
    machine.RunUntilIdle();
  }

  for (const auto& e : machine.GetDesktop().Events()) {
    result.desktop.push_back({e.timeMs, e.sessionId, WideToUtf8(e.kind), WideToUtf8(e.text)});
    result.desktopLines.push_back(WideToUtf8(sim::Desktop::Render(e)));
  }
  ReadTraceFiles(machine, options, result);
  sender.reset();
  process.reset();
  trayPlugins.reset();
  toasts.reset();
  suite.reset();
  cards.reset();
  vdfp.reset();
  return result;
}

std::vector<std::string> CheckExpectations(const Expectations& expect, const RunResult& r) {
  std::vector<std::string> failures;
  if (expect.exitCode && *expect.exitCode != r.agentExitCode)
    failures.push_back("exit code " + std::to_string(r.agentExitCode) + ", expected " +
                       std::to_string(*expect.exitCode));
  std::size_t at = 0;
  for (const auto& e : expect.desktop) {
    while (at < r.desktop.size() && !Matches(e, r.desktop[at])) ++at;
    if (at == r.desktop.size()) {
      failures.push_back("desktop: no " + Describe(e) + " (in order)");
      break;
    }
    ++at;
  }
  for (const auto& e : expect.notDesktop)
    for (const auto& d : r.desktop)
      if (Matches(e, d)) {
        failures.push_back("desktop: unexpected " + Describe(e) + ": " + d.text);
        break;
      }
  at = 0;
  for (const auto& t : expect.trace) {
    while (at < r.trace.size() && r.trace[at].text.find(t) == std::string::npos) ++at;
    if (at == r.trace.size()) {
      failures.push_back("trace: no \"" + t + "\" (in order)");
      break;
    }
    ++at;
  }
  for (const auto& t : expect.notTrace)
    for (const auto& rec : r.trace)
      if (rec.text.find(t) != std::string::npos) {
        failures.push_back("trace: unexpected \"" + t + "\"");
        break;
      }
  return failures;
}

std::string ResultJson(const RunResult& r) {
  nlohmann::json j;
  j["exitCode"] = r.agentExitCode;
  j["desktop"] = nlohmann::json::array();
  for (const auto& d : r.desktop)
    j["desktop"].push_back({{"t", d.t},
                            {"session", d.session},
                            {"kind", d.kind},
                            {"text", d.text},
                            {"fields", nlohmann::json::object()}});
  j["trace"] = nlohmann::json::array();
  for (const auto& t : r.trace)
    j["trace"].push_back(
        {{"t", t.t}, {"thread", t.thread}, {"type", std::string(1, t.type)}, {"text", t.text}});
  if (!r.runError.empty()) j["runError"] = r.runError;
  if (!r.traceError.empty()) j["traceError"] = r.traceError;
  // Trace texts are stored as the agent wrote them; invalid UTF-8 becomes U+FFFD.
  return j.dump(1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace vdsim
