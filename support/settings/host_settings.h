// The host service's machine values that the agent reads: HKLM "SOFTWARE\Veridane\VDHost",
// in the suite's view (64-bit on 64-bit Windows). Shared by the reader checks and the
// settings report, so both read them alike.
#pragma once

#include "platform/registry.h"

namespace VDTraceNS {
class CScope;
}

namespace HostSettings {

inline constexpr const wchar_t* kKeyPath = L"SOFTWARE\\Veridane\\VDHost";
// Not 0: a Windows biometric framework reader is installed.
inline constexpr const wchar_t* kWBFDevice = L"WBFDevice";

struct CDwordValue {
  DWORD value = 0;
  bool found = false;
};

// "WBFDevice" as a REG_DWORD. Absent, or of another type or size (traced in `ts`), it is
// not found and 0: a string or a longer binary written by hand must not pass for a reader.
CDwordValue ReadWBFDevice(platform::IRegistry& reg, VDTraceNS::CScope& ts);

}  // namespace HostSettings
