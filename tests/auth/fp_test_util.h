// Machine descriptions and registry paths shared by the fingerprint tests.
#pragma once

#include "standins/vdfpapi/description.h"

namespace authtest {

inline constexpr const wchar_t* kHostKey = L"HKLM\\SOFTWARE\\Veridane\\VDHost";

// The default machine with the WBF compatibility policy set to `value`.
inline vdfp_standin::VdfpDescription WithWinbioPolicy(DWORD value) {
  auto d = vdfp_standin::VdfpDescription::Default();
  vdfp_standin::PolicySettingDesc s;
  s.name = L"MS_WINBIO_Compatibility";
  s.value.type = VDVAR_UINT32;
  s.value.number = value;
  d.policySettings.push_back(s);
  return d;
}

}  // namespace authtest
