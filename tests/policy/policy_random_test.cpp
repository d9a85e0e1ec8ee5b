// Random policies against a reference written from the definitions alone: rules as a set,
// shapes by enumerating subsets, satisfaction by search. Seeded, so every run is the same.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "policy/policy.h"
#include "support/trace/trace.h"
#include "support/trace/trace_sink.h"
#include "tests/policy/policy_test_util.h"

namespace {

using Mask = unsigned long long;

struct Reference {
  std::set<Mask> rules;  // ordered ascending, each once
  Mask unionMask = 0;
  UINT shape = 0;

  explicit Reference(const std::vector<Mask>& input) : rules(input.begin(), input.end()) {
    for (Mask r : rules) unionMask |= r;
    shape = Classify();
  }

  static int Bits(Mask m) { return std::popcount(m); }

  // Whether `rules` is exactly the family of k-subsets of the union.
  bool IsEveryKSubset(int k) const {
    std::vector<int> positions;
    for (int b = 0; b < 64; ++b)
      if (unionMask >> b & 1) positions.push_back(b);
    const auto all = policytest::AllSubsets(positions, static_cast<size_t>(k));
    return std::set<Mask>(all.begin(), all.end()) == rules;
  }

  UINT Classify() const {
    const int n = Bits(unionMask);
    if (n == 0) return 1;
    if (rules.size() == 1) return n == 1 ? 2 : 3;
    bool allSingle = true;
    for (Mask r : rules) allSingle = allSingle && Bits(r) == 1;
    if (allSingle) return 4;
    const int k = Bits(*rules.begin());
    for (Mask r : rules)
      if (Bits(r) != k) return 6;
    if (k < 1 || k > 10) return 6;
    return IsEveryKSubset(k) ? 5 : 6;
  }

  // The first (smallest) rule inside the credentials, if the policy is satisfied by a rule.
  const Mask* FirstMatch(Mask credentials) const {
    for (const Mask& r : rules)
      if ((credentials | r) == credentials) return &r;
    return nullptr;
  }

  bool Satisfied(Mask credentials) const {
    if (shape == 1) return true;
    if (credentials == 0) return false;
    return FirstMatch(credentials) != nullptr;
  }

  std::wstring Text() const {
    std::wstring out;
    for (Mask r : rules) {
      wchar_t buf[20];
      std::swprintf(buf, 20, L"%016llX", r);
      if (!out.empty()) out += L' ';
      out += buf;
    }
    return out;
  }
};

std::string Hex(Mask m) {
  char buf[24];
  std::snprintf(buf, sizeof(buf), "0x%016llX", m);
  return buf;
}

class Generator {
 public:
  explicit Generator(unsigned seed) : m_rng(seed) {}

  size_t Below(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(m_rng); }
  bool Chance(int percent) { return Below(100) < static_cast<size_t>(percent); }

  // A few distinct bit positions, the top bit now and then (it must sort last).
  std::vector<int> Universe(size_t count) {
    std::vector<int> all(64);
    for (int i = 0; i < 64; ++i) all[static_cast<size_t>(i)] = i;
    std::shuffle(all.begin(), all.end(), m_rng);
    all.resize(count);
    if (Chance(20)) all[0] = 63;
    std::sort(all.begin(), all.end());
    all.erase(std::unique(all.begin(), all.end()), all.end());
    return all;
  }

  Mask RandomSubset(const std::vector<int>& bits, int percent = 50) {
    Mask m = 0;
    for (int b : bits)
      if (Chance(percent)) m |= 1ULL << b;
    return m;
  }

  // One policy input of a randomly chosen kind.
  std::vector<Mask> Policy() {
    std::vector<Mask> masks;
    switch (Below(4)) {
      case 0: {  // arbitrary rules over a small universe
        auto bits = Universe(1 + Below(8));
        const size_t count = Below(7);
        for (size_t i = 0; i < count; ++i) masks.push_back(RandomSubset(bits));
        break;
      }
      case 1: {  // single types, an "any one of" candidate
        auto bits = Universe(1 + Below(10));
        for (int b : bits)
          if (Chance(80)) masks.push_back(1ULL << b);
        break;
      }
      default: {  // a complete k-of-n family, perhaps spoilt
        const size_t n = 2 + Below(10);
        const size_t k = 1 + Below(std::min<size_t>(n, 11));
        auto bits = Universe(n);
        if (bits.size() < k) break;
        {
          const auto family = policytest::AllSubsets(bits, k);
          masks.assign(family.begin(), family.end());
        }
        switch (Below(6)) {
          case 0:  // one subset missing
            masks.erase(masks.begin() + static_cast<long>(Below(masks.size())));
            break;
          case 1:  // a rule of another size
            masks.push_back(RandomSubset(bits, 30) | (1ULL << bits[0]));
            break;
          case 2:  // an empty rule
            masks.push_back(0);
            break;
          case 3:  // a subset reaching one more type
            masks[Below(masks.size())] ^= 1ULL << Universe(1)[0];
            break;
          default:  // intact
            break;
        }
        break;
      }
    }
    // Duplicates and empty rules now and then, in any order.
    if (!masks.empty() && Chance(30)) masks.push_back(masks[Below(masks.size())]);
    if (Chance(10)) masks.push_back(0);
    std::shuffle(masks.begin(), masks.end(), m_rng);
    return masks;
  }

  // Credential sets worth asking about this policy.
  std::vector<Mask> Credentials(const Reference& ref) {
    std::vector<Mask> out = {0, ref.unionMask, ~0ULL, RandomSubset(Universe(6))};
    for (Mask r : ref.rules) {
      if (Chance(50)) continue;
      out.push_back(r);
      if (r) out.push_back(r & (r - 1));               // one type short
      out.push_back(r | (1ULL << Universe(1)[0]));     // and one type more
      out.push_back(ref.unionMask & ~(r & (~r + 1)));  // all but r's lowest type
    }
    return out;
  }

 private:
  std::mt19937_64 m_rng;
};

TEST(PolicyRandomTest, AgreesWithTheReferenceOnRulesShapeSatisfactionTextAndTraces) {
  VDTraceNS::Bind(nullptr);
  VDTraceNS::CRecordingSink sink;
  Generator gen(20260302);
  int shapeSeen[7] = {};
  for (int c = 0; c < 4000; ++c) {
    const std::vector<Mask> input = gen.Policy();
    const Reference ref(input);
    std::vector<ULONGLONG> masks(input.begin(), input.end());

    sink.Clear();
    CPolicy p;
    p.Init(masks);
    SCOPED_TRACE("case " + std::to_string(c));

    std::vector<Mask> got;
    for (const auto& r : p.Rules()) {
      got.push_back(r.m_uMask);
      ASSERT_EQ(r.m_nNumTokens, static_cast<UINT>(std::popcount(r.m_uMask)));
    }
    ASSERT_EQ(got, std::vector<Mask>(ref.rules.begin(), ref.rules.end()));
    ASSERT_EQ(p.TokensMask(), ref.unionMask);
    ASSERT_EQ(p.TotalNumTokens(), static_cast<UINT>(std::popcount(ref.unionMask)));
    ASSERT_EQ(static_cast<UINT>(p.Shape()), ref.shape);
    ASSERT_EQ(p.GetText(), ref.Text());
    ++shapeSeen[ref.shape];

    // The trace lists the input as given and the rules as kept.
    std::vector<std::string> lines = {"Initial Policy:"};
    for (Mask m : input) lines.push_back("    " + Hex(m));
    lines.push_back("Processed Policy:");
    for (Mask m : ref.rules) lines.push_back("    " + Hex(m));
    lines.push_back("m_uTokensMask=" + Hex(ref.unionMask));
    lines.push_back("m_nTotalNumTokens=" + std::to_string(std::popcount(ref.unionMask)));
    ASSERT_EQ(sink.Texts('U'), lines);

    for (Mask u : gen.Credentials(ref)) {
      sink.Clear();
      ASSERT_EQ(p.IsSatisfied(u), ref.Satisfied(u)) << "credentials " << Hex(u);
      if (ref.shape != 1 && u != 0) {
        const Mask* match = ref.FirstMatch(u);
        const std::string last = match ? "Matching Item found: " + Hex(*match) : "false";
        ASSERT_EQ(sink.Texts('U'), (std::vector<std::string>{"uCredentials==" + Hex(u), last}));
      }
    }
  }
  // The generator reaches every shape, k-of-n included, many times over.
  for (int s = 1; s <= 6; ++s) EXPECT_GT(shapeSeen[s], 40) << "shape " << s;
}

}  // namespace
