// The user's logon policy: which combinations of credential types must be enrolled.
//
//   const ULONGLONG rules[] = {0x3, 0x5, 0x6};       // from the library's user information
//   CPolicy policy;
//   policy.Init(rules, 3);                           // shape kPolicyAnyKOfN: any 2 of 3
//   policy.IsSatisfied(0x5);                         // true: rule 0x5 is wholly enrolled
//   policy.GetText();                                // L"0000000000000003 0000000000000005 ..."
//
// Each rule is one alternative: the mask of the credential types (bits as in the credential
// mask) that must all be enrolled. The policy keeps its rules sorted by mask, ascending as
// unsigned numbers, each mask once. It is a value: copy it to evaluate it at leisure.
//
// An empty rule (mask 0) is kept: it is an alternative that needs no particular credential,
// so any non-empty credential set satisfies a policy holding one. A policy made of empty
// rules only is the null policy, satisfied even by no credentials at all.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/win_types.h"

enum PolicyShape : UINT {
  kPolicyNotInitialized = 0,
  kPolicyNull = 1,           // no credential type required at all
  kPolicyOneCredential = 2,  // one rule of one type
  kPolicyAllOf = 3,          // one rule of several types
  kPolicyAnyOneOf = 4,       // several rules of one type each
  kPolicyAnyKOfN = 5,        // every k-type subset of n types, k at most 10
  kPolicyGeneral = 6,        // anything else
};

struct CPolicyRule {
  ULONGLONG m_uMask = 0;
  UINT m_nNumTokens = 0;  // set bits in m_uMask
  bool operator==(const CPolicyRule&) const = default;
};

class CPolicy {
 public:
  // Rebuilds the policy from the library's masks, taken as they are, and traces the input
  // and the result. `masks` may be null when `count` is 0.
  void Init(const ULONGLONG* masks, size_t count);
  void Init(const std::vector<ULONGLONG>& masks) { Init(masks.data(), masks.size()); }

  // True when some rule is wholly contained in the enrolled credential mask.
  bool IsSatisfied(ULONGLONG credentials) const;

  // The rule masks in order, each as 16 upper-case hex digits, separated by one blank; used
  // to display a policy and to tell whether a fetched policy differs from the last one.
  std::wstring GetText() const;

  ULONGLONG TokensMask() const { return m_uTokensMask; }
  UINT TotalNumTokens() const { return m_nTotalNumTokens; }
  PolicyShape Shape() const { return m_nShape; }
  const std::vector<CPolicyRule>& Rules() const { return m_rules; }

  // Largest k for which the "any k of n" shape is recognised.
  static constexpr UINT kMaxKOfN = 10;

 private:
  PolicyShape Classify() const;
  bool IsAnyKOfN() const;

  ULONGLONG m_uTokensMask = 0;
  UINT m_nTotalNumTokens = 0;
  PolicyShape m_nShape = kPolicyNotInitialized;
  std::vector<CPolicyRule> m_rules;
};
