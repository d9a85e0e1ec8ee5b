// Helpers the policy tests share.
#pragma once

#include <string>

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

}  // namespace policytest
