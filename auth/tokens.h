// The token types the host service has registered, by GUID, in the host's order.
//
//   for (const GUID& token : EnumTokens(api)) { ... VDFPTokenGetInfo(token, 1, ...) ... }
#pragma once

#include <vector>

#include "support/vdfp/vdfp_api.h"

// Empty when the host cannot be asked or knows no token type; traced under "EnumTokens".
std::vector<GUID> EnumTokens(CVDFPApi& api);
