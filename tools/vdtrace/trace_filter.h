// Which records vdtrace prints: by thread, by scope, by time, failures only.
//
//   FilterOptions opt;
//   opt.errors = true;
//   CFilteredPrinter printer(opt, [](std::string_view line) { puts(line); });
//   CRunModel model([&](const TraceEvent& e) { printer.OnEvent(e); });
//
// With no option set every record is printed, exactly as vdtrace always printed them. With
// any option the 't', 'T' and 'N' records are left out (every line carries its date and time).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "tools/vdtrace/trace_run.h"

namespace vdtrace {

// A time as vdtrace prints it: "MM/DD/YY HH:MM:SS.mmm", or a time of day "HH:MM:SS[.mmm]"
// that is compared with the records' times of day.
struct TimeBound {
  std::int64_t ms = 0;
  bool timeOfDay = false;
  // nullopt when text is in neither form.
  static std::optional<TimeBound> Parse(std::string_view text);
};

// True when the record reports a failure: a result record ('E') whose code is negative (a
// result of facility 9 is traced whatever its sign), a diagnostic ('D'), or a message giving an
// "hr", "result" or "error" that is a failed HRESULT ("DllRegisterServer result = 0x80004005").
bool IsFailure(const TraceEvent& e);

struct FilterOptions {
  std::optional<std::uint32_t> thread;
  std::optional<std::regex> scope;  // matched anywhere in a scope name
  std::optional<TimeBound> from, to;
  bool errors = false;

  bool Any() const { return thread || scope || from || to || errors; }
};

// Which records pass --thread, --scope and --from/--to. Fed every record of the run in order,
// it follows each thread's open scopes so that --scope passes a matching scope's records and
// everything inside it. Stamps ('t', 'T', 'N') never pass: they carry no thread's story.
class CEventFilter {
 public:
  explicit CEventFilter(FilterOptions options) : m_opt(std::move(options)) {}

  struct Verdict {
    bool pass = false;
    bool exitsOwnScope = false;  // a '<' that closes the thread's innermost '>' seen here
  };
  Verdict OnEvent(const TraceEvent& e);
  const FilterOptions& Options() const { return m_opt; }
  // Within --from/--to; a record without a readable time is outside any bound.
  bool InTime(const std::optional<std::int64_t>& key) const;

 private:
  FilterOptions m_opt;
  std::map<std::uint32_t, std::vector<bool>> m_inScope;  // per thread, per open scope
};

class CFilteredPrinter {
 public:
  using LineSink = std::function<void(std::string_view line)>;
  CFilteredPrinter(FilterOptions options, LineSink out)
      : m_filter(std::move(options)), m_out(std::move(out)) {}

  void OnHeaderLine(std::string_view line) { m_out(line); }
  void OnEvent(const TraceEvent& e);

 private:
  // An open scope, for --errors: its '>' line is printed before a failure inside it.
  struct Frame {
    std::string enterLine;
    bool printed = false;
  };

  CEventFilter m_filter;
  LineSink m_out;
  std::map<std::uint32_t, std::vector<Frame>> m_frames;
};

}  // namespace vdtrace
