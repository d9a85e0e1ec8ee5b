#include "support/trace/trace_cipher.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using VDTraceNS::CKeyStream;
using VDTraceNS::TeaBlock;
using VDTraceNS::TeaEncipher;
using VDTraceNS::TeaKey;

// Published TEA vectors (Wheeler and Needham's reference algorithm, 32 rounds).
TEST(TeaTest, MatchesPublishedVectors) {
  EXPECT_EQ(TeaEncipher({0, 0}, TeaKey{0, 0, 0, 0}), (TeaBlock{0x41EA3A0Au, 0x94BAA940u}));
  EXPECT_EQ(TeaEncipher({0x01234567u, 0x89ABCDEFu},
                        TeaKey{0x00112233u, 0x44556677u, 0x8899AABBu, 0xCCDDEEFFu}),
            (TeaBlock{0x126C6B92u, 0xC0653A3Eu}));
}

std::vector<std::uint8_t> BlockBytes(TeaBlock b) {
  std::vector<std::uint8_t> out;
  for (auto w : b)
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(w >> (8 * i)));
  return out;
}

TEST(TraceKeyStreamTest, IsOutputFeedbackFromTheInitialBlockWithAPartialLastBlock) {
  const TeaKey key{1, 2, 3, 4};
  const TeaBlock iv{0xDEADBEEFu, 0x01020304u};
  CKeyStream ks(key, iv);
  // 11 bytes: one whole block and the leading 3 bytes of the next one.
  std::vector<std::uint8_t> data(11, 0);
  ks.Apply(data.data(), data.size());

  const TeaBlock k1 = TeaEncipher(iv, key);
  const TeaBlock k2 = TeaEncipher(k1, key);
  std::vector<std::uint8_t> expected = BlockBytes(k1);
  const auto second = BlockBytes(k2);
  expected.insert(expected.end(), second.begin(), second.begin() + 3);
  EXPECT_EQ(data, expected);
}

TEST(TraceKeyStreamTest, RestartsForEveryRecordAndDeciphersWhatItEnciphered) {
  CKeyStream writer;
  std::vector<std::uint8_t> a = {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!', '!'};
  std::vector<std::uint8_t> b = a;
  writer.Apply(a.data(), a.size());
  writer.Apply(b.data(), b.size());
  // Same plain text, same cipher text: the stream did not carry on from the first record.
  EXPECT_EQ(a, b);
  EXPECT_NE(a[0], 'h');

  CKeyStream reader;  // a separate instance (another program) with the shared key and block
  reader.Apply(a.data(), a.size());
  EXPECT_EQ(std::string(a.begin(), a.end()), "hello world!!");
}

TEST(TraceKeyStreamTest, SharedKeyIsNotTheTrivialKey) {
  // A key accidentally folded to zero (e.g. the two constant sets xor-ed into each other)
  // would make the file readable to anyone with the published algorithm.
  const TeaKey k = VDTraceNS::TraceKey();
  EXPECT_NE(k, (TeaKey{0, 0, 0, 0}));
  EXPECT_EQ(k, VDTraceNS::TraceKey());  // stable across calls, or no reader could follow
}

}  // namespace
