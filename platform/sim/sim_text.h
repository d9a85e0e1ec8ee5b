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

std::string ToUtf8(std::wstring_view s);
std::wstring FromUtf8(std::string_view s);

}  // namespace sim::text
