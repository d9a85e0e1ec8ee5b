#include "tools/vdtrace/trace_summary.h"

#include <algorithm>
#include <cstdio>

#include "support/trace/trace_format.h"

namespace vdtrace {

void CTraceSummary::OnEvent(const TraceEvent& e) {
  if (e.type == VDTraceNS::kContinued) Finish();  // the program ended inside those scopes
  if (e.IsStamp()) return;
  ThreadStats& t = m_threads[e.thread];
  std::string at = std::string(e.date) + " " + std::string(e.time);
  if (t.records++ == 0) t.first = at;
  t.last = std::move(at);

  std::vector<Open>& open = m_open[e.thread];
  if (e.type == VDTraceNS::kScopeEnter) {
    open.push_back({std::string(e.text), e.key});
  } else if (e.type == VDTraceNS::kScopeExit && !open.empty()) {
    ScopeStats& s = m_scopes[open.back().name];
    ++s.count;
    if (open.back().start && e.key && *e.key >= *open.back().start) {
      const std::int64_t ms = *e.key - *open.back().start;
      s.totalMs += ms;
      s.longestMs = std::max(s.longestMs, ms);
    }
    open.pop_back();
  }
}

void CTraceSummary::Finish() {
  for (auto& [thread, open] : m_open)
    for (const Open& o : open) ++m_scopes[o.name].open;
  m_open.clear();
}

void CTraceSummary::Print(const std::function<void(std::string_view)>& out) const {
  std::vector<const std::pair<const std::string, ScopeStats>*> rows;
  for (const auto& row : m_scopes) rows.push_back(&row);
  std::stable_sort(rows.begin(), rows.end(), [](const auto* a, const auto* b) {
    return a->second.totalMs > b->second.totalMs;
  });
  char buf[128];
  out("   count     open   total ms longest ms  scope");
  for (const auto* row : rows) {
    const ScopeStats& s = row->second;
    std::snprintf(buf, sizeof buf, "%8llu %8llu %10lld %10lld  ",
                  static_cast<unsigned long long>(s.count),
                  static_cast<unsigned long long>(s.open), static_cast<long long>(s.totalMs),
                  static_cast<long long>(s.longestMs));
    out(std::string(buf) + VDTraceNS::PrintableText(row->first));
  }
  out("");
  out("  thread  first record           last record             records");
  for (const auto& [thread, t] : m_threads) {
    std::snprintf(buf, sizeof buf, "%8u  %-21s  %-21s  %8llu", static_cast<unsigned>(thread),
                  t.first.c_str(), t.last.c_str(), static_cast<unsigned long long>(t.records));
    out(buf);
  }
}

}  // namespace vdtrace
