// Facts about the machine's readers and the agent's rights that the fingerprint and
// quick-action code decide on. Each asks afresh: nothing is cached.
//
//   if (!CReaderEnvironment::HasWBFReader(plat, api)) ... the suite's own acquisition ...
//   if (CReaderEnvironment::IsUserAdministrator(plat.Kernel())) ... administrator prompts ...
//
// Window thread; the library must be initialised for the library-backed answers to mean
// anything (a failing library gives the documented defaults).
#pragma once

#include "platform/platform.h"
#include "support/settings/host_settings.h"
#include "support/vdfp/vdfp_api.h"

class CReaderEnvironment {
 public:
  // HKLM key of the host service (see support/settings/host_settings.h).
  static constexpr const wchar_t* kHostKeyPath = HostSettings::kKeyPath;

  // The policy "MS_WINBIO_Compatibility" when its query succeeds (number form, default 1;
  // not 0 means yes); otherwise the REG_DWORD "WBFDevice" not 0. A "WBFDevice" of another
  // type counts as 0 and is traced.
  static bool HasWBFReader(platform::IPlatform& plat, CVDFPApi& api);
  // At least one reader is connected (the library's device count).
  static bool IsThereWorkingFpReader(CVDFPApi& api);
  // "MachineConfigured" (KwAppSettings), else an active authentication domain; no domains
  // (or no answer) counts as configured. A failing settings read raises its HRESULT.
  static bool IsMachineConfigured(platform::IPlatform& plat, CVDFPApi& api);
  // The process runs as LocalSystem or its token holds BUILTIN\Administrators. A failing
  // membership test counts as "no".
  static bool IsUserAdministrator(platform::IKernel& kernel);
};
