#include "support/vdnx_utils.h"

CVDNXUtils::CVDNXUtils(platform::IPlatform& plat)
    : m_lib(plat, "VDNXUtils.dll", &CDelayLoadLibrary::SystemDirectoryPath) {}

HRESULT CVDNXUtils::VDPlayEventSound(DWORD dwEvent) {
  return m_lib.Call<PFN_VDPlayEventSound>(kVDPlayEventSoundExport, 0, dwEvent);
}
