// The trace file cipher: TEA (32 rounds, delta 0x9E3779B9) in output-feedback mode.
//
// Shared by the writer (CFileOutput) and every reader (vdtrace): both must build the same key
// stream, so the key and the initial block live here and nowhere else.
//
//   VDTraceNS::CKeyStream ks;
//   ks.Apply(record, length);   // enciphers or deciphers one whole record in place
//
// Every record is enciphered on its own: the key stream restarts from the fixed initial
// block, so record N's first 8 bytes always meet E(IV), the next 8 E(E(IV)), and a last partial
// block uses the leading bytes of its key-stream block. A block is two 32-bit words stored
// little-endian (v0 in bytes 0..3, v1 in bytes 4..7).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace VDTraceNS {

using TeaKey = std::array<std::uint32_t, 4>;
using TeaBlock = std::array<std::uint32_t, 2>;

// One TEA encipherment of a block (the published reference algorithm).
constexpr TeaBlock TeaEncipher(TeaBlock v, const TeaKey& k) {
  constexpr std::uint32_t kDelta = 0x9E3779B9u;
  std::uint32_t v0 = v[0], v1 = v[1], sum = 0;
  for (int i = 0; i < 32; ++i) {
    sum += kDelta;
    v0 += ((v1 << 4) + k[0]) ^ (v1 + sum) ^ ((v1 >> 5) + k[1]);
    v1 += ((v0 << 4) + k[2]) ^ (v0 + sum) ^ ((v0 >> 5) + k[3]);
  }
  return {v0, v1};
}

namespace detail {
constexpr std::uint32_t Rotl(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }
}  // namespace detail

// The key is never stored as such: it is folded together from two sets of constants when the
// stream is built, so it does not stand out in the binary as one 16-byte run.
inline TeaKey TraceKey() {
  static constexpr std::uint32_t kA[4] = {0x3C6EF372u, 0xA54FF53Au, 0x510E527Fu, 0x9B05688Cu};
  static constexpr std::uint32_t kB[4] = {0x1F83D9ABu, 0x5BE0CD19u, 0x6A09E667u, 0xBB67AE85u};
  TeaKey k{};
  for (int i = 0; i < 4; ++i) k[i] = kA[i] ^ detail::Rotl(kB[i], 7 + 5 * i);
  return k;
}

// The fixed initial block of every record's key stream ("VDTR", "ACE3").
inline constexpr TeaBlock kTraceIv = {0x52544456u, 0x33454341u};

// The key stream of one record: E(IV), E(E(IV)), ... as bytes. It is the same for every
// record, so it is computed once and grown on demand.
class CKeyStream {
 public:
  explicit CKeyStream(const TeaKey& key = TraceKey(), TeaBlock iv = kTraceIv)
      : m_key(key), m_last(iv) {}

  // XORs data[0..n) with the key stream from its start.
  void Apply(std::uint8_t* data, std::size_t n) {
    Grow(n);
    for (std::size_t i = 0; i < n; ++i) data[i] ^= m_bytes[i];
  }
  // The first n key-stream bytes.
  const std::uint8_t* Bytes(std::size_t n) {
    Grow(n);
    return m_bytes.data();
  }

 private:
  void Grow(std::size_t n) {
    while (m_bytes.size() < n) {
      m_last = TeaEncipher(m_last, m_key);
      for (std::uint32_t w : m_last)
        for (int b = 0; b < 4; ++b) m_bytes.push_back(static_cast<std::uint8_t>(w >> (8 * b)));
    }
  }

  TeaKey m_key;
  TeaBlock m_last;
  std::vector<std::uint8_t> m_bytes;
};

}  // namespace VDTraceNS
