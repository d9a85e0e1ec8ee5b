#include "auth/reader_environment.h"

#include "platform/handles.h"
#include "support/settings/host_settings.h"
#include "support/settings/policy_settings.h"
#include "support/settings/settings_names.h"
#include "support/settings/settings_section.h"
#include "support/trace/trace.h"

namespace {

bool IsMember(platform::IKernel& kernel, WELL_KNOWN_SID_TYPE type, const char* what,
              VDTraceNS::CScope& ts) {
  BYTE sid[SECURITY_MAX_SID_SIZE] = {};
  DWORD cb = sizeof(sid);
  if (!kernel.CreateWellKnownSid(type, nullptr, sid, &cb)) {
    ts.Result(what, HRESULT_FROM_WIN32(kernel.GetLastError()));
    return false;
  }
  BOOL member = FALSE;
  if (!kernel.CheckTokenMembership(nullptr, sid, &member)) {
    ts.Result(what, HRESULT_FROM_WIN32(kernel.GetLastError()));
    return false;
  }
  return member != FALSE;
}

}  // namespace

bool CReaderEnvironment::HasWBFReader(platform::IPlatform& plat, CVDFPApi& api) {
  VDTraceNS::CScope ts("HasWBFReader");
  auto lib = GPO::PolicyLibrary(api);
  GPO::CPolicyItem item(lib, SettingNames::Policies::kMsWinbioCompatibility);
  if (SUCCEEDED(item.Query())) {
    const DWORD v = GPO::get<DWORD>(item);
    ts.Msg("MS_WINBIO_Compatibility=%d", static_cast<int>(v));
    return v != 0;
  }
  const DWORD v = HostSettings::ReadWBFDevice(plat.Registry(), ts).value;
  ts.Msg("WBFDevice=%d", static_cast<int>(v));
  return v != 0;
}

bool CReaderEnvironment::IsThereWorkingFpReader(CVDFPApi& api) {
  VDTraceNS::CScope ts("IsThereWorkingFpReader");
  DWORD count = 0;
  const HRESULT hr = api.VDFPEnumerateDevices(&count, nullptr);
  ts.Result("VDFPEnumerateDevices", hr);
  if (FAILED(hr)) count = 0;
  ts.Msg("ulDevCount = %u", static_cast<unsigned>(count));
  return count > 0;
}

bool CReaderEnvironment::IsMachineConfigured(platform::IPlatform& plat, CVDFPApi& api) {
  VDTraceNS::CScope ts("IsMachineConfigured");
  bool configured = CKwAppSettings(plat).Get(SettingNames::KwAppSettings::kMachineConfigured);
  if (!configured) {
    DWORD count = 0;
    CVDFPBuffer<LPWSTR> names(api);
    const HRESULT hr = api.VDFPAuthDomainEnum(&count, names.put());
    if (FAILED(hr) || count == 0 || !names) {
      ts.Msg("No auth domains were found");
      configured = true;
    } else {
      ts.Msg("%d auth domains were found", static_cast<int>(count));
      for (DWORD i = 0; i < count && !configured; ++i) {
        if (!names[i]) continue;
        CVDFPBuffer<VDFP_AUTH_DOMAIN_INFO_0> info(api);
        if (SUCCEEDED(
                api.VDFPAuthDomainGetInfo(names[i], VDFP_AUTH_DOMAIN_INFO_CLASS, info.put())) &&
            info && info->dwState == VDFP_AUTH_DOMAIN_ACTIVE) {
          ts.Msg("%ls auth domains is enabled", names[i]);
          configured = true;
        }
      }
    }
  }
  ts.Msg("Machine is %s.", configured ? "configured" : "not configured");
  return configured;
}

bool CReaderEnvironment::IsUserAdministrator(platform::IKernel& kernel) {
  VDTraceNS::CScope ts("IsUserAdministrator");
  // LocalSystem first: its token does not list BUILTIN\Administrators as a group everywhere.
  const bool admin = IsMember(kernel, WinLocalSystemSid, "LocalSystem", ts) ||
                     IsMember(kernel, WinBuiltinAdministratorsSid, "BUILTIN\\Administrators", ts);
  ts.Msg("returning %d", admin ? 1 : 0);
  return admin;
}
