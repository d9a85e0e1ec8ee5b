// vdtrace FILE... [--follow] [--thread N] [--scope REGEX] [--from TIME] [--to TIME] [--errors]
// vdtrace FILE... [--thread N] [--scope REGEX] [--from TIME] [--to TIME]
//                 --summary | --locks | --html OUT
//
// Prints a trace file's header lines as they are, then one line per record:
//   <date> <time> <thread id> <type> <indentation per open scope of the thread><text>
// Several files are read in order as one run (a run continued across files). --follow keeps
// reading the last one as it grows (and starts over when it is recreated).
// Filters: --thread N, --scope REGEX (a scope and everything inside it), --from/--to TIME
// ("MM/DD/YY HH:MM:SS.mmm" or a time of day "HH:MM:SS[.mmm]"), --errors (failures with the
// scopes around them).
// --summary: time per scope name and the span of each thread; --locks: every lock, unlock and
// log-off with its cause and user; --html OUT: the run as a timeline page. The summary and the
// page take the records the filters pass. --locks reads the whole run, since a cause can be in
// any thread's records, and lists the entries on the thread and in the time asked for.
// Bad input is reported on stderr with its file and offset after what could be read; the exit
// code is then 1 (2 for usage and I/O errors).
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "tools/vdtrace/html_timeline.h"
#include "tools/vdtrace/lock_audit.h"
#include "tools/vdtrace/trace_filter.h"
#include "tools/vdtrace/trace_run.h"
#include "tools/vdtrace/trace_summary.h"

namespace {

int Usage(const char* why = nullptr) {
  if (why) std::fprintf(stderr, "vdtrace: %s\n", why);
  std::fprintf(stderr,
               "usage: vdtrace FILE... [--follow] [--thread N] [--scope REGEX] [--from TIME]\n"
               "                       [--to TIME] [--errors]\n"
               "       vdtrace FILE... [--thread N] [--scope REGEX] [--from TIME] [--to TIME]\n"
               "                       --summary | --locks | --html OUT\n"
               "  TIME: \"MM/DD/YY HH:MM:SS.mmm\" or \"HH:MM:SS[.mmm]\", as the lines show it\n");
  return 2;
}

void PrintLine(std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
}

enum class Mode { kText, kSummary, kLocks, kHtml };

struct Options {
  std::vector<std::string> files;
  bool follow = false;
  Mode mode = Mode::kText;
  std::string htmlOut;
  vdtrace::FilterOptions filter;
};

// Empty on success, else why the command line is wrong.
std::string Parse(int argc, char** argv, Options& o) {
  int modes = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= argc) return std::nullopt;
      return std::string(argv[++i]);
    };
    if (a == "--follow" || a == "-f") {
      o.follow = true;
    } else if (a == "--thread") {
      const auto v = value();
      char* end = nullptr;
      if (!v || v->empty()) return "--thread needs a thread id";
      const unsigned long id = std::strtoul(v->c_str(), &end, 10);
      if (*end != 0 || id > 0xFFFFFFFFUL) return "--thread needs a thread id";
      o.filter.thread = static_cast<std::uint32_t>(id);
    } else if (a == "--scope") {
      const auto v = value();
      if (!v) return "--scope needs a regular expression";
      try {
        o.filter.scope.emplace(*v, std::regex::ECMAScript);
      } catch (const std::regex_error&) {
        return "--scope: not a regular expression: " + *v;
      }
    } else if (a == "--from" || a == "--to") {
      const auto v = value();
      const auto bound = v ? vdtrace::TimeBound::Parse(*v) : std::nullopt;
      if (!bound) return a + " needs a time as the lines show it";
      (a == "--from" ? o.filter.from : o.filter.to) = bound;
    } else if (a == "--errors") {
      o.filter.errors = true;
    } else if (a == "--summary") {
      o.mode = Mode::kSummary;
      ++modes;
    } else if (a == "--locks") {
      o.mode = Mode::kLocks;
      ++modes;
    } else if (a == "--html") {
      const auto v = value();
      if (!v) return "--html needs an output file";
      o.htmlOut = *v;
      o.mode = Mode::kHtml;
      ++modes;
    } else if (a.size() > 1 && a[0] == '-') {
      return "unknown option " + a;
    } else {
      o.files.push_back(a);
    }
  }
  if (o.files.empty()) return "no trace file";
  if (modes > 1) return "--summary, --locks and --html go one at a time";
  if (o.mode != Mode::kText && (o.follow || o.filter.errors))
    return "--follow and --errors go with the text output only";
  if (o.mode == Mode::kLocks && o.filter.scope)
    return "--locks reads every scope for the causes: use --thread, --from or --to with it";
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (argc < 2) return Usage();
  if (const std::string why = Parse(argc, argv, o); !why.empty()) return Usage(why.c_str());

  vdtrace::CFilteredPrinter printer(o.filter, PrintLine);
  vdtrace::CEventFilter filter(o.filter);
  vdtrace::CTraceSummary summary;
  vdtrace::CLockAudit locks;
  vdtrace::CHtmlTimeline page;
  vdtrace::CRunModel model(
      [&](const vdtrace::TraceEvent& e) {
        // Stamps pass too: they end a run's open scopes.
        const bool pass = filter.OnEvent(e).pass || e.IsStamp();
        switch (o.mode) {
          case Mode::kText:
            printer.OnEvent(e);
            break;
          case Mode::kSummary:
            if (pass) summary.OnEvent(e);
            break;
          case Mode::kLocks:
            locks.OnEvent(e);
            break;
          case Mode::kHtml:
            if (pass) page.OnEvent(e);
            break;
        }
      },
      [&](std::string_view line) {
        if (o.mode == Mode::kText) printer.OnHeaderLine(line);
        if (o.mode == Mode::kHtml) page.OnHeaderLine(line);
      });

  vdtrace::CRunReader reader(model);
  bool ok = true;
  for (std::size_t i = 0; i < o.files.size() && ok; ++i)
    ok = reader.Read(o.files[i], o.follow && i + 1 == o.files.size());

  // What could be read is shown even when reading stopped early.
  switch (o.mode) {
    case Mode::kText:
      break;
    case Mode::kSummary:
      summary.Finish();
      summary.Print(PrintLine);
      break;
    case Mode::kLocks: {
      const std::vector<std::string> lines = locks.Lines();
      for (std::size_t i = 0; i < lines.size(); ++i) {
        const vdtrace::CLockAudit::Entry& entry = locks.Entries()[i];
        if ((!o.filter.thread || *o.filter.thread == entry.thread) && filter.InTime(entry.key))
          PrintLine(lines[i]);
      }
      break;
    }
    case Mode::kHtml: {
      std::ofstream out(o.htmlOut, std::ios::binary | std::ios::trunc);
      page.Write(out);
      out.close();
      if (!out) {
        std::fprintf(stderr, "vdtrace: %s: cannot write\n", o.htmlOut.c_str());
        return 2;
      }
      break;
    }
  }
  std::fflush(stdout);
  if (!ok) {
    std::fprintf(stderr, "vdtrace: %s\n", reader.Error().c_str());
    if (reader.BadInput())
      std::fprintf(stderr,
                   "vdtrace: reading stopped there; the output above is what came before\n");
    return reader.BadInput() ? 1 : 2;
  }
  return 0;
}
