#include "support/trace/trace_text.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <type_traits>

namespace VDTraceNS {

namespace {

void AppendCodePoint(std::string& out, char32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Decodes one code point at text[i], advancing i; invalid input gives U+FFFD and one byte.
char32_t NextCodePoint(std::string_view text, std::size_t& i) {
  const auto b0 = static_cast<unsigned char>(text[i]);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int extra = 0;
  char32_t cp = 0;
  char32_t min = 0;
  if ((b0 & 0xE0) == 0xC0) {
    extra = 1, cp = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2, cp = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3, cp = b0 & 0x07, min = 0x10000;
  } else {
    ++i;
    return 0xFFFD;
  }
  if (i + extra >= text.size()) {  // sequence cut short by the end of the text
    ++i;
    return 0xFFFD;
  }
  for (int k = 1; k <= extra; ++k) {
    const auto b = static_cast<unsigned char>(text[i + k]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return 0xFFFD;
  }
  i += extra + 1;
  return cp;
}

void AppendWide(std::string& out, const wchar_t* s, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    char32_t cp = static_cast<char32_t>(s[i]);
    if constexpr (sizeof(wchar_t) == 2) {
      if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n) {
        const char32_t lo = static_cast<char32_t>(s[i + 1]);
        if (lo >= 0xDC00 && lo <= 0xDFFF) {
          cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
          ++i;
        }
      }
    }
    AppendCodePoint(out, cp);
  }
}

std::size_t WideLength(const wchar_t* s, long maxChars) {
  std::size_t n = 0;
  while ((maxChars < 0 || n < static_cast<std::size_t>(maxChars)) && s[n] != 0) ++n;
  return n;
}

void Pad(std::string& out, std::string_view body, long width, bool left) {
  // Width counts bytes, as printf's does for narrow output.
  const std::size_t pad =
      width > 0 && static_cast<std::size_t>(width) > body.size() ? width - body.size() : 0;
  if (!left) out.append(pad, ' ');
  out.append(body);
  if (left) out.append(pad, ' ');
}

// One conversion delegated to the C library with a rebuilt, standard conversion.
template <typename T>
void AppendNumber(std::string& out, const std::string& conversion, T value) {
  char small[128];
  const int n = std::snprintf(small, sizeof small, conversion.c_str(), value);
  if (n < 0) return;
  if (static_cast<std::size_t>(n) < sizeof small) {
    out.append(small, n);
    return;
  }
  std::string big(static_cast<std::size_t>(n) + 1, '\0');
  std::snprintf(big.data(), big.size(), conversion.c_str(), value);
  out.append(big.data(), n);
}

enum class Len { kNone, kHH, kH, kL, kLL, kJ, kZ, kT, kLD };

}  // namespace

std::string_view CutUtf8(std::string_view text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return text;
  std::size_t n = maxBytes;
  // Step back over continuation bytes to the start of the sequence that would be split.
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return text.substr(0, n);
}

std::string WideToUtf8(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  AppendWide(out, text.data(), text.size());
  return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const char32_t cp = NextCodePoint(text, i);
    if (cp >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::u16string WideToUtf16(std::wstring_view text) { return Utf8ToUtf16(WideToUtf8(text)); }

void AppendFormatV(std::string& out, std::size_t maxBytes, const char* fmt, va_list ap,
                   bool wideFormat) {
  va_list args;
  va_copy(args, ap);
  const std::size_t start = out.size();
  const char* p = fmt;
  while (*p != 0 && out.size() - start < maxBytes) {
    if (*p != '%') {
      const char* run = p;
      while (*p != 0 && *p != '%') ++p;
      out.append(run, p - run);
      continue;
    }
    const char* specStart = p++;
    if (*p == '%') {
      out += '%';
      ++p;
      continue;
    }
    std::string flags;
    while (*p != 0 && std::strchr("-+ #0", *p) != nullptr) flags += *p++;
    long width = -1;
    if (*p == '*') {
      width = va_arg(args, int);
      if (width < 0) {
        flags += '-';
        width = -width;
      }
      ++p;
    } else if (*p >= '0' && *p <= '9') {
      width = 0;
      while (*p >= '0' && *p <= '9' && width < 100000) width = width * 10 + (*p++ - '0');
    }
    long precision = -1;
    if (*p == '.') {
      ++p;
      precision = 0;
      if (*p == '*') {
        precision = va_arg(args, int);
        ++p;
      } else {
        while (*p >= '0' && *p <= '9' && precision < 100000)
          precision = precision * 10 + (*p++ - '0');
      }
    }
    Len len = Len::kNone;
    int sizeHint = 0;  // -1 narrow ('h'), +1 wide ('l', 'w')
    if (p[0] == 'h' && p[1] == 'h') {
      len = Len::kHH, p += 2;
    } else if (p[0] == 'h') {
      len = Len::kH, sizeHint = -1, ++p;
    } else if (p[0] == 'l' && p[1] == 'l') {
      len = Len::kLL, p += 2;
    } else if (p[0] == 'l' || p[0] == 'w') {
      len = Len::kL, sizeHint = 1, ++p;
    } else if (p[0] == 'q') {
      len = Len::kLL, ++p;
    } else if (p[0] == 'L') {
      len = Len::kLD, ++p;
    } else if (p[0] == 'j') {
      len = Len::kJ, ++p;
    } else if (p[0] == 'z') {
      len = Len::kZ, ++p;
    } else if (p[0] == 't') {
      len = Len::kT, ++p;
    } else if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
      len = Len::kLL, p += 3;
    } else if (p[0] == 'I' && p[1] == '3' && p[2] == '2') {
      p += 3;
    } else if (p[0] == 'I') {
      len = Len::kZ, ++p;
    }
    const char conv = *p;
    if (conv == 0) {
      out.append(specStart);  // a lone '%' at the end: shown as written
      break;
    }
    ++p;
    const bool left = flags.find('-') != std::string::npos;
    std::string conversion(1, '%');
    conversion += flags;
    if (width >= 0) conversion += std::to_string(width);
    if (precision >= 0) {
      conversion += '.';
      conversion += std::to_string(precision);
    }

    switch (conv) {
      case 'd':
      case 'i':
        switch (len) {
          case Len::kLL:
            AppendNumber(out, conversion + "lld", va_arg(args, long long));
            break;
          case Len::kL:
            AppendNumber(out, conversion + "ld", va_arg(args, long));
            break;
          case Len::kJ:
            AppendNumber(out, conversion + "jd", va_arg(args, intmax_t));
            break;
          case Len::kZ:
            AppendNumber(out, conversion + "td", va_arg(args, ptrdiff_t));
            break;
          case Len::kT:
            AppendNumber(out, conversion + "td", va_arg(args, ptrdiff_t));
            break;
          case Len::kH:
            AppendNumber(out, conversion + "hd", va_arg(args, int));
            break;
          case Len::kHH:
            AppendNumber(out, conversion + "hhd", va_arg(args, int));
            break;
          default:
            AppendNumber(out, conversion + "d", va_arg(args, int));
            break;
        }
        break;
      case 'u':
      case 'o':
      case 'x':
      case 'X': {
        const std::string c(1, conv);
        switch (len) {
          case Len::kLL:
            AppendNumber(out, conversion + "ll" + c, va_arg(args, unsigned long long));
            break;
          case Len::kL:
            AppendNumber(out, conversion + "l" + c, va_arg(args, unsigned long));
            break;
          case Len::kJ:
            AppendNumber(out, conversion + "j" + c, va_arg(args, uintmax_t));
            break;
          case Len::kZ:
            AppendNumber(out, conversion + "z" + c, va_arg(args, size_t));
            break;
          case Len::kT:
            AppendNumber(out, conversion + "z" + c, va_arg(args, size_t));
            break;
          case Len::kH:
            AppendNumber(out, conversion + "h" + c, va_arg(args, unsigned));
            break;
          case Len::kHH:
            AppendNumber(out, conversion + "hh" + c, va_arg(args, unsigned));
            break;
          default:
            AppendNumber(out, conversion + c, va_arg(args, unsigned));
            break;
        }
        break;
      }
      case 'f':
      case 'F':
      case 'e':
      case 'E':
      case 'g':
      case 'G':
      case 'a':
      case 'A': {
        const std::string c(1, conv);
        if (len == Len::kLD) {
          AppendNumber(out, conversion + "L" + c, va_arg(args, long double));
        } else {
          AppendNumber(out, conversion + c, va_arg(args, double));
        }
        break;
      }
      case 'p':
        AppendNumber(out, conversion + "p", va_arg(args, void*));
        break;
      case 'c':
      case 'C': {
        // Wide: 'l'/'w', or 'C' in a narrow format, or a plain 'c' in a wide one.
        const bool wide = sizeHint > 0 || (sizeHint == 0 && ((conv == 'C') != wideFormat));
        std::string body;
        if (wide) {
          // A 16-bit wint_t (Windows) arrives promoted to int.
          using WideCharArg = std::conditional_t<(sizeof(wint_t) < sizeof(int)), int, wint_t>;
          const wchar_t ch = static_cast<wchar_t>(va_arg(args, WideCharArg));
          AppendWide(body, &ch, 1);
        } else {
          body += static_cast<char>(va_arg(args, int));
        }
        Pad(out, body, width, left);
        break;
      }
      case 's':
      case 'S': {
        const bool wide = sizeHint > 0 || (sizeHint == 0 && ((conv == 'S') != wideFormat));
        std::string body;
        if (wide) {
          const wchar_t* s = va_arg(args, const wchar_t*);
          if (s == nullptr) s = L"(null)";
          AppendWide(body, s, WideLength(s, precision));
        } else {
          const char* s = va_arg(args, const char*);
          if (s == nullptr) s = "(null)";
          body.assign(
              s, precision >= 0 ? strnlen(s, static_cast<std::size_t>(precision)) : std::strlen(s));
        }
        Pad(out, body, width, left);
        break;
      }
      case 'n':
        // Writing through a caller's pointer from a log call is never wanted.
        (void)va_arg(args, void*);
        break;
      default:
        // Unknown conversion: shown as written; its argument (if any) cannot be known.
        out.append(specStart, p - specStart);
        break;
    }
  }
  va_end(args);
  if (out.size() - start > maxBytes) {
    const std::size_t keep = CutUtf8(std::string_view(out).substr(start), maxBytes).size();
    out.resize(start + keep);
  }
}

}  // namespace VDTraceNS
