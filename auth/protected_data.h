// The authentication library's protected-data slots the agent reads and writes, and the
// entropy every one of them is protected with. The suite's logon components use the same
// value, so a record one of them writes opens here.
#pragma once

#include "support/vdfp/vdfpapi_types.h"

// The person a kiosk session's logon component identified (the kiosk user record).
inline constexpr const wchar_t* kVDKioskUserSlot = L"VD_KIOSK_USERNAME";
// The fast-user-switch record a credential hands to the logon side.
inline constexpr const wchar_t* kVDFusDataSlot = L"VD_FUS_DATA";

// A fixed 16-byte value shared by writers and readers of the slots.
inline constexpr BYTE kVDProtectedDataEntropyBytes[16] = {
    0x5A, 0x1C, 0x7E, 0x93, 0x0B, 0xD4, 0x46, 0x21, 0xA8, 0x6F, 0x3D, 0xC2, 0x95, 0x17, 0xE0, 0x4B};

// The entropy as the library takes it. The library does not write through the pointer.
inline VDFP_DATA_BLOB VDProtectedDataEntropy() {
  return VDFP_DATA_BLOB{sizeof(kVDProtectedDataEntropyBytes),
                        const_cast<BYTE*>(kVDProtectedDataEntropyBytes)};
}
