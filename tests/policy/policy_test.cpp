// The logon policy: normalisation, shapes, satisfaction, the traces of both and the text.
#include "policy/policy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/trace/trace.h"
#include "support/trace/trace_sink.h"
#include "tests/policy/policy_test_util.h"

namespace {

using policytest::AllSubsets;

using Masks = std::vector<ULONGLONG>;
using Lines = std::vector<std::string>;

CPolicy Make(const Masks& masks) {
  CPolicy p;
  p.Init(masks);
  return p;
}

Masks RuleMasks(const CPolicy& p) {
  Masks out;
  for (const auto& r : p.Rules()) out.push_back(r.m_uMask);
  return out;
}

std::vector<int> FirstBits(int n) {
  std::vector<int> bits;
  for (int i = 0; i < n; ++i) bits.push_back(i);
  return bits;
}

class PolicyTest : public ::testing::Test {
 protected:
  void SetUp() override { VDTraceNS::Bind(nullptr); }
  VDTraceNS::CRecordingSink sink;
};

// The random test (policy_random_test.cpp) checks rules, shapes, satisfaction, text and
// traces against a reference; these cases cover what its generator does not reach.

TEST_F(PolicyTest, AnUninitialisedPolicyHasNoShapeNoTextAndSatisfiesNothing) {
  EXPECT_EQ(CPolicy().Shape(), kPolicyNotInitialized);
  EXPECT_FALSE(CPolicy().IsSatisfied(0x1));  // no rule to match
  EXPECT_EQ(CPolicy().GetText(), L"");
}

TEST_F(PolicyTest, AnyKOfNIsRecognisedUpToTenAndNotBeyond) {
  for (size_t k = 2; k <= 10; ++k) {
    const CPolicy p = Make(AllSubsets(FirstBits(static_cast<int>(k) + 1), k));
    EXPECT_EQ(p.Shape(), kPolicyAnyKOfN) << "k=" << k;
  }
  // Complete families with k = 11 are general.
  EXPECT_EQ(Make(AllSubsets(FirstBits(12), 11)).Shape(), kPolicyGeneral);
  EXPECT_EQ(Make(AllSubsets(FirstBits(13), 11)).Shape(), kPolicyGeneral);
  // Larger n than a factorial fits in 64 bits: the counting must not overflow.
  EXPECT_EQ(Make(AllSubsets(FirstBits(25), 3)).Shape(), kPolicyAnyKOfN);
  EXPECT_EQ(Make(AllSubsets(FirstBits(64), 2)).Shape(), kPolicyAnyKOfN);
  EXPECT_EQ(Make(AllSubsets(FirstBits(12), 10)).Shape(), kPolicyAnyKOfN);
  // The same families with one subset gone.
  Masks missing = AllSubsets(FirstBits(25), 3);
  missing.erase(missing.begin() + 100);
  EXPECT_EQ(Make(missing).Shape(), kPolicyGeneral);
  Masks wide = AllSubsets(FirstBits(64), 2);
  wide.pop_back();
  EXPECT_EQ(Make(wide).Shape(), kPolicyGeneral);
}

TEST_F(PolicyTest, InitReplacesTheWholePolicyAndACopyIsAValueOfItsOwn) {
  CPolicy p = Make({0x3, 0x5, 0x6});
  const CPolicy copy = p;
  p.Init({0x10});
  EXPECT_EQ(RuleMasks(p), (Masks{0x10}));
  EXPECT_EQ(p.TokensMask(), 0x10u);
  EXPECT_EQ(p.Shape(), kPolicyOneCredential);
  p.Init(nullptr, 0);
  EXPECT_EQ(p.Shape(), kPolicyNull);
  EXPECT_EQ(p.TokensMask(), 0u);
  EXPECT_TRUE(p.Rules().empty());
  EXPECT_EQ(RuleMasks(copy), (Masks{0x3, 0x5, 0x6}));
  EXPECT_EQ(copy.Shape(), kPolicyAnyKOfN);
}

TEST_F(PolicyTest, TracesOfScopesAllSixtyFourBitsAndTheShortcutAnswers) {
  sink.Clear();
  Make({0xFFFFFFFFFFFFFFFFULL});
  EXPECT_EQ(sink.Texts('U'), (Lines{"Initial Policy:", "    0xFFFFFFFFFFFFFFFF",
                                    "Processed Policy:", "    0xFFFFFFFFFFFFFFFF",
                                    "m_uTokensMask=0xFFFFFFFFFFFFFFFF", "m_nTotalNumTokens=64"}));
  EXPECT_EQ(sink.Texts('>'), (Lines{"CPolicy::Init"}));
  EXPECT_EQ(sink.Texts('<'), (Lines{"CPolicy::Init"}));

  const CPolicy p = Make({0x6, 0x3});
  sink.Clear();
  EXPECT_FALSE(p.IsSatisfied(0));
  EXPECT_EQ(sink.Texts('U'), (Lines{"No credentials, false"}));
  EXPECT_EQ(sink.Texts('>'), (Lines{"CPolicy::IsSatisfied"}));
  const CPolicy null = Make({});
  sink.Clear();
  EXPECT_TRUE(null.IsSatisfied(0));
  EXPECT_EQ(sink.Texts('U'), (Lines{"NULL Policy, true"}));
}

}  // namespace
