// Runs the agent through its real entry point in a simulated session, on virtual time, and
// plays a scenario: the machine boots with one signed-in user and tracing on, the registry
// seeds are written, the agent starts, the host service comes up a little later, the events
// happen at their times, and the run ends when the agent ends, at an "end" event, or when
// nothing is due before the time limit. The result is what the desktop saw and the decoded
// trace.
//
//   Scenario sc = ReadScenarioFile("scenarios/demo.json");
//   RunResult r = RunScenario(sc, {});
//   for (const auto& f : CheckExpectations(sc.expect, r)) std::puts(f.c_str());
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tools/vdagent_sim/scenario.h"

namespace sim {
class Machine;
class Process;
}  // namespace sim

namespace vdsim {

struct RunOptions {
  std::optional<std::filesystem::path> keepTraceDir;  // copy the trace files there
  // Called once the agent's process exists, before its entry point runs (the clock reads
  // the agent's start): a test schedules its own probes on the machine's clock here.
  std::function<void(sim::Machine&, sim::Process& agent)> onAgentProcess;
};

struct DesktopRecord {
  ULONGLONG t = 0;  // virtual ms since the machine booted
  DWORD session = 0;
  std::string kind;
  std::string text;
};

struct TraceRecord {
  std::string t;  // "dd/mm/yy hh:mm:ss.mmm" of the agent's clock
  std::uint32_t thread = 0;
  char type = 0;
  std::string text;
};

struct RunResult {
  int agentExitCode = -1;
  std::vector<std::string> headerLines;  // the trace file's plain header
  std::vector<std::string> timeline;     // one line per trace record, as vdtrace prints it
  std::vector<TraceRecord> trace;
  std::vector<DesktopRecord> desktop;
  std::vector<std::string> desktopLines;  // what the desktop saw, one line per event
  std::string traceError;                 // set when the trace file could not be read
  std::string runError;                   // an event that could not happen, with its position
  std::vector<std::filesystem::path> keptFiles;
};

RunResult RunScenario(const Scenario& scenario, const RunOptions& options = {});

// The expectations the run did not meet, one message each; empty when all hold.
std::vector<std::string> CheckExpectations(const Expectations& expect, const RunResult& r);

// {"exitCode", "desktop": [{"t", "session", "kind", "text", "fields"}],
//  "trace": [{"t", "thread", "type", "text"}]}
std::string ResultJson(const RunResult& r);

// The demo every build carries: scenarios/demo.json.
const char* BuiltInDemoScenario();

}  // namespace vdsim
