// vdsettings: every setting the agent reads, with its effective value for the current user and
// the layer it came from (policy key, library policy, HKCU, HKLM, HKLM 32-bit view, library
// default, built-in default).
//
//   vdsettings [--json]                                   on Windows: this user, this machine
//   vdsettings [--json] [--machine FILE] [--user NAME]    built natively: a simulated machine
//
// Exit status: 0 the report was printed; 2 bad usage or a bad machine description.
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "support/settings/settings_report.h"

#ifdef _WIN32
#include "platform/win32/win32_platform.h"
#else
#include "standins/vdfpapi/description.h"
#include "tools/vdagent_sim/scenario.h"
#include "tools/vdagent_sim/settings_run.h"
#endif

namespace {

void Usage(std::FILE* to) {
#ifdef _WIN32
  std::fputs("usage: vdsettings [--json]\n", to);
#else
  std::fputs("usage: vdsettings [--json] [--machine FILE] [--user NAME]\n", to);
#endif
  std::fputs(
      "  --json          the report as JSON\n"
#ifndef _WIN32
      "  --machine FILE  the simulated machine's description (default: one user, alice)\n"
      "  --user NAME     a user of that machine (default: the console's)\n"
#endif
      "Sources: PolicyKey (HKCU Software\\Policies\\Veridane\\Lumera), LibraryPolicy, HKCU,\n"
      "HKLM, HKLM32 (32-bit view), LibraryDefault (the policy's default), Default.\n",
      to);
}

int Run(int argc, char** argv) {
  bool json = false;
#ifndef _WIN32
  std::optional<std::string> machineFile, user;
#endif
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
#ifndef _WIN32
    auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= argc) return std::nullopt;
      return std::string(argv[++i]);
    };
#endif
    if (a == "--json") {
      json = true;
    } else if (a == "-h" || a == "--help") {
      Usage(stdout);
      return 0;
#ifndef _WIN32
    } else if (a == "--machine" && (machineFile = value())) {
    } else if (a == "--user" && (user = value())) {
#endif
    } else {
      std::fprintf(stderr, "vdsettings: bad option '%s'\n", a.c_str());
      Usage(stderr);
      return 2;
    }
  }
#ifdef _WIN32
  platform::win32::CWin32Platform plat;
  const auto rows = settings_report::Build(plat);
  const std::string out =
      json ? settings_report::FormatJson(rows) : settings_report::FormatText(rows);
#else
  vdsim::Scenario sc;
  if (machineFile) sc.machineJson = vdfp_standin::ReadDescriptionText(*machineFile);
  vdsim::SettingsOptions options;
  if (user) options.user = vdsim::Utf8ToWide(*user);
  options.json = json;
  const std::string out = vdsim::SettingsReport(sc, options);
#endif
  std::fputs(out.c_str(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vdsettings: %s\n", e.what());
    return 2;
  }
}
