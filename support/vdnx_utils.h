// The suite's utility library "VDNXUtils.dll" (system directory): event sounds. Loaded on
// the first call; a missing library or entry point is traced and reported (0x8007007E,
// 0x8007007F) and nothing plays.
//
//   CVDNXUtils utils(plat);
//   utils.VDPlayEventSound(VD_SOUND_SUCCESS);
#pragma once

#include "platform/platform.h"
#include "support/delay_load.h"
#include "support/suite_components.h"

inline constexpr DWORD VD_SOUND_SUCCESS = 1;
inline constexpr DWORD VD_SOUND_FAILURE = 2;
inline constexpr DWORD VD_SOUND_BAD_QUALITY = 3;

class CVDNXUtils {
 public:
  explicit CVDNXUtils(platform::IPlatform& plat);

  HRESULT VDPlayEventSound(DWORD dwEvent);

 private:
  CDelayLoadLibrary m_lib;
};
