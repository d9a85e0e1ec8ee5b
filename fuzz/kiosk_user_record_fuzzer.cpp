// libFuzzer target for the kiosk user record decoder: any bytes another program left in the
// protected-data slot must decode to nothing or to a name that lies wholly inside the record,
// ends at its terminator and carries the format only for version 3.
#include <cstddef>
#include <cstdint>
#include <string>

#include "auth/kiosk_user_record.h"

namespace {

// The UTF-16LE bytes of a decoded name, as the record would hold them.
std::u16string ToUtf16(const std::wstring& s) {
  std::u16string out;
  for (wchar_t c : s) {
    const auto u = static_cast<std::uint32_t>(c);
    if (u > 0xFFFF) {
      out.push_back(static_cast<char16_t>(0xD800 + ((u - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((u - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(u));
    }
  }
  return out;
}

std::uint32_t U32(const std::uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto record = DecodeKioskUserRecord(data, size);
  if (!record) return 0;
  if (size < 8) __builtin_trap();  // a short record names nobody
  const std::uint32_t version = U32(data);
  if (version == 1) {
    if (!record->accountName.empty() || record->nameFormat != 0) __builtin_trap();
    return 0;
  }
  if (version != 2 && version != 3) __builtin_trap();
  if (record->accountName.empty()) __builtin_trap();
  if (record->nameFormat != (version == 3 ? U32(data + 4) : 0)) __builtin_trap();
  if (record->accountName.find(L'\0') != std::wstring::npos) __builtin_trap();
  const std::u16string units = ToUtf16(record->accountName);
  // The name and its terminator are inside the record.
  if (8 + 2 * (units.size() + 1) > size) __builtin_trap();
  for (std::size_t i = 0; i < units.size(); ++i) {
    const char16_t stored = static_cast<char16_t>(data[8 + 2 * i] | data[9 + 2 * i] << 8);
    // A lone surrogate reads back as the replacement character; everything else as stored.
    if (stored != units[i] && units[i] != u'\uFFFD') __builtin_trap();
  }
  if (data[8 + 2 * units.size()] != 0 || data[9 + 2 * units.size()] != 0) __builtin_trap();
  return 0;
}
