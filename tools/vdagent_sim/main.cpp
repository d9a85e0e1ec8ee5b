// vdagent-sim: the agent in a simulated Windows session, on virtual time.
//
//   vdagent-sim [--cmdline "<agent command line>"] [--machine FILE.json] [--keep-trace DIR]
#include <cstdio>
#include <cstring>
#include <string>

#include "standins/vdfpapi/description.h"
#include "tools/vdagent_sim/demo_run.h"

namespace {

void Usage(std::FILE* to) {
  std::fprintf(to,
               "usage: vdagent-sim [--cmdline TEXT] [--machine FILE] [--keep-trace DIR]\n"
               "  --cmdline TEXT    command line given to the agent (default: none)\n"
               "  --machine FILE    machine description (JSON: users, tokens, policies, readers)\n"
               "  --keep-trace DIR  copy the agent's trace files to DIR\n");
}

std::wstring Widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

int Run(int argc, char** argv) {
  vdsim::DemoOptions options;
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
    if (a == "--cmdline") {
      options.agentCommandLine = Widen(value("--cmdline"));
    } else if (a == "--machine") {
      // Bounded: a wrong name (a device, a log) is refused instead of filling memory.
      options.machineJson = vdfp_standin::ReadDescriptionText(value("--machine"));
    } else if (a == "--keep-trace") {
      options.keepTraceDir = value("--keep-trace");
    } else if (a == "-h" || a == "--help") {
      Usage(stdout);
      return 0;
    } else {
      std::fprintf(stderr, "vdagent-sim: unknown option '%s'\n", a.c_str());
      Usage(stderr);
      return 2;
    }
  }

  const vdsim::DemoResult r = vdsim::RunDemo(options);
  std::printf("== Trace file header\n");
  for (const auto& l : r.headerLines) std::printf("%s\n", l.c_str());
  std::printf("\n== Agent trace (simulated time)\n");
  for (const auto& l : r.timeline) std::printf("%s\n", l.c_str());
  std::printf("\n== What the desktop saw\n");
  for (const auto& l : r.desktop) std::printf("%s\n", l.c_str());
  std::printf("\n== Agent exit code: %d\n", r.agentExitCode);
  for (const auto& f : r.keptFiles) std::printf("Trace kept: %s\n", f.string().c_str());
  if (!r.traceError.empty()) {
    std::fprintf(stderr, "vdagent-sim: trace: %s\n", r.traceError.c_str());
    return 1;
  }
  return 0;
}

}  // namespace

// Every failure, whatever part it comes from, ends as a message and an exit code: an
// exception left to the runtime would abort the program with neither.
int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
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
