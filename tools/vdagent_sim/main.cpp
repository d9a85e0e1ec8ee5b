// vdagent-sim: the agent in a simulated Windows session, playing a scenario on virtual time.
//
//   vdagent-sim [--scenario FILE.json] [--json OUT.json] [--cmdline TEXT] [--machine FILE.json]
//               [--keep-trace DIR] [--kinds]
//   vdagent-sim --settings [--user NAME] [--json] [--machine FILE.json] [--scenario FILE.json]
//
// Exit status: 0 the run happened and its expectations hold; 1 the run failed (an event
// could not happen, the trace could not be read, an expectation does not hold); 2 bad usage
// or a bad scenario, with the position of what is wrong.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "standins/vdfpapi/description.h"
#include "tools/vdagent_sim/scenario_kinds.h"
#include "tools/vdagent_sim/scenario_run.h"
#include "tools/vdagent_sim/settings_run.h"

namespace {

void Usage(std::FILE* to) {
  std::fprintf(
      to,
      "usage: vdagent-sim [--scenario FILE] [--json OUT] [--cmdline TEXT] [--machine FILE]\n"
      "                   [--keep-trace DIR] [--kinds]\n"
      "       vdagent-sim --settings [--user NAME] [--json] [--machine FILE] [--scenario FILE]\n"
      "  --scenario FILE   play this scenario (JSON; default: the built-in demo)\n"
      "  --json OUT        write the result as JSON: exit code, desktop events, trace records\n"
      "  --cmdline TEXT    command line given to the agent (overrides the scenario's)\n"
      "  --machine FILE    machine description (overrides the scenario's \"machine\")\n"
      "  --keep-trace DIR  copy the agent's trace files to DIR\n"
      "  --kinds           list the scenario event kinds and their fields\n"
      "  --settings        print every setting of the user with its effective value and the\n"
      "                    layer it came from (a scenario gives the machine and registry)\n"
      "  --user NAME       with --settings: a user of the machine (default: the console's)\n"
      "  --json            with --settings: the report as JSON on standard output\n");
}

void PrintKinds() {
  for (const auto& row : vdsim::ScenarioKinds()) {
    std::printf("%-18s %s%s\n", row.name, row.summary, row.action ? "" : " (reserved)");
    for (const auto& f : row.fields)
      std::printf("%18s   %s%s\n", "", f.name, f.required ? " (required)" : "");
  }
}

int Run(int argc, char** argv) {
  std::optional<std::string> scenarioFile, jsonOut, cmdline, machineFile;
  vdsim::RunOptions options;
  // Known before the loop: it changes what --json means, wherever it stands.
  const bool settings = std::any_of(
      argv + 1, argv + argc, [](const char* a) { return std::strcmp(a, "--settings") == 0; });
  bool settingsJson = false;
  std::optional<std::string> user;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](const char* what) -> std::string {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "vdagent-sim: %s needs a value\n", what);
        Usage(stderr);
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--scenario") {
      scenarioFile = value("--scenario");
    } else if (a == "--json") {
      // With --settings the report itself is the JSON; otherwise the run's result goes to OUT.
      if (settings) {
        settingsJson = true;
      } else {
        jsonOut = value("--json");
      }
    } else if (a == "--cmdline") {
      cmdline = value("--cmdline");
    } else if (a == "--machine") {
      machineFile = value("--machine");
    } else if (a == "--keep-trace") {
      options.keepTraceDir = value("--keep-trace");
    } else if (a == "--settings") {
    } else if (a == "--user") {
      user = value("--user");
    } else if (a == "--kinds") {
      PrintKinds();
      return 0;
    } else if (a == "-h" || a == "--help") {
      Usage(stdout);
      return 0;
    } else {
      std::fprintf(stderr, "vdagent-sim: unknown option '%s'\n", a.c_str());
      Usage(stderr);
      return 2;
    }
  }

  if (user && !settings) {
    std::fprintf(stderr, "vdagent-sim: --user needs --settings\n");
    return 2;
  }
  vdsim::Scenario sc = scenarioFile ? vdsim::ReadScenarioFile(*scenarioFile)
                                    : vdsim::ParseScenario(vdsim::BuiltInDemoScenario());
  if (cmdline) sc.commandLine = vdsim::Utf8ToWide(*cmdline);
  // Bounded: a wrong name (a device, a log) is refused instead of filling memory.
  if (machineFile) sc.machineJson = vdfp_standin::ReadDescriptionText(*machineFile);
  if (settings) {
    vdsim::SettingsOptions so;
    if (user) so.user = vdsim::Utf8ToWide(*user);
    so.json = settingsJson;
    std::fputs(vdsim::SettingsReport(sc, so).c_str(), stdout);
    return 0;
  }

  const vdsim::RunResult r = vdsim::RunScenario(sc, options);
  std::printf("== Trace file header\n");
  for (const auto& l : r.headerLines) std::printf("%s\n", l.c_str());
  std::printf("\n== Agent trace (simulated time)\n");
  for (const auto& l : r.timeline) std::printf("%s\n", l.c_str());
  std::printf("\n== What the desktop saw\n");
  for (const auto& l : r.desktopLines) std::printf("%s\n", l.c_str());
  std::printf("\n== Agent exit code: %d\n", r.agentExitCode);
  for (const auto& f : r.keptFiles) std::printf("Trace kept: %s\n", f.string().c_str());

  if (jsonOut) {
    std::ofstream out(*jsonOut, std::ios::binary | std::ios::trunc);
    out << vdsim::ResultJson(r) << "\n";
    if (!out) {
      std::fprintf(stderr, "vdagent-sim: cannot write %s\n", jsonOut->c_str());
      return 1;
    }
  }
  int rc = 0;
  if (!r.runError.empty()) {
    std::fprintf(stderr, "vdagent-sim: %s\n", r.runError.c_str());
    rc = 1;
  }
  if (!r.traceError.empty()) {
    std::fprintf(stderr, "vdagent-sim: trace: %s\n", r.traceError.c_str());
    rc = 1;
  }
  const auto failures = vdsim::CheckExpectations(sc.expect, r);
  for (const auto& f : failures)
    std::fprintf(stderr, "vdagent-sim: expectation failed: %s\n", f.c_str());
  if (!failures.empty()) rc = 1;
  return rc;
}

}  // namespace

// Every failure, whatever part it comes from, ends as a message and an exit code: an
// exception left to the runtime would abort the program with neither.
int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const vdsim::ScenarioError& e) {
    std::fprintf(stderr, "vdagent-sim: scenario: %s\n", e.what());
    return 2;
  } catch (const vdfp_standin::DescriptionError& e) {
    std::fprintf(stderr, "vdagent-sim: machine description: %s\n", e.what());
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vdagent-sim: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "vdagent-sim: an unknown failure ended the run\n");
  }
  return 1;
}
