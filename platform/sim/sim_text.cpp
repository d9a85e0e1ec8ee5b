#include "platform/sim/sim_text.h"

#include <algorithm>
#include <cwctype>

#include "platform/sim/upcase_table.h"

namespace sim::text {

wchar_t FoldUpper(wchar_t c) {
  if (c >= L'a' && c <= L'z') return static_cast<wchar_t>(c - L'a' + L'A');
  if (c < 0x80) return c;
  // Latin-1 lower-case letters, except the division sign and the two without an upper
  // case form in this range.
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<wchar_t>(c - 0x20);
  if (c < 0x100) return c;
  return static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
}

wchar_t FoldLower(wchar_t c) {
  if (c >= L'A' && c <= L'Z') return static_cast<wchar_t>(c - L'A' + L'a');
  if (c < 0x80) return c;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<wchar_t>(c + 0x20);
  if (c < 0x100) return c;
  return static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
}

std::wstring Upper(std::wstring_view s) {
  std::wstring r(s);
  for (auto& c : r) c = FoldUpper(c);
  return r;
}

std::wstring Lower(std::wstring_view s) {
  std::wstring r(s);
  for (auto& c : r) c = FoldLower(c);
  return r;
}

bool IEquals(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (FoldUpper(a[i]) != FoldUpper(b[i])) return false;
  return true;
}

char16_t OrdinalUpper(char16_t unit) {
  const UpcasePair* end = kUpcasePairs + kUpcasePairCount;
  const UpcasePair* it = std::lower_bound(
      kUpcasePairs, end, unit, [](const UpcasePair& p, char16_t u) { return p.unit < u; });
  return it != end && it->unit == unit ? it->upper : unit;
}

namespace {

// The host's wchar_t holds a whole code point; Windows compares UTF-16 units.
std::u16string Utf16(std::wstring_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (wchar_t wc : s) {
    const auto c = static_cast<char32_t>(wc);
    if (c > 0xFFFF && c <= 0x10FFFF) {
      out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
  }
  return out;
}

}  // namespace

int CompareOrdinal(std::wstring_view a, std::wstring_view b, bool ignoreCase) {
  const std::u16string x = Utf16(a), y = Utf16(b);
  const size_t n = std::min(x.size(), y.size());
  for (size_t i = 0; i < n; ++i) {
    const char16_t cx = ignoreCase ? OrdinalUpper(x[i]) : x[i];
    const char16_t cy = ignoreCase ? OrdinalUpper(y[i]) : y[i];
    if (cx != cy) return cx < cy ? -1 : 1;
  }
  return x.size() == y.size() ? 0 : x.size() < y.size() ? -1 : 1;
}

std::string ToUtf8(std::wstring_view s) {
  std::string out;
  out.reserve(s.size());
  for (wchar_t wc : s) {
    auto c = static_cast<char32_t>(wc);
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

std::wstring FromUtf8(std::string_view s) {
  std::wstring out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    const auto b = static_cast<unsigned char>(s[i]);
    char32_t c;
    size_t n;
    if (b < 0x80) {
      c = b;
      n = 1;
    } else if ((b & 0xE0) == 0xC0) {
      c = b & 0x1F;
      n = 2;
    } else if ((b & 0xF0) == 0xE0) {
      c = b & 0x0F;
      n = 3;
    } else if ((b & 0xF8) == 0xF0) {
      c = b & 0x07;
      n = 4;
    } else {
      out.push_back(static_cast<wchar_t>(0xFFFD));
      ++i;
      continue;
    }
    if (i + n > s.size()) {
      out.push_back(static_cast<wchar_t>(0xFFFD));
      break;
    }
    bool ok = true;
    for (size_t k = 1; k < n; ++k) {
      const auto cb = static_cast<unsigned char>(s[i + k]);
      if ((cb & 0xC0) != 0x80) ok = false;
      c = (c << 6) | (cb & 0x3F);
    }
    out.push_back(ok ? static_cast<wchar_t>(c) : static_cast<wchar_t>(0xFFFD));
    i += ok ? n : 1;
  }
  return out;
}

}  // namespace sim::text
