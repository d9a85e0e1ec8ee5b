#include "policy/startup_checks.h"

#include <string>

#include "platform/handles.h"
#include "support/settings/policy_settings.h"
#include "support/settings/settings_names.h"
#include "support/settings/settings_section.h"
#include "support/trace/trace.h"
#include "support/vdfp/vdfp_api.h"

namespace {

constexpr const wchar_t* kPasswordResetsKey =
    L"SOFTWARE\\Veridane\\Applications\\Agent\\PasswordResets";
// KEY_READ with the 32-bit view: the flags are written by a 32-bit component.
constexpr REGSAM kPasswordResetsAccess = 0x20219;

}  // namespace

bool IsLumeraStandaloneWksta(core::CAgentProcess& process) {
  VDTraceNS::CScope ts("IsLumeraStandaloneWksta");
  if (!process.StandaloneModeCache) {
    auto lib = GPO::PolicyLibrary(process.AuthLibrary());
    GPO::CPolicyItem item(lib, SettingNames::Policies::kStandaloneMode);
    process.StandaloneModeCache = SUCCEEDED(item.Query()) && GPO::get<bool>(item);
  }
  ts.Msg("returning %ld", static_cast<long>(*process.StandaloneModeCache ? 1 : 0));
  return *process.StandaloneModeCache;
}

void CheckUserPasswordReset(core::CAgentProcess& process, const CUser& user) {
  VDTraceNS::CScope ts("CheckUserPasswordReset");
  if (!user.IsValid()) return;
  const std::wstring sid = user.Sid();
  // The flag is a sub-key named by the SID: an empty name (or one with a separator) would
  // open the parent or another key, which must never be deleted.
  if (sid.empty() || sid.find(L'\\') != std::wstring::npos) {
    ts.Result("No SID for the user", static_cast<HRESULT>(0x80070523L));
    return;
  }
  platform::IRegistry& reg = process.Platform().Registry();
  platform::UniqueHKey resets(reg);
  LSTATUS err = reg.RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPasswordResetsKey, 0, kPasswordResetsAccess,
                                  resets.put());
  if (err != ERROR_SUCCESS) {
    ts.Result("Cannot open the PasswordResets registry key", HRESULT_FROM_WIN32(err));
    return;
  }
  {
    platform::UniqueHKey flag(reg);
    if (reg.RegOpenKeyExW(resets.get(), sid.c_str(), 0, kPasswordResetsAccess, flag.put()) !=
        ERROR_SUCCESS)
      return;
  }
  ts.Msg("Password reset is detected!");
  err = reg.RegDeleteKeyExW(resets.get(), sid.c_str(), KEY_WOW64_32KEY, 0);
  if (err != ERROR_SUCCESS) ts.Result("Cannot delete the flag", HRESULT_FROM_WIN32(err));
  CKwAppSettings(process.Platform())
      .Set(SettingNames::KwAppSettings::kUserEnrollmentComplete, false);
}
