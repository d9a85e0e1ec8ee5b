// libFuzzer target for the trace-file reader: any bytes must give a clean verdict (records or
// an error with an offset), never a crash, and feeding them in pieces must not change it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "support/trace/trace_file_reader.h"

namespace {

struct Outcome {
  bool ok = false;
  std::vector<std::string> lines;
  std::uint64_t errorOffset = 0;
  std::string error;
};

Outcome Read(const std::uint8_t* data, std::size_t size, std::size_t piece) {
  Outcome o;
  VDTraceNS::CTraceTextFormatter fmt([&](std::string_view l) { o.lines.emplace_back(l); });
  VDTraceNS::CTraceFileParser parser;
  bool ok = true;
  for (std::size_t at = 0; ok && at < size; at += piece)
    ok = parser.Feed(data + at, std::min(piece, size - at), fmt);
  o.ok = ok && parser.Finish();
  o.errorOffset = parser.ErrorOffset();
  o.error = parser.Error();
  if (!o.ok && o.errorOffset > size) __builtin_trap();  // an error must point into the input
  return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Outcome whole = Read(data, size, size == 0 ? 1 : size);
  // A piece size taken from the input itself, so the fuzzer explores the split points too.
  const std::size_t piece = size == 0 ? 1 : 1 + data[size - 1] % 17;
  const Outcome split = Read(data, size, piece);
  if (whole.ok != split.ok || whole.lines != split.lines ||
      whole.errorOffset != split.errorOffset || whole.error != split.error) {
    __builtin_trap();
  }
  return 0;
}
