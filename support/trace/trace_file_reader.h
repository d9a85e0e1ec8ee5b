// Reading ".trc3" files: an incremental parser (bytes in, header lines and records out) and
// the text form vdtrace prints. No platform needed: the tool, the tests and the fuzzer use it.
//
//   VDTraceNS::CTraceTextFormatter fmt([](std::string_view line) { puts(line); });
//   VDTraceNS::CTraceFileParser parser;
//   if (!parser.Feed(bytes, n, fmt) || !parser.Finish()) report(parser.ErrorOffset(),
//   parser.Error());
//
// Feeding the same bytes in any number of pieces gives the same output as feeding them whole,
// so a follower can feed what a growing file adds and call Finish() only at the very end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "support/trace/trace_cipher.h"

namespace VDTraceNS {

class ITraceFileHandler {
 public:
  virtual ~ITraceFileHandler() = default;
  virtual void OnHeaderLine(std::string_view line) = 0;
  // offset: where the record starts in the file; text as stored (UTF-8, not checked).
  virtual void OnRecord(std::uint64_t offset, std::uint32_t threadId, char type,
                        std::string_view text) = 0;
};

class CTraceFileParser {
 public:
  // Parses as much as the bytes so far allow. False once the input is known to be bad; the
  // parser then stays failed.
  bool Feed(const std::uint8_t* data, std::size_t n, ITraceFileHandler& handler);
  // The input ended: false when the header or a record is cut short (or it failed before).
  bool Finish();

  bool Failed() const { return m_state == State::kFailed; }
  const std::string& Error() const { return m_error; }
  // Offset in the file of the bad or cut-short part.
  std::uint64_t ErrorOffset() const { return m_errorOffset; }
  // Offset of the first byte not yet turned into a line or a record.
  std::uint64_t Consumed() const { return m_base; }
  bool InRecords() const { return m_state == State::kRecords; }

  // Bounds that keep bad input from growing memory without limit.
  static constexpr std::size_t kMaxHeaderLine = 4096;
  static constexpr std::size_t kMaxHeaderLines = 10000;

 private:
  enum class State { kHeader, kRecords, kFailed };
  bool Fail(std::uint64_t offset, std::string message);
  bool ParseHeader(ITraceFileHandler& handler);
  bool ParseRecords(ITraceFileHandler& handler);

  State m_state = State::kHeader;
  std::vector<std::uint8_t> m_buf;  // unparsed bytes; m_buf[0] is at file offset m_base
  std::uint64_t m_base = 0;
  std::size_t m_headerLines = 0;
  std::vector<std::uint8_t> m_plain;  // one deciphered record
  CKeyStream m_keys;
  std::string m_error;
  std::uint64_t m_errorOffset = 0;
};

// True for the record types a trace file can hold.
bool IsKnownRecordType(char type);

// Turns header lines and records into vdtrace's text lines (without line ends):
//   header lines as they are, then per record
//   "<date> <time> <thread id> <type> <indent><text>"
// with the date and time of the last 't' and 'T' records, two spaces of indentation per
// open scope of that thread (none for the 't', 'T' and 'N' records themselves), and control
// characters shown as \xNN.
class CTraceTextFormatter final : public ITraceFileHandler {
 public:
  using LineSink = std::function<void(std::string_view line)>;
  explicit CTraceTextFormatter(LineSink out) : m_out(std::move(out)) {}

  void OnHeaderLine(std::string_view line) override;
  void OnRecord(std::uint64_t offset, std::uint32_t threadId, char type,
                std::string_view text) override;

  // Deeper nesting is still tracked but indented no further.
  static constexpr int kMaxIndent = 40;

 private:
  LineSink m_out;
  std::string m_date = "--/--/--";
  std::string m_time = "--:--:--.---";
  std::map<std::uint32_t, int> m_depth;
  std::string m_line;
};

// Control characters as \xNN, everything else as is.
std::string PrintableText(std::string_view text);

}  // namespace VDTraceNS
