// Releasing the tagged value of a policy item. Strings and blobs are blocks of the
// authentication library, arrays a block of variants that may hold blocks themselves; all
// go back through the library's buffer release.
//
//   VDFP_POLICY_ITEM item{};  item.pwszName = L"StandaloneMode";
//   lib.GetPolicySettingsEx(1, &item);
//   ... read item.Value ...
//   CVDVariant::Clear(item.Value, lib);   // type and payload are zero afterwards
#pragma once

#include "support/settings/policy_library.h"

class CVDVariant {
 public:
  // Releases what the variant owns (array elements first, then the array block) and zeroes
  // its type and payload. Types this code does not know (12 and above) are only zeroed:
  // what their payload means is unknown, so nothing is released.
  static void Clear(VDVARIANT& v, GPO::IPolicyLibrary& lib);
};
