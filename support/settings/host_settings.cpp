#include "support/settings/host_settings.h"

#include "platform/handles.h"
#include "support/registry_read.h"
#include "support/trace/trace.h"

namespace HostSettings {

namespace {
// ERROR_DATATYPE_MISMATCH: a value of the wrong registry type.
constexpr HRESULT kWrongType = HRESULT_FROM_WIN32(1629L);
}  // namespace

CDwordValue ReadWBFDevice(platform::IRegistry& reg, VDTraceNS::CScope& ts) {
  platform::UniqueHKey key(reg);
  if (reg.RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKeyPath, 0, KEY_READ | support::SuiteView(reg),
                        key.put()) != ERROR_SUCCESS)
    return {};
  DWORD type = 0, value = 0, size = sizeof(value);
  const LSTATUS st = reg.RegQueryValueExW(key.get(), kWBFDevice, nullptr, &type,
                                          reinterpret_cast<BYTE*>(&value), &size);
  if (st == ERROR_FILE_NOT_FOUND) return {};
  if ((st != ERROR_SUCCESS && st != ERROR_MORE_DATA) || type != REG_DWORD ||
      size != sizeof(value)) {
    ts.Result("WBFDevice is not a REG_DWORD",
              st == ERROR_SUCCESS || st == ERROR_MORE_DATA ? kWrongType : HRESULT_FROM_WIN32(st));
    return {};
  }
  return {value, true};
}

}  // namespace HostSettings
