#include "support/trace/trace_text.h"

#include <gtest/gtest.h>

namespace {

using VDTraceNS::AppendFormatV;

std::string Fmt(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string out;
  AppendFormatV(out, 65535, fmt, ap, false);
  va_end(ap);
  return out;
}

std::string WFmt(const wchar_t* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string out;
  const std::string narrow = VDTraceNS::WideToUtf8(fmt);
  AppendFormatV(out, 65535, narrow.c_str(), ap, true);
  va_end(ap);
  return out;
}

std::string Cut(std::size_t max, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string out;
  AppendFormatV(out, max, fmt, ap, false);
  va_end(ap);
  return out;
}

TEST(TraceFormatTest, NarrowFormatsTakeNarrowAndWideStringsAsUtf8WhateverTheLocale) {
  EXPECT_EQ(Fmt("user=%s sid=%ls", "J\xC3\xBCrgen", L"S-1-5-21-\u00FC"),
            "user=J\xC3\xBCrgen sid=S-1-5-21-\xC3\xBC");
  EXPECT_EQ(Fmt("%S|%hs", L"\U0001F600", "n"), "\xF0\x9F\x98\x80|n");
  EXPECT_EQ(Fmt("%s %ls", static_cast<const char*>(nullptr), static_cast<const wchar_t*>(nullptr)),
            "(null) (null)");
}

TEST(TraceFormatTest, WideFormatsFollowWindowsMeaningOfS) {
  EXPECT_EQ(WFmt(L"%s/%ls/%hs/%S", L"w\u00E9", L"l", "h", "S"), "w\xC3\xA9/l/h/S");
  EXPECT_EQ(WFmt(L"%c%hc%d", L'\u00E9', 'x', 7), "\xC3\xA9x7");
}

TEST(TraceFormatTest, NumbersWidthsAndPrecisionsAreTheCLibrarys) {
  EXPECT_EQ(Fmt("%d %u %08X %016llX", -5, 7u, 0xBEEFu, 0x8000000000000002ull),
            "-5 7 0000BEEF 8000000000000002");
  EXPECT_EQ(Fmt("%I64X %I64d %Iu", 0xABCDEF0123ull, -3ll, static_cast<size_t>(9)),
            "ABCDEF0123 -3 9");
  EXPECT_EQ(Fmt("%*d|%-*d|%.2f|%5.1s|%-4s|%%", 4, 1, 3, 2, 2.5, "xyz", "ab"),
            "   1|2  |2.50|    x|ab  |%");
  // Precision bounds a string that has no terminator within it.
  const char noTerminator[3] = {'a', 'b', 'c'};
  EXPECT_EQ(Fmt("%.3s", noTerminator), "abc");
}

TEST(TraceFormatTest, OddSpecificationsNeitherCrashNorWriteThroughPointers) {
  int untouched = 42;
  EXPECT_EQ(Fmt("a%nb", &untouched), "ab");
  EXPECT_EQ(untouched, 42);
  EXPECT_EQ(Fmt("100%"), "100%");
  EXPECT_EQ(Fmt("%y|%d", 5), "%y|5");
}

TEST(TraceFormatTest, CutsAtTheLimitWithoutSplittingACharacter) {
  // "\xC3\xA9" is two bytes: a limit of 4 after "abc" keeps only "abc".
  EXPECT_EQ(Cut(4, "abc%s", "\xC3\xA9z"), "abc");
  EXPECT_EQ(Cut(5, "abc%s", "\xC3\xA9z"), "abc\xC3\xA9");
  EXPECT_EQ(VDTraceNS::CutUtf8("\xE2\x82\xAC\xE2\x82\xAC", 5), "\xE2\x82\xAC");
}

TEST(TraceUtfTest, Utf8ToUtf16HandlesSupplementaryPlanesAndBadBytes) {
  EXPECT_EQ(VDTraceNS::Utf8ToUtf16("a\xF0\x9F\x98\x80"), (std::u16string{u'a', 0xD83D, 0xDE00}));
  // A stray continuation byte, an overlong form and a sequence cut short at the end.
  EXPECT_EQ(VDTraceNS::Utf8ToUtf16("\x80x\xC0\xAFy\xE2\x82"),
            (std::u16string{0xFFFD, u'x', 0xFFFD, 0xFFFD, u'y', 0xFFFD, 0xFFFD}));
  EXPECT_EQ(VDTraceNS::WideToUtf16(L"\u00E9\U0001F600"), (std::u16string{0xE9, 0xD83D, 0xDE00}));
}

}  // namespace
