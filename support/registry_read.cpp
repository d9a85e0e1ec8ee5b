#include "support/registry_read.h"

#include <vector>

#include "platform/handles.h"

namespace support {

REGSAM SuiteView(platform::IRegistry& reg) { return reg.Is64BitWindows() ? KEY_WOW64_64KEY : 0; }

std::optional<DWORD> ReadDword(platform::IRegistry& reg, HKEY root, const wchar_t* path,
                               const wchar_t* name, REGSAM view) {
  platform::UniqueHKey key(reg);
  if (reg.RegOpenKeyExW(root, path, 0, KEY_READ | view, key.put()) != ERROR_SUCCESS)
    return std::nullopt;
  DWORD type = 0, value = 0, size = sizeof(value);
  if (reg.RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&value),
                           &size) != ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof(value))
    return std::nullopt;
  return value;
}

std::optional<std::wstring> ReadString(platform::IRegistry& reg, HKEY root, const wchar_t* path,
                                       const wchar_t* name, REGSAM view, DWORD maxChars) {
  platform::UniqueHKey key(reg);
  if (reg.RegOpenKeyExW(root, path, 0, KEY_READ | view, key.put()) != ERROR_SUCCESS)
    return std::nullopt;
  // Room for `maxChars` characters and the terminator the writer normally stores with them;
  // a larger value is refused whatever it holds.
  std::vector<wchar_t> buf(maxChars + 1, L'\0');
  DWORD type = 0, size = static_cast<DWORD>(buf.size() * sizeof(wchar_t));
  if (reg.RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buf.data()),
                           &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ))
    return std::nullopt;
  // The stored string need not be terminated; never read past what was returned. A zero
  // inside ends it, as it does for every Windows program that reads the value: what follows
  // must not make a name or path differ from the one the rest of the system sees.
  const std::size_t units = size / sizeof(wchar_t);
  std::size_t len = 0;
  while (len < units && buf[len] != L'\0') ++len;
  if (len > maxChars) return std::nullopt;  // unterminated and longer than allowed
  return std::wstring(buf.data(), len);
}

}  // namespace support
