// GUIDs in their registry form, "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper-case
// hexadecimal, as StringFromCLSID and StringFromGUID2 write them.
#pragma once

#include <string>

#include "platform/win_types.h"

namespace support {

std::wstring GuidToString(const GUID& guid);

}  // namespace support
