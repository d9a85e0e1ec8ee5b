#include "tools/vdtrace/trace_run.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

#include "support/trace/trace_format.h"

namespace vdtrace {

namespace {

constexpr auto kFollowPoll = std::chrono::milliseconds(250);

// Digits at the given positions of s, or -1.
int Number(std::string_view s, std::size_t pos, std::size_t n) {
  if (pos + n > s.size()) return -1;
  int v = 0;
  for (std::size_t i = pos; i < pos + n; ++i) {
    if (s[i] < '0' || s[i] > '9') return -1;
    v = v * 10 + (s[i] - '0');
  }
  return v;
}

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yoe = y - era * 400;
  const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return static_cast<std::int64_t>(era) * 146097 + doe - 719468;
}

long long FileSize(std::FILE* f) {
  const long pos = std::ftell(f);
  if (std::fseek(f, 0, SEEK_END) != 0) return -1;
  const long size = std::ftell(f);
  std::fseek(f, pos, SEEK_SET);
  return size;
}

}  // namespace

std::optional<std::int64_t> TimeKey(std::string_view date, std::string_view time) {
  if (date.size() != 8 || date[2] != '/' || date[5] != '/') return std::nullopt;
  if (time.size() != 12 || time[2] != ':' || time[5] != ':' || time[8] != '.') return std::nullopt;
  const int mo = Number(date, 0, 2), d = Number(date, 3, 2), y = Number(date, 6, 2);
  const int h = Number(time, 0, 2), mi = Number(time, 3, 2), s = Number(time, 6, 2),
            ms = Number(time, 9, 3);
  if (mo < 1 || mo > 12 || d < 1 || d > 31 || y < 0 || h < 0 || h > 23 || mi < 0 || mi > 59 ||
      s < 0 || s > 60 || ms < 0)
    return std::nullopt;
  const std::int64_t days = DaysFromCivil(2000 + y, mo, d) - DaysFromCivil(2000, 1, 1);
  return days * kMsPerDay + ((h * 60 + mi) * 60 + s) * 1000LL + ms;
}

bool TraceEvent::IsStamp() const {
  return type == VDTraceNS::kDate || type == VDTraceNS::kTime || type == VDTraceNS::kContinued;
}

std::string FormatLine(const TraceEvent& e) {
  using VDTraceNS::CTraceTextFormatter;
  const int indent = e.IsStamp() ? 0
                     : e.indent < CTraceTextFormatter::kMaxIndent
                         ? e.indent
                         : CTraceTextFormatter::kMaxIndent;
  char head[48];
  std::snprintf(head, sizeof head, " %6u %c ", static_cast<unsigned>(e.thread), e.type);
  std::string line;
  line.reserve(e.date.size() + e.time.size() + 12 + indent * 2 + e.text.size());
  line += e.date;
  line += ' ';
  line += e.time;
  line += head;
  line.append(static_cast<std::size_t>(indent) * 2, ' ');
  line += VDTraceNS::PrintableText(e.text);
  return line;
}

void CRunModel::Reset() {
  m_date = "--/--/--";
  m_time = "--:--:--.---";
  m_key.reset();
  m_scopes.clear();
}

void CRunModel::OnHeaderLine(std::string_view line) {
  if (m_file == 0 && m_header) m_header(VDTraceNS::PrintableText(line));
}

void CRunModel::OnRecord(std::uint64_t offset, std::uint32_t threadId, char type,
                         std::string_view text) {
  using namespace VDTraceNS;
  // Date and time records stamp themselves; 'N' starts another run of the program, whose
  // threads start with no open scopes.
  if (type == kDate) m_date = PrintableText(text.substr(0, 16));
  if (type == kTime) m_time = PrintableText(text.substr(0, 16));
  if (type == kDate || type == kTime) m_key = TimeKey(m_date, m_time);
  if (type == kContinued) m_scopes.clear();
  std::vector<std::string>& scopes = m_scopes[threadId];
  TraceEvent e;
  e.file = m_file;
  e.offset = offset;
  e.thread = threadId;
  e.type = type;
  e.text = text;
  e.date = m_date;
  e.time = m_time;
  e.key = m_key;
  e.scopes = &scopes;
  if (type == kScopeEnter) {
    e.indent = static_cast<int>(scopes.size());
    scopes.emplace_back(text);
    m_events(e);
  } else if (type == kScopeExit) {
    // An exit without an entry (the entry was in a file not read) closes nothing.
    e.indent = scopes.empty() ? 0 : static_cast<int>(scopes.size()) - 1;
    m_events(e);
    if (!scopes.empty()) scopes.pop_back();
  } else {
    e.indent = static_cast<int>(scopes.size());
    m_events(e);
  }
}

bool CRunReader::Read(const std::string& path, bool follow, const std::function<bool()>& stop) {
  m_model.StartFile(m_files++);
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    m_error = path + ": " + std::strerror(errno);
    return false;
  }
  auto parser = std::make_unique<VDTraceNS::CTraceFileParser>();
  unsigned long long offset = 0;
  std::vector<std::uint8_t> buf(64 * 1024);
  auto bad = [&] {
    m_badInput = true;
    m_error = path + ": offset " + std::to_string(parser->ErrorOffset()) + ": " + parser->Error();
    return false;
  };
  for (;;) {
    const std::size_t n = std::fread(buf.data(), 1, buf.size(), f);
    if (n > 0) {
      offset += n;
      if (!parser->Feed(buf.data(), n, m_model)) {
        std::fclose(f);
        return bad();
      }
      continue;
    }
    if (std::ferror(f)) {
      m_error = path + ": read error at offset " + std::to_string(offset);
      std::fclose(f);
      return false;
    }
    if (!follow || (stop && stop())) break;
    std::fflush(stdout);
    std::this_thread::sleep_for(kFollowPoll);
    std::clearerr(f);
    const long long size = FileSize(f);
    if (size >= 0 && static_cast<unsigned long long>(size) < offset) {
      // A new run recreated the file: read it again from its start.
      std::fprintf(stderr, "vdtrace: %s: file was recreated, reading from its start\n",
                   path.c_str());
      std::fseek(f, 0, SEEK_SET);
      offset = 0;
      parser = std::make_unique<VDTraceNS::CTraceFileParser>();
      m_model.Reset();
    }
  }
  std::fclose(f);
  if (!parser->Finish()) return bad();
  return true;
}

}  // namespace vdtrace
