// Helpers the policy tests share.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "platform/win_types.h"
#include "support/trace/trace_sink.h"

namespace policytest {

// Credential bits of a logon rule.
constexpr ULONGLONG kPassword = 0x1, kFingerprint = 0x2, kSmartcard = 0x4;

// A failure result traced with `message` (the record starts with the HRESULT).
inline bool HasResult(const VDTraceNS::CRecordingSink& sink, const std::string& message) {
  for (const auto& text : sink.Texts('E'))
    if (text.size() > message.size() &&
        text.compare(text.size() - message.size(), message.size(), message) == 0)
      return true;
  return false;
}

// Every k-element subset of the bit positions `bits`, as masks.
inline std::vector<ULONGLONG> AllSubsets(const std::vector<int>& bits, size_t k) {
  std::vector<ULONGLONG> out;
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

}  // namespace policytest
