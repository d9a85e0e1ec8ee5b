#include "tools/vdtrace/trace_filter.h"

#include <cctype>
#include <cstdlib>

#include "support/trace/trace_format.h"

namespace vdtrace {

namespace {

// "HH:MM:SS" with an optional ".m", ".mm" or ".mmm".
std::optional<std::int64_t> TimeOfDay(std::string_view t) {
  std::string full(t);
  if (full.size() == 8) full += ".000";
  while (full.size() > 8 && full.size() < 12) full += '0';
  const auto key = TimeKey("01/01/00", full);
  if (!key) return std::nullopt;
  return *key;
}

bool StartsWithWord(std::string_view text, std::size_t pos, std::string_view word) {
  if (pos + word.size() > text.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(text[pos + i])) != word[i]) return false;
  return true;
}

// "hr = 80070002", "result = 0x80004005", "Error: 0x8007000E": a failed HRESULT after one of
// the words results are traced with.
bool MessageHasFailedResult(std::string_view text) {
  static constexpr std::string_view kWords[] = {"hr", "result", "error"};
  for (std::size_t pos = 0; pos < text.size(); ++pos) {
    for (std::string_view w : kWords) {
      if (!StartsWithWord(text, pos, w)) continue;
      if (pos > 0 && std::isalnum(static_cast<unsigned char>(text[pos - 1]))) continue;
      std::size_t p = pos + w.size();
      while (p < text.size() && text[p] == ' ') ++p;
      if (p >= text.size() || (text[p] != '=' && text[p] != ':')) continue;
      ++p;
      while (p < text.size() && text[p] == ' ') ++p;
      if (text.substr(p, 2) == "0x" || text.substr(p, 2) == "0X") p += 2;
      std::size_t end = p;
      while (end < text.size() && std::isxdigit(static_cast<unsigned char>(text[end]))) ++end;
      // Eight digits exactly: a decimal count or a short value is no HRESULT.
      if (end - p != 8) continue;
      if (std::strtoul(std::string(text.substr(p, 8)).c_str(), nullptr, 16) >= 0x80000000UL)
        return true;
    }
  }
  return false;
}

}  // namespace

std::optional<TimeBound> TimeBound::Parse(std::string_view text) {
  TimeBound b;
  if (text.size() > 9 && text[8] == ' ') {
    const auto day = TimeKey(text.substr(0, 8), "00:00:00.000");
    const auto tod = TimeOfDay(text.substr(9));
    if (!day || !tod) return std::nullopt;
    b.ms = *day + *tod;
    return b;
  }
  const auto tod = TimeOfDay(text);
  if (!tod) return std::nullopt;
  b.ms = *tod;
  b.timeOfDay = true;
  return b;
}

bool IsFailure(const TraceEvent& e) {
  switch (e.type) {
    case VDTraceNS::kResult: {
      // "<code> <message>"; a code that does not read counts as a failure: results are only
      // written for failures and facility 9.
      const std::string text(e.text);
      char* end = nullptr;
      const long long code = std::strtoll(text.c_str(), &end, 10);
      return end == text.c_str() || code < 0;
    }
    case VDTraceNS::kDiagnostic:
      return true;
    case VDTraceNS::kMessage:
      return MessageHasFailedResult(e.text);
    default:
      return false;
  }
}

bool CEventFilter::InTime(const std::optional<std::int64_t>& key) const {
  if (!m_opt.from && !m_opt.to) return true;
  if (!key) return false;
  auto at = [&](const TimeBound& b) { return b.timeOfDay ? *key % kMsPerDay : *key; };
  if (m_opt.from && at(*m_opt.from) < m_opt.from->ms) return false;
  if (m_opt.to && at(*m_opt.to) > m_opt.to->ms) return false;
  return true;
}

CEventFilter::Verdict CEventFilter::OnEvent(const TraceEvent& e) {
  if (e.type == VDTraceNS::kContinued) m_inScope.clear();
  if (e.IsStamp()) return {};
  std::vector<bool>& frames = m_inScope[e.thread];
  if (e.type == VDTraceNS::kScopeEnter) {
    const bool outer = !frames.empty() && frames.back();
    frames.push_back(outer ||
                     (m_opt.scope && std::regex_search(std::string(e.text), *m_opt.scope)));
  }
  // A '<' without its '>' (cut off by an earlier file) belongs to no frame.
  Verdict v;
  v.exitsOwnScope =
      e.type == VDTraceNS::kScopeExit && !e.scopes->empty() && frames.size() == e.scopes->size();
  const bool inScope = !m_opt.scope || (!frames.empty() && frames.back() &&
                                        (e.type != VDTraceNS::kScopeExit || v.exitsOwnScope));
  v.pass = (!m_opt.thread || *m_opt.thread == e.thread) && inScope && InTime(e.key);
  if (v.exitsOwnScope) frames.pop_back();
  return v;
}

void CFilteredPrinter::OnEvent(const TraceEvent& e) {
  if (!m_filter.Options().Any()) {
    m_out(FormatLine(e));
    return;
  }
  if (e.type == VDTraceNS::kContinued) m_frames.clear();
  const CEventFilter::Verdict v = m_filter.OnEvent(e);
  if (e.IsStamp()) return;
  if (!m_filter.Options().errors) {
    if (v.pass) m_out(FormatLine(e));
    return;
  }
  std::vector<Frame>& frames = m_frames[e.thread];
  if (e.type == VDTraceNS::kScopeEnter) frames.push_back({FormatLine(e)});
  if (v.pass && IsFailure(e)) {
    // The failure with the scopes it happened in, outermost first.
    for (Frame& f : frames) {
      if (f.printed) continue;
      m_out(f.enterLine);
      f.printed = true;
    }
    m_out(FormatLine(e));
  } else if (v.exitsOwnScope && frames.back().printed) {
    m_out(FormatLine(e));  // closes a scope shown for a failure inside it
  }
  if (v.exitsOwnScope) frames.pop_back();
}

}  // namespace vdtrace
