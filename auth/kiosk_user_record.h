// The kiosk user record: who the kiosk logon component identified, left in the library's
// protected-data slot "VD_KIOSK_USERNAME". Little-endian:
//
//   +0  u32  version 1, 2 or 3
//   +4  u32  versions 1 and 2: non-zero when a person is present; version 3: the name format
//   +8  ...  versions 2 and 3: the account name, UTF-16, NUL-terminated
//
// A record shorter than 8 bytes reads as 8 zero bytes. The decoder never reads past the
// record: a name whose terminator is missing is no name.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "platform/win_types.h"

struct KioskUserRecord {
  std::wstring accountName;  // empty for version 1
  DWORD nameFormat = 0;      // 0 for versions 1 and 2
};

// What the record names; nothing when it gives the empty user: an unknown version, nobody
// present, a version 2 or 3 record without a name, or version 3 with format 0.
std::optional<KioskUserRecord> DecodeKioskUserRecord(const BYTE* data, std::size_t size);
