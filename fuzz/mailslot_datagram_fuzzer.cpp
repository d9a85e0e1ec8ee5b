// libFuzzer target for the mailslot inbox's datagram decoder and repeat filter: the input is
// a sequence of datagrams, each a length byte and that many bytes. A datagram decodes
// exactly when it has 8 bytes or more, its fields are the little-endian words, its payload
// lies inside it; the filter drops a datagram exactly when its id repeats the id accepted
// last (none before the first).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "ext/mailslot.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Mailslot::RepeatFilter filter;
  std::optional<DWORD> last;
  std::size_t at = 0;
  while (at < size) {
    const std::size_t length = data[at++];
    const std::size_t n = length < size - at ? length : size - at;
    // A copy of its own, so reads past the datagram are caught.
    const std::vector<BYTE> datagram(data + at, data + at + n);
    at += n;
    const auto d = Mailslot::DecodeDatagram(datagram.data(), datagram.size());
    if (d.has_value() != (n >= 8)) __builtin_trap();
    if (!d) continue;
    auto word = [&](std::size_t i) {
      return static_cast<DWORD>(datagram[i] | (datagram[i + 1] << 8) | (datagram[i + 2] << 16) |
                                (static_cast<DWORD>(datagram[i + 3]) << 24));
    };
    if (d->id != word(0) || d->code != word(4) || d->payloadSize != n - 8) __builtin_trap();
    if (d->payloadSize && d->payload != datagram.data() + 8) __builtin_trap();
    const bool repeat = last && *last == d->id;
    if (filter.Accept(d->id) == repeat) __builtin_trap();
    if (!repeat) last = d->id;
  }
  return 0;
}
