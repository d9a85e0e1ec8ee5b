// Text helpers of the simulated machine: Windows-style case folding for names that
// Windows compares without regard to case (registry keys, file names, environment
// variables), and UTF-8 for host paths.
#pragma once

#include <string>
#include <string_view>

namespace sim::text {

// Upper case as Windows folds names for comparison. ASCII and Latin-1 are folded here so
// that the result does not depend on the host's locale.
wchar_t FoldUpper(wchar_t c);
wchar_t FoldLower(wchar_t c);
std::wstring Upper(std::wstring_view s);
std::wstring Lower(std::wstring_view s);
bool IEquals(std::wstring_view a, std::wstring_view b);

// Ordinal comparison as Windows makes it (CompareStringOrdinal): UTF-16 unit by unit, so a
// character beyond the BMP orders by its surrogates, then the shorter string first. Ignoring
// case folds each unit through the generated table (OrdinalUpper). <0, 0 or >0.
char16_t OrdinalUpper(char16_t unit);
int CompareOrdinal(std::wstring_view a, std::wstring_view b, bool ignoreCase);

std::string ToUtf8(std::wstring_view s);
std::wstring FromUtf8(std::string_view s);

}  // namespace sim::text
