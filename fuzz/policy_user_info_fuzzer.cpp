// libFuzzer target for the library's user-information buffer turned into a policy: a rule
// count and the masks behind it. A count above the limit must be refused without reading a
// single mask (the harness puts no more masks behind it than the input holds, so a read past
// them is caught); any other buffer must give a normalised policy.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "policy/user_policy.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  std::uint32_t count = 0;
  std::memcpy(&count, data, 4);
  // Sane counts are kept small so that runs stay fast; damaged ones are taken as they are.
  if (count <= kMaxPolicyRules) count %= 1025;
  data += 4;
  size -= 4;
  const std::size_t given = size / 8;
  // A real library puts `count` masks behind a sane header; a damaged count gets only what
  // the input holds.
  const std::size_t masks = count <= kMaxPolicyRules ? count : given;
  std::vector<ULONGLONG> buffer(1 + masks);
  ULONGLONG all = 0;
  for (std::size_t i = 0; i < masks; ++i) {
    ULONGLONG m = 0;
    if (given) std::memcpy(&m, data + 8 * (i % given), 8);
    buffer[1 + i] = m;
    all |= m;
  }
  auto* info = reinterpret_cast<VDFP_USER_INFO_4*>(buffer.data());
  info->cRules = count;
  info->dwReserved = 0;

  CPolicy policy;
  const HRESULT hr = PolicyFromUserInfo(*info, policy);
  if (count > kMaxPolicyRules) {
    if (SUCCEEDED(hr) || !policy.Rules().empty() || policy.Shape() != kPolicyNotInitialized)
      std::abort();
    return 0;
  }
  if (FAILED(hr)) std::abort();
  const auto& rules = policy.Rules();
  for (std::size_t i = 0; i < rules.size(); ++i) {
    if (rules[i].m_nNumTokens != static_cast<UINT>(std::popcount(rules[i].m_uMask))) std::abort();
    if (i && rules[i - 1].m_uMask >= rules[i].m_uMask) std::abort();  // sorted, each once
  }
  if (policy.TokensMask() != all) std::abort();
  if (policy.TotalNumTokens() != static_cast<UINT>(std::popcount(all))) std::abort();
  if (policy.Shape() < kPolicyNull || policy.Shape() > kPolicyGeneral) std::abort();
  // Every credential type of the policy together satisfies it.
  if (!rules.empty() && !policy.IsSatisfied(all ? all : 1)) std::abort();
  if (policy.GetText().size() != (rules.empty() ? 0 : 17 * rules.size() - 1)) std::abort();
  return 0;
}
