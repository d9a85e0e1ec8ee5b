// The trace record and the trace file layout, shared by the writer and the readers.
//
// A record is little-endian and unaligned:
//
//   offset 0  4 bytes  thread id of the writer
//   offset 4  1 byte   record type (kScopeEnter, kMessage, ...)
//   offset 5  2 bytes  length of the text in bytes
//   offset 7  length   text, UTF-8, no terminator
//
// A ".trc3" file is a plain ASCII header (lines ending in CR LF, first line "trace3", last
// line ".") followed by records, each enciphered on its own (trace_cipher.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace VDTraceNS {

inline constexpr std::size_t kRecordHeaderSize = 7;
inline constexpr std::size_t kMaxRecordText = 0xFFFF;
// Records up to this size are built on the stack.
inline constexpr std::size_t kStackRecordSize = 1024;

inline constexpr char kScopeEnter = '>';
inline constexpr char kScopeExit = '<';
inline constexpr char kMessage = 'U';
inline constexpr char kResult = 'E';
inline constexpr char kDate = 't';
inline constexpr char kTime = 'T';
inline constexpr char kContinued = 'N';
inline constexpr char kTag = 'G';
// Written to the log file like a result, without the "*ERR*" prefix; nothing emits it today.
inline constexpr char kDiagnostic = 'D';

inline constexpr std::string_view kFileMagic = "trace3";
inline constexpr std::string_view kHeaderEnd = ".";
inline constexpr std::string_view kTraceVersion = "3.0.1";

struct RecordHeader {
  std::uint32_t threadId;
  char type;
  std::uint16_t length;
};

// Writes the 7-byte header and the text (cut to kMaxRecordText) into out, which must hold
// kRecordHeaderSize + min(text.size(), kMaxRecordText) bytes. Returns the bytes written.
inline std::size_t EncodeRecord(std::uint8_t* out, std::uint32_t threadId, char type,
                                std::string_view text) {
  const std::size_t n = text.size() < kMaxRecordText ? text.size() : kMaxRecordText;
  for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(threadId >> (8 * i));
  out[4] = static_cast<std::uint8_t>(type);
  out[5] = static_cast<std::uint8_t>(n & 0xFF);
  out[6] = static_cast<std::uint8_t>(n >> 8);
  for (std::size_t i = 0; i < n; ++i)
    out[kRecordHeaderSize + i] = static_cast<std::uint8_t>(text[i]);
  return kRecordHeaderSize + n;
}

inline RecordHeader DecodeRecordHeader(const std::uint8_t* in) {
  RecordHeader h{};
  h.threadId = static_cast<std::uint32_t>(in[0]) | (static_cast<std::uint32_t>(in[1]) << 8) |
               (static_cast<std::uint32_t>(in[2]) << 16) |
               (static_cast<std::uint32_t>(in[3]) << 24);
  h.type = static_cast<char>(in[4]);
  h.length = static_cast<std::uint16_t>(in[5] | (in[6] << 8));
  return h;
}

}  // namespace VDTraceNS
