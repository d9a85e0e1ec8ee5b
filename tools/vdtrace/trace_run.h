// A run of the agent as vdtrace sees it: the records of one or more trace files read in order,
// each with its time, its thread's open scopes and its line as vdtrace prints it.
//
//   CRunModel model([&](const TraceEvent& e) { ... });
//   CRunReader reader(model);
//   for (const auto& path : paths)
//     if (!reader.Read(path, /*follow=*/false)) { report(reader.Error()); break; }
//
// Files after the first continue the run: open scopes, date and time carry over, and their
// header lines are not passed on (the first file's header describes the run).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/trace/trace_file_reader.h"

namespace vdtrace {

// Milliseconds since 2000-01-01 of a date "MM/DD/YY" and a time "HH:MM:SS.mmm" as the 't'
// and 'T' records hold them; nullopt when either is not in that form.
std::optional<std::int64_t> TimeKey(std::string_view date, std::string_view time);
constexpr std::int64_t kMsPerDay = 86400000;

struct TraceEvent {
  std::size_t file = 0;      // index of the file in the run
  std::uint64_t offset = 0;  // of the record in its file
  std::uint32_t thread = 0;
  char type = 0;
  std::string_view text;  // as stored
  std::string_view date;  // "MM/DD/YY" of the last 't', or "--/--/--"
  std::string_view time;  // "HH:MM:SS.mmm" of the last 'T', or "--:--:--.---"
  std::optional<std::int64_t> key;  // TimeKey(date, time)
  // Names of the thread's open scopes, outermost first; a '>' record's own scope is already
  // on it and a '<' record's is still on it.
  const std::vector<std::string>* scopes = nullptr;
  int indent = 0;  // open scopes shown by the indentation (not capped)

  bool IsStamp() const;  // 't', 'T' and 'N': they belong to the stream, not to a scope
};

// The line vdtrace prints for a record: "<date> <time> <thread> <type> <indent><text>".
std::string FormatLine(const TraceEvent& e);

// Turns parsed records into TraceEvents. The same instance is fed every file of the run.
class CRunModel final : public VDTraceNS::ITraceFileHandler {
 public:
  using EventSink = std::function<void(const TraceEvent&)>;
  using HeaderSink = std::function<void(std::string_view)>;
  explicit CRunModel(EventSink events, HeaderSink header = {})
      : m_events(std::move(events)), m_header(std::move(header)) {}

  // The following records come from the file with this index.
  void StartFile(std::size_t index) { m_file = index; }
  // Forgets everything (a followed file was recreated).
  void Reset();

  void OnHeaderLine(std::string_view line) override;
  void OnRecord(std::uint64_t offset, std::uint32_t threadId, char type,
                std::string_view text) override;

 private:
  EventSink m_events;
  HeaderSink m_header;
  std::size_t m_file = 0;
  std::string m_date = "--/--/--";
  std::string m_time = "--:--:--.---";
  std::optional<std::int64_t> m_key;
  std::map<std::uint32_t, std::vector<std::string>> m_scopes;
};

// Reads trace files into a model, one after the other, each with its own parser.
class CRunReader {
 public:
  explicit CRunReader(CRunModel& model) : m_model(model) {}

  // Reads the next file of the run. With follow, keeps reading as the file grows (starting
  // over when it is recreated) until stop() says so; stop is polled between reads.
  // False on bad input or an I/O error: Error() then tells which file and where.
  bool Read(const std::string& path, bool follow = false,
            const std::function<bool()>& stop = {});

  const std::string& Error() const { return m_error; }
  // Bad input (exit 1) rather than a file that could not be opened or read (exit 2).
  bool BadInput() const { return m_badInput; }

 private:
  CRunModel& m_model;
  std::size_t m_files = 0;
  std::string m_error;
  bool m_badInput = false;
};

}  // namespace vdtrace
