// Text helpers of the tracer: a printf-style formatter with the same meaning on every
// compiler, and the UTF conversions the record and log formats need.
//
// Why our own formatter: glibc converts "%ls" through the C locale and fails the whole call
// on the first non-ASCII character, and MSVC and glibc disagree on "%s" in wide formats. Here
//   narrow formats:  %s %hs narrow (UTF-8) string, %ls %S wide string, %c char, %lc wide char
//   wide formats:    %s %ls %S... as on Windows: %s %ls wide string, %hs %S narrow string
// and every wide string is written as UTF-8, whatever the size of wchar_t. The integer,
// floating-point and pointer conversions are the C library's (with "I64"/"I32"/"I" accepted
// as length modifiers); "%n" is consumed and ignored.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>
#include <string_view>

namespace VDTraceNS {

// Appends the formatted text to out, stopping at maxBytes (cut at a UTF-8 boundary).
void AppendFormatV(std::string& out, std::size_t maxBytes, const char* fmt, va_list ap,
                   bool wideFormat);

std::string WideToUtf8(std::wstring_view text);
// Invalid sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
std::u16string WideToUtf16(std::wstring_view text);
// The longest prefix of text of at most maxBytes that does not split a UTF-8 sequence.
std::string_view CutUtf8(std::string_view text, std::size_t maxBytes);

}  // namespace VDTraceNS
