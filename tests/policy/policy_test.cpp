// The logon policy: normalisation, shapes, satisfaction, the traces of both and the text.
#include "policy/policy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/trace/trace.h"
#include "support/trace/trace_sink.h"

namespace {

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

// Every k-element subset of the bits `bits`, as masks.
Masks AllSubsets(const std::vector<int>& bits, size_t k) {
  Masks out;
  std::vector<bool> pick(bits.size(), false);
  std::fill(pick.end() - static_cast<long>(k), pick.end(), true);
  do {
    ULONGLONG m = 0;
    for (size_t i = 0; i < bits.size(); ++i)
      if (pick[i]) m |= 1ULL << bits[i];
    out.push_back(m);
  } while (std::next_permutation(pick.begin(), pick.end()));
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

// ---- Shapes ----

TEST_F(PolicyTest, ShapesOfTheNamedExamples) {
  EXPECT_EQ(CPolicy().Shape(), kPolicyNotInitialized);
  EXPECT_EQ(Make({}).Shape(), kPolicyNull);
  EXPECT_EQ(Make({0x2}).Shape(), kPolicyOneCredential);
  EXPECT_EQ(Make({0x9}).Shape(), kPolicyAllOf);

  const CPolicy anyOne = Make({0x1, 0x2, 0x8});
  EXPECT_EQ(anyOne.Shape(), kPolicyAnyOneOf);
  EXPECT_EQ(anyOne.TotalNumTokens(), 3u);
  EXPECT_EQ(anyOne.TokensMask(), 0xBu);

  EXPECT_EQ(Make({0x3, 0x5, 0x6}).Shape(), kPolicyAnyKOfN);  // any 2 of 3
  EXPECT_EQ(Make({0x3, 0x5}).Shape(), kPolicyGeneral);       // one 2-subset missing
  // Equal token counts but not one subset family: {0,1},{2,3} is not "2 of 4".
  EXPECT_EQ(Make({0x3, 0xC}).Shape(), kPolicyGeneral);
  // Mixed token counts.
  EXPECT_EQ(Make({0x1, 0x6}).Shape(), kPolicyGeneral);
}

TEST_F(PolicyTest, OneRuleIsShapedByTheTotalEvenWhenRepeated) {
  EXPECT_EQ(Make({0x9, 0x9, 0x9}).Shape(), kPolicyAllOf);
  EXPECT_EQ(Make({0x40, 0x40}).Shape(), kPolicyOneCredential);
  EXPECT_EQ(Make({0x40, 0x40}).Rules().size(), 1u);
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

TEST_F(PolicyTest, RulesAreSortedAsUnsignedNumbersAndKeptOnce) {
  const CPolicy p = Make({0x8000000000000000ULL, 0x5, 0x3, 0x5, 0x8000000000000000ULL, 0x3});
  EXPECT_EQ(RuleMasks(p), (Masks{0x3, 0x5, 0x8000000000000000ULL}));
  EXPECT_EQ(p.Rules()[2].m_nNumTokens, 1u);
  EXPECT_EQ(p.Rules()[0].m_nNumTokens, 2u);
  EXPECT_EQ(p.TokensMask(), 0x8000000000000007ULL);
  EXPECT_EQ(p.TotalNumTokens(), 4u);
}

TEST_F(PolicyTest, InitReplacesTheWholePolicy) {
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
  // A copy is a value of its own.
  EXPECT_EQ(RuleMasks(copy), (Masks{0x3, 0x5, 0x6}));
  EXPECT_EQ(copy.Shape(), kPolicyAnyKOfN);
}

// ---- Empty rules: kept, they need no particular credential ----

TEST_F(PolicyTest, OnlyEmptyRulesMakeANullPolicySatisfiedByAnything) {
  const CPolicy p = Make({0x0, 0x0});
  EXPECT_EQ(RuleMasks(p), (Masks{0x0}));
  EXPECT_EQ(p.Shape(), kPolicyNull);
  EXPECT_TRUE(p.IsSatisfied(0));
  EXPECT_TRUE(p.IsSatisfied(0x4));
}

TEST_F(PolicyTest, AnEmptyRuleBesideOthersKeepsItsNeighbourAndIsNoKOfN) {
  // The rule after the empty one survives de-duplication.
  const CPolicy p = Make({0x6, 0x0, 0x0, 0x6, 0x3});
  EXPECT_EQ(RuleMasks(p), (Masks{0x0, 0x3, 0x6}));
  EXPECT_EQ(p.Shape(), kPolicyGeneral);
  // Not "any one of": the empty rule holds no type.
  EXPECT_EQ(Make({0x0, 0x1, 0x2}).Shape(), kPolicyGeneral);
  // Would be "2 of 3" without the empty rule; with it, k would be 0 and the test is not run.
  EXPECT_EQ(Make({0x0, 0x3, 0x5, 0x6}).Shape(), kPolicyGeneral);
  // Any enrolled credential satisfies it; none does not.
  EXPECT_TRUE(p.IsSatisfied(0x100));
  EXPECT_FALSE(p.IsSatisfied(0));
}

// ---- Satisfaction ----

TEST_F(PolicyTest, SatisfactionOfTheNamedExamples) {
  const CPolicy all = Make({0x9});
  EXPECT_FALSE(all.IsSatisfied(0x8));
  EXPECT_TRUE(all.IsSatisfied(0xB));
  EXPECT_TRUE(Make({}).IsSatisfied(0));
  EXPECT_TRUE(Make({}).IsSatisfied(0x8000000000000000ULL));
  EXPECT_FALSE(CPolicy().IsSatisfied(0x1));  // not initialised: no rule to match

  const CPolicy twoOfThree = Make({0x3, 0x5, 0x6});
  EXPECT_TRUE(twoOfThree.IsSatisfied(0x5));
  EXPECT_TRUE(twoOfThree.IsSatisfied(0x16));
  EXPECT_FALSE(twoOfThree.IsSatisfied(0x4));
  EXPECT_FALSE(twoOfThree.IsSatisfied(0x18));
}

TEST_F(PolicyTest, SatisfactionTracesNameTheFirstMatchInAscendingOrder) {
  const CPolicy p = Make({0x6, 0x3, 0x8000000000000001ULL});
  sink.Clear();
  EXPECT_TRUE(p.IsSatisfied(0x8000000000000007ULL));
  EXPECT_EQ(sink.Texts('U'),
            (Lines{"uCredentials==0x8000000000000007", "Matching Item found: 0x0000000000000003"}));
  EXPECT_EQ(sink.Texts('>'), (Lines{"CPolicy::IsSatisfied"}));

  sink.Clear();
  EXPECT_FALSE(p.IsSatisfied(0x5));
  EXPECT_EQ(sink.Texts('U'), (Lines{"uCredentials==0x0000000000000005", "false"}));

  sink.Clear();
  EXPECT_FALSE(p.IsSatisfied(0));
  EXPECT_EQ(sink.Texts('U'), (Lines{"No credentials, false"}));

  const CPolicy null = Make({});
  sink.Clear();
  EXPECT_TRUE(null.IsSatisfied(0));
  EXPECT_EQ(sink.Texts('U'), (Lines{"NULL Policy, true"}));
}

// ---- Init's trace ----

TEST_F(PolicyTest, InitTracesTheInputThenTheProcessedRulesAndTotals) {
  sink.Clear();
  const CPolicy p = Make({0x5, 0x3, 0x5});
  EXPECT_EQ(
      sink.Texts('U'),
      (Lines{"Initial Policy:", "    0x0000000000000005", "    0x0000000000000003",
             "    0x0000000000000005", "Processed Policy:", "    0x0000000000000003",
             "    0x0000000000000005", "m_uTokensMask=0x0000000000000007", "m_nTotalNumTokens=3"}));
  EXPECT_EQ(sink.Texts('>'), (Lines{"CPolicy::Init"}));
  EXPECT_EQ(sink.Texts('<'), (Lines{"CPolicy::Init"}));
}

TEST_F(PolicyTest, InitTraceOfAnEmptyListAndOfHighBits) {
  sink.Clear();
  Make({});
  EXPECT_EQ(sink.Texts('U'), (Lines{"Initial Policy:", "Processed Policy:",
                                    "m_uTokensMask=0x0000000000000000", "m_nTotalNumTokens=0"}));
  sink.Clear();
  Make({0xFFFFFFFFFFFFFFFFULL});
  EXPECT_EQ(sink.Texts('U'), (Lines{"Initial Policy:", "    0xFFFFFFFFFFFFFFFF",
                                    "Processed Policy:", "    0xFFFFFFFFFFFFFFFF",
                                    "m_uTokensMask=0xFFFFFFFFFFFFFFFF", "m_nTotalNumTokens=64"}));
}

// ---- Text ----

TEST_F(PolicyTest, TextIsTheSortedMasksInUpperCaseHexSeparatedByBlanks) {
  EXPECT_EQ(Make({0x5, 0x3, 0x5}).GetText(), L"0000000000000003 0000000000000005");
  EXPECT_EQ(Make({0xABCDEF0123456789ULL}).GetText(), L"ABCDEF0123456789");
  EXPECT_EQ(Make({0x0, 0x8000}).GetText(), L"0000000000000000 0000000000008000");
  EXPECT_EQ(Make({}).GetText(), L"");
  EXPECT_EQ(CPolicy().GetText(), L"");
  // Equal policies written in any order give the same text.
  EXPECT_EQ(Make({0x6, 0x3, 0x5}).GetText(), Make({0x5, 0x6, 0x3, 0x3}).GetText());
}

}  // namespace
