#include "auth/kiosk_user_record.h"

namespace {

DWORD ReadU32(const BYTE* p) {
  return static_cast<DWORD>(p[0]) | static_cast<DWORD>(p[1]) << 8 | static_cast<DWORD>(p[2]) << 16 |
         static_cast<DWORD>(p[3]) << 24;
}

// The NUL-terminated UTF-16LE string at the start of [p, p + size); nothing when the
// terminator is not inside (the record was cut or is not a record at all). A cut name could
// be the prefix of someone else's, so it is never used.
std::optional<std::wstring> ReadTerminatedUtf16(const BYTE* p, std::size_t size) {
  std::wstring out;
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    const char16_t unit = static_cast<char16_t>(p[i] | p[i + 1] << 8);
    if (unit == 0) return out;
    if constexpr (sizeof(wchar_t) == 2) {
      out.push_back(static_cast<wchar_t>(unit));
    } else {
      // A surrogate pair is one character here; a lone surrogate becomes U+FFFD.
      if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < size) {
        const char16_t low = static_cast<char16_t>(p[i + 2] | p[i + 3] << 8);
        if (low >= 0xDC00 && low <= 0xDFFF) {
          out.push_back(static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00)));
          i += 2;
          continue;
        }
      }
      out.push_back(unit >= 0xD800 && unit <= 0xDFFF ? L'\uFFFD' : static_cast<wchar_t>(unit));
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<KioskUserRecord> DecodeKioskUserRecord(const BYTE* data, std::size_t size) {
  if (!data || size < 8) return std::nullopt;  // eight zero bytes: version 0
  const DWORD version = ReadU32(data);
  const DWORD field = ReadU32(data + 4);
  switch (version) {
    case 1:
      if (field == 0) return std::nullopt;
      return KioskUserRecord{};
    case 2:
    case 3: {
      if (field == 0) return std::nullopt;
      auto name = ReadTerminatedUtf16(data + 8, size - 8);
      if (!name || name->empty()) return std::nullopt;
      return KioskUserRecord{std::move(*name), version == 3 ? field : 0};
    }
    default:
      return std::nullopt;
  }
}
