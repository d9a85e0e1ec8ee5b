#include "support/guid_string.h"

#include <cwchar>

namespace support {

std::wstring GuidToString(const GUID& g) {
  wchar_t buf[39];
  std::swprintf(buf, sizeof(buf) / sizeof(buf[0]),
                L"{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(g.Data1), static_cast<unsigned>(g.Data2),
                static_cast<unsigned>(g.Data3), g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3],
                g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return buf;
}

}  // namespace support
