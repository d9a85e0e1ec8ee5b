#include "support/trace/trace_file_reader.h"

#include <cstdio>

#include "support/trace/trace_format.h"

namespace VDTraceNS {

namespace {

std::string Hex(unsigned v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%02X", v);
  return buf;
}

}  // namespace

bool IsKnownRecordType(char type) {
  switch (type) {
    case kScopeEnter:
    case kScopeExit:
    case kMessage:
    case kResult:
    case kDate:
    case kTime:
    case kContinued:
    case kTag:
    case kDiagnostic:
      return true;
    default:
      return false;
  }
}

bool CTraceFileParser::Fail(std::uint64_t offset, std::string message) {
  m_state = State::kFailed;
  m_errorOffset = offset;
  m_error = std::move(message);
  m_buf.clear();
  return false;
}

bool CTraceFileParser::Feed(const std::uint8_t* data, std::size_t n, ITraceFileHandler& handler) {
  if (m_state == State::kFailed) return false;
  m_buf.insert(m_buf.end(), data, data + n);
  if (m_state == State::kHeader && !ParseHeader(handler)) return false;
  if (m_state == State::kRecords && !ParseRecords(handler)) return false;
  return true;
}

bool CTraceFileParser::ParseHeader(ITraceFileHandler& handler) {
  static constexpr std::string_view kFirst = "trace3\r\n";
  std::size_t pos = 0;
  while (m_state == State::kHeader) {
    // The very first bytes must be the magic line: fail early on anything else, even before
    // a whole line is there.
    if (m_headerLines == 0) {
      const std::size_t have = std::min(m_buf.size() - pos, kFirst.size());
      for (std::size_t i = 0; i < have; ++i) {
        if (m_buf[pos + i] != static_cast<std::uint8_t>(kFirst[i]))
          return Fail(m_base + pos + i, "not a trace file: it does not start with \"trace3\"");
      }
    }
    std::size_t end = pos;
    while (end < m_buf.size() && m_buf[end] != '\r' && m_buf[end] != '\n') {
      if (end - pos >= kMaxHeaderLine)
        return Fail(m_base + pos,
                    "bad header: line longer than " + std::to_string(kMaxHeaderLine) + " bytes");
      ++end;
    }
    if (end + 1 >= m_buf.size()) break;  // the line (or its CR LF) is not complete yet
    if (m_buf[end] != '\r' || m_buf[end + 1] != '\n')
      return Fail(m_base + end, "bad header: line does not end in CR LF");
    const std::string_view line(reinterpret_cast<const char*>(m_buf.data() + pos), end - pos);
    handler.OnHeaderLine(line);
    ++m_headerLines;
    pos = end + 2;
    if (line == kHeaderEnd) {
      m_state = State::kRecords;
    } else if (m_headerLines >= kMaxHeaderLines) {
      return Fail(m_base + pos,
                  "bad header: no \".\" line after " + std::to_string(kMaxHeaderLines) + " lines");
    }
  }
  m_buf.erase(m_buf.begin(), m_buf.begin() + static_cast<std::ptrdiff_t>(pos));
  m_base += pos;
  return true;
}

bool CTraceFileParser::ParseRecords(ITraceFileHandler& handler) {
  std::size_t pos = 0;
  while (m_buf.size() - pos >= kRecordHeaderSize) {
    const std::uint8_t* ks = m_keys.Bytes(kRecordHeaderSize);
    std::uint8_t head[kRecordHeaderSize];
    for (std::size_t i = 0; i < kRecordHeaderSize; ++i) head[i] = m_buf[pos + i] ^ ks[i];
    const RecordHeader h = DecodeRecordHeader(head);
    if (!IsKnownRecordType(h.type)) {
      return Fail(m_base + pos, "bad record: unknown type " +
                                    Hex(static_cast<std::uint8_t>(h.type)) +
                                    " (corrupted data or not a trace file)");
    }
    const std::size_t total = kRecordHeaderSize + h.length;
    if (m_buf.size() - pos < total) break;  // the rest of the record has not arrived
    m_plain.assign(m_buf.begin() + static_cast<std::ptrdiff_t>(pos),
                   m_buf.begin() + static_cast<std::ptrdiff_t>(pos + total));
    m_keys.Apply(m_plain.data(), m_plain.size());
    handler.OnRecord(
        m_base + pos, h.threadId, h.type,
        std::string_view(reinterpret_cast<const char*>(m_plain.data()) + kRecordHeaderSize,
                         h.length));
    pos += total;
  }
  m_buf.erase(m_buf.begin(), m_buf.begin() + static_cast<std::ptrdiff_t>(pos));
  m_base += pos;
  return true;
}

bool CTraceFileParser::Finish() {
  if (m_state == State::kFailed) return false;
  if (m_state == State::kHeader) {
    if (m_headerLines == 0 && m_buf.empty()) return Fail(0, "not a trace file: it is empty");
    return Fail(m_base, "bad header: the file ends before the \".\" line");
  }
  if (m_buf.empty()) return true;
  if (m_buf.size() < kRecordHeaderSize) {
    return Fail(m_base, "truncated record: " + std::to_string(m_buf.size()) +
                            " bytes left, a record needs at least " +
                            std::to_string(kRecordHeaderSize));
  }
  const std::uint8_t* ks = m_keys.Bytes(kRecordHeaderSize);
  std::uint8_t head[kRecordHeaderSize];
  for (std::size_t i = 0; i < kRecordHeaderSize; ++i) head[i] = m_buf[i] ^ ks[i];
  const RecordHeader h = DecodeRecordHeader(head);
  return Fail(m_base, "truncated record: needs " + std::to_string(kRecordHeaderSize + h.length) +
                          " bytes, " + std::to_string(m_buf.size()) + " left");
}

std::string PrintableText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", u);
      out += buf;
    } else {
      out += c;
    }
  }
  return out;
}

void CTraceTextFormatter::OnHeaderLine(std::string_view line) { m_out(PrintableText(line)); }

void CTraceTextFormatter::OnRecord(std::uint64_t, std::uint32_t threadId, char type,
                                   std::string_view text) {
  // Date and time records stamp themselves; 'N' starts another run of the program, whose
  // threads start with no open scopes.
  if (type == kDate) m_date = PrintableText(text.substr(0, 16));
  if (type == kTime) m_time = PrintableText(text.substr(0, 16));
  if (type == kContinued) m_depth.clear();
  int& depth = m_depth[threadId];
  if (type == kScopeExit && depth > 0) --depth;
  // Date, time and continuation records belong to the stream, not to a scope: never indented.
  const bool stamp = type == kDate || type == kTime || type == kContinued;
  const int indent = stamp ? 0 : depth < kMaxIndent ? depth : kMaxIndent;
  if (type == kScopeEnter) ++depth;

  char head[48];
  std::snprintf(head, sizeof head, " %6u %c ", static_cast<unsigned>(threadId), type);
  m_line.clear();
  m_line += m_date;
  m_line += ' ';
  m_line += m_time;
  m_line += head;
  m_line.append(static_cast<std::size_t>(indent) * 2, ' ');
  m_line += PrintableText(text);
  m_out(m_line);
}

}  // namespace VDTraceNS
