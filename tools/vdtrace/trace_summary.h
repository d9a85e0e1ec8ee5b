// Where a run spent its time: per scope name the number of entries and the total and longest
// time between a '>' and its '<' (inclusive of the scopes inside), per thread its first and
// last record.
//
//   CTraceSummary summary;
//   CRunModel model([&](const TraceEvent& e) { summary.OnEvent(e); });
//   ... read the files ...
//   summary.Print(out);
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/vdtrace/trace_run.h"

namespace vdtrace {

class CTraceSummary {
 public:
  struct ScopeStats {
    std::uint64_t count = 0;     // entries closed by their '<'
    std::uint64_t open = 0;      // entries never closed (the run ended inside them)
    std::int64_t totalMs = 0;    // over the closed entries with known times
    std::int64_t longestMs = 0;
  };
  struct ThreadStats {
    std::string first, last;  // "MM/DD/YY HH:MM:SS.mmm"
    std::uint64_t records = 0;
  };

  void OnEvent(const TraceEvent& e);
  // Scopes still open count as open; call once, after the last event.
  void Finish();

  const std::map<std::string, ScopeStats>& Scopes() const { return m_scopes; }
  const std::map<std::uint32_t, ThreadStats>& Threads() const { return m_threads; }

  // Two tables: scopes by total time (longest first), then threads.
  void Print(const std::function<void(std::string_view)>& out) const;

 private:
  struct Open {
    std::string name;
    std::optional<std::int64_t> start;
  };
  std::map<std::string, ScopeStats> m_scopes;
  std::map<std::uint32_t, ThreadStats> m_threads;
  std::map<std::uint32_t, std::vector<Open>> m_open;
};

}  // namespace vdtrace
