// Builds ".trc3" file contents byte by byte, the way the tracer writes them, for reader tests
// and fuzzer seeds.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "support/trace/trace_cipher.h"
#include "support/trace/trace_format.h"

namespace vdtest {

class TraceFileBuilder {
 public:
  TraceFileBuilder& Line(std::string_view line) {
    m_bytes.insert(m_bytes.end(), line.begin(), line.end());
    m_bytes.push_back('\r');
    m_bytes.push_back('\n');
    return *this;
  }
  // The smallest valid header.
  TraceFileBuilder& Header() { return Line("trace3").Line("Trace Ver: 3.0.1").Line("."); }
  TraceFileBuilder& Record(std::uint32_t tid, char type, std::string_view text) {
    std::vector<std::uint8_t> rec(VDTraceNS::kRecordHeaderSize + text.size());
    rec.resize(VDTraceNS::EncodeRecord(rec.data(), tid, type, text));
    VDTraceNS::CKeyStream keys;
    keys.Apply(rec.data(), rec.size());
    m_bytes.insert(m_bytes.end(), rec.begin(), rec.end());
    return *this;
  }
  TraceFileBuilder& Raw(std::string_view bytes) {
    m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
    return *this;
  }
  const std::vector<std::uint8_t>& Bytes() const { return m_bytes; }
  std::string String() const { return std::string(m_bytes.begin(), m_bytes.end()); }
  std::size_t Size() const { return m_bytes.size(); }

 private:
  std::vector<std::uint8_t> m_bytes;
};

}  // namespace vdtest
