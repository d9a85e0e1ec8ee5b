// Reading single registry values with their type checked: a value of another type counts
// as absent, as every caller in the agent wants.
#pragma once

#include <optional>
#include <string>

#include "platform/registry.h"

namespace support {

// The view flag for the suite's machine keys: the 64-bit view on 64-bit Windows.
REGSAM SuiteView(platform::IRegistry& reg);

std::optional<DWORD> ReadDword(platform::IRegistry& reg, HKEY root, const wchar_t* path,
                               const wchar_t* name, REGSAM view = 0);
// REG_SZ or REG_EXPAND_SZ (not expanded) up to its first zero, at most `maxChars` characters.
std::optional<std::wstring> ReadString(platform::IRegistry& reg, HKEY root, const wchar_t* path,
                                       const wchar_t* name, REGSAM view = 0,
                                       DWORD maxChars = 1024);

}  // namespace support
