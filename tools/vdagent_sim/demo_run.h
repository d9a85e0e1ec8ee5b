// Runs the agent through its real entry point in a simulated session, on virtual time:
// the machine boots with one signed-in user and tracing on, the agent starts, the host
// service comes up a little later, the agent becomes ready, the built-in demo scenario
// plays (lock, unlock), the user logs off and the agent ends. The result is
// the decoded trace as a timeline and what the desktop saw.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vdsim {

struct DemoOptions {
  std::wstring agentCommandLine;                 // default: none
  std::optional<std::string> machineJson;        // the stand-in library's machine description
  std::optional<std::filesystem::path> keepTraceDir;  // copy the trace files there
  unsigned hostStartMs = 3000;                   // when the host service comes up
};

struct DemoResult {
  int agentExitCode = -1;
  std::vector<std::string> headerLines;  // the trace file's plain header
  std::vector<std::string> timeline;     // one line per trace record
  std::vector<std::string> desktop;      // what the desktop saw
  std::string traceError;                // set when the trace file could not be read
  std::vector<std::filesystem::path> keptFiles;
};

DemoResult RunDemo(const DemoOptions& options);

}  // namespace vdsim
