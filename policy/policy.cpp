#include "policy/policy.h"

#include <algorithm>
#include <bit>
#include <cwchar>
#include <cwctype>

#include "support/trace/trace.h"

namespace {
UINT CountTokens(ULONGLONG mask) { return static_cast<UINT>(std::popcount(mask)); }
}  // namespace

void CPolicy::Init(const ULONGLONG* masks, size_t count) {
  VDTraceNS::CScope ts("CPolicy::Init");
  m_uTokensMask = 0;
  m_nTotalNumTokens = 0;
  m_nShape = kPolicyNotInitialized;
  m_rules.clear();

  ts.Msg("Initial Policy:");
  m_rules.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    ts.Msg("    0x%016llX", static_cast<unsigned long long>(masks[i]));
    m_rules.push_back({masks[i], CountTokens(masks[i])});
  }

  std::sort(m_rules.begin(), m_rules.end(),
            [](const CPolicyRule& a, const CPolicyRule& b) { return a.m_uMask < b.m_uMask; });
  // Sorted, so equal masks are neighbours; each mask stays once, whatever its value.
  m_rules.erase(std::unique(m_rules.begin(), m_rules.end()), m_rules.end());

  ts.Msg("Processed Policy:");
  for (const auto& rule : m_rules) {
    ts.Msg("    0x%016llX", static_cast<unsigned long long>(rule.m_uMask));
    m_uTokensMask |= rule.m_uMask;
  }
  ts.Msg("m_uTokensMask=0x%016llX", static_cast<unsigned long long>(m_uTokensMask));

  m_nTotalNumTokens = CountTokens(m_uTokensMask);
  ts.Msg("m_nTotalNumTokens=%lu", static_cast<unsigned long>(m_nTotalNumTokens));

  m_nShape = Classify();
}

PolicyShape CPolicy::Classify() const {
  if (m_nTotalNumTokens == 0) return kPolicyNull;
  if (m_rules.size() == 1) return m_nTotalNumTokens == 1 ? kPolicyOneCredential : kPolicyAllOf;
  if (std::all_of(m_rules.begin(), m_rules.end(),
                  [](const CPolicyRule& r) { return r.m_nNumTokens == 1; }))
    return kPolicyAnyOneOf;
  return IsAnyKOfN() ? kPolicyAnyKOfN : kPolicyGeneral;
}

// Whether the rules are exactly the k-element subsets of the n types in the union. The
// rules are distinct and each lies within the union, so having as many of them as there
// are k-subsets already means having all of them; the per-type count is a second witness.
bool CPolicy::IsAnyKOfN() const {
  const ULONGLONG k = m_rules.front().m_nNumTokens;
  const ULONGLONG n = m_nTotalNumTokens;
  // An empty rule (k = 0) stands beside non-empty ones here: that is no "k of n" set, and
  // the arithmetic below would divide by zero.
  if (k == 0 || k > kMaxKOfN) return false;
  for (const auto& rule : m_rules)
    if (rule.m_nNumTokens != k) return false;

  // m = (n-1)! / ((n-k)! (k-1)!): the k-subsets that hold one given type. With k <= 10 and
  // n <= 64 both products stay below 63^9, well inside 64 bits, and the quotient is exact.
  ULONGLONG numerator = 1;
  for (ULONGLONG i = n - k + 1; i <= n - 1; ++i) numerator *= i;
  ULONGLONG denominator = 1;
  for (ULONGLONG i = 2; i <= k - 1; ++i) denominator *= i;
  const ULONGLONG m = numerator / denominator;

  if (m_rules.size() != m * n / k) return false;

  for (int bit = 0; bit < 64; ++bit) {
    const ULONGLONG b = 1ULL << bit;
    ULONGLONG holding = 0;
    for (const auto& rule : m_rules)
      if (rule.m_uMask & b) ++holding;
    if (holding != 0 && holding != m) return false;
  }
  return true;
}

bool CPolicy::IsSatisfied(ULONGLONG credentials) const {
  VDTraceNS::CScope ts("CPolicy::IsSatisfied");
  if (m_nShape == kPolicyNull) {
    ts.Msg("NULL Policy, true");
    return true;
  }
  if (credentials == 0) {
    ts.Msg("No credentials, false");
    return false;
  }
  ts.Msg("uCredentials==0x%016llX", static_cast<unsigned long long>(credentials));
  for (const auto& rule : m_rules) {
    if ((rule.m_uMask & credentials) == rule.m_uMask) {
      ts.Msg("Matching Item found: 0x%016llX", static_cast<unsigned long long>(rule.m_uMask));
      return true;
    }
  }
  ts.Msg("false");
  return false;
}

std::wstring CPolicy::GetText() const {
  std::wstring text;
  text.reserve(m_rules.size() * 17);
  for (const auto& rule : m_rules) {
    wchar_t item[18] = {};
    std::swprintf(item, 18, L"%016llX ", static_cast<unsigned long long>(rule.m_uMask));
    text += item;
  }
  while (!text.empty() && std::iswspace(static_cast<wint_t>(text.back()))) text.pop_back();
  return text;
}
