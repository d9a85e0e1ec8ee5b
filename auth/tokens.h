// The token types the host service has registered, by GUID, in the host's order.
//
//   for (const GUID& token : EnumTokens(api)) { ... VDFPTokenGetInfo(token, 1, ...) ... }
#pragma once

#include <vector>

#include "support/vdfp/vdfp_api.h"

// More token types than any suite registers: a larger count is refused as corrupt.
inline constexpr DWORD kMaxTokenTypes = 256;

// Empty when the host cannot be asked, knows no token type or answers an implausible count;
// traced under "EnumTokens".
std::vector<GUID> EnumTokens(CVDFPApi& api);
