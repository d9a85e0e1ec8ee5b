#include "policy/ux_environment.h"

#include <string>
#include <vector>

#include "auth/reader_environment.h"
#include "platform/handles.h"
#include "policy/ole_date.h"
#include "support/registry_read.h"
#include "support/result_error.h"
#include "support/settings/policy_settings.h"
#include "support/settings/settings_names.h"
#include "support/settings/settings_section.h"
#include "support/trace/trace.h"
#include "support/vdfp/vdfp_api.h"

namespace ux_env {
namespace {

constexpr const wchar_t* kHPImageKey = L"Software\\Hewlett-Packard\\HP Image";
constexpr const wchar_t* kStateName = L"StateName";
constexpr const wchar_t* kImageStateComplete = L"IMAGE_STATE_COMPLETE";
constexpr DWORD kMaxStateChars = 260;
// A date is ten characters; anything much longer is not one.
constexpr DWORD kMaxTimestampChars = 64;

// What a string value holds, read without trusting its stored type, size or terminator.
enum class RawString { kAbsent, kGood, kWrongType, kTooLong, kUnterminated };

struct RawRead {
  RawString status = RawString::kAbsent;
  std::wstring value;
};

// A REG_SZ of at most `maxChars` characters that ends with a zero inside its stored size.
// The buffer is as large as the stored value and nothing after it is read.
RawRead ReadTerminatedString(platform::IRegistry& reg, HKEY key, const wchar_t* name,
                             DWORD maxChars) {
  RawRead out;
  DWORD type = REG_NONE, size = 0;
  if (reg.RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return out;
  if (type != REG_SZ) {
    out.status = RawString::kWrongType;
    return out;
  }
  if (size > (maxChars + 1) * sizeof(wchar_t)) {
    out.status = RawString::kTooLong;
    return out;
  }
  std::vector<wchar_t> buf(size / sizeof(wchar_t) + 1, L'\0');
  DWORD cb = size;
  const LSTATUS st =
      reg.RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf.data()), &cb);
  if (st == ERROR_MORE_DATA) {
    out.status = RawString::kTooLong;  // grew past the first answer
    return out;
  }
  if (st != ERROR_SUCCESS) return out;
  if (type != REG_SZ) {
    out.status = RawString::kWrongType;
    return out;
  }
  // Only the units the value really holds count: the spare zero at the end is ours.
  const std::size_t units = cb / sizeof(wchar_t);
  std::size_t len = 0;
  while (len < units && buf[len] != L'\0') ++len;
  if (len == units || cb % sizeof(wchar_t) != 0) {
    out.status = RawString::kUnterminated;
    return out;
  }
  out.status = RawString::kGood;
  out.value.assign(buf.data(), len);
  return out;
}

const char* Describe(RawString s) {
  switch (s) {
    case RawString::kWrongType:
      return "not a REG_SZ";
    case RawString::kTooLong:
      return "too long";
    case RawString::kUnterminated:
      return "not terminated";
    default:
      return "absent";
  }
}

// The stored per-user value of a KwAppSettings name, opened the way the settings reader
// opens it.
platform::UniqueHKey OpenUserSection(platform::IRegistry& reg) {
  platform::UniqueHKey key(reg);
  const std::wstring path = CSettingsSection::KeyPath(SettingNames::KwAppSettings::kSection);
  reg.RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ | support::SuiteView(reg),
                    key.put());
  return key;
}

std::wstring Today(platform::IKernel& kernel) {
  SYSTEMTIME st{};
  kernel.GetLocalTime(&st);
  return oledate::Format(oledate::FromCivil(st.wYear, st.wMonth, st.wDay));
}

}  // namespace

int IsHPImageReady(platform::IPlatform& plat) {
  VDTraceNS::CScope ts("IsHPImageReady");
  platform::IRegistry& reg = plat.Registry();
  platform::UniqueHKey key(reg);
  if (reg.RegOpenKeyExW(HKEY_LOCAL_MACHINE, kHPImageKey, 0, KEY_READ | support::SuiteView(reg),
                        key.put()) != ERROR_SUCCESS) {
    ts.Msg("No HP Image, ready");
    return 0;
  }
  const RawRead state = ReadTerminatedString(reg, key.get(), kStateName, kMaxStateChars);
  if (state.status != RawString::kGood && state.status != RawString::kAbsent) {
    // A state that cannot be read is no completed image.
    ts.Result(("StateName is " + std::string(Describe(state.status))).c_str(),
              HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
    return 1;
  }
  ts.Msg("OOBE image state: %ls", state.value.c_str());
  if (plat.Kernel().CompareStringOrdinal(state.value.c_str(), -1, kImageStateComplete, -1, TRUE) ==
      CSTR_EQUAL) {
    ts.Msg("HP Image is ready");
    return 2;
  }
  return 1;
}

bool IsOOBEPassed(core::CAgentProcess& process) {
  VDTraceNS::CScope ts("IsOOBEPassed");
  switch (IsHPImageReady(process.Platform())) {
    case 0:
      return true;
    case 2:
      break;
    default:
      return false;
  }
  const bool passed =
      CKwAppSettings(process.Platform()).Get(SettingNames::KwAppSettings::kOOBEPassed);
  if (!passed) ts.Msg("OOBE not passed");
  return passed;
}

int RegisterLogon(core::CAgentProcess& process) {
  VDTraceNS::CScope ts("CUXHandler<class CVdAgentMain>::RegisterLogon");
  platform::IPlatform& plat = process.Platform();
  CKwAppSettings kw(plat);
  const wchar_t* name = SettingNames::KwAppSettings::kLogonCount.name;

  DWORD stored = SettingNames::KwAppSettings::kLogonCount.def;
  bool malformed = false;
  {
    platform::IRegistry& reg = plat.Registry();
    platform::UniqueHKey key = OpenUserSection(reg);
    DWORD type = REG_NONE, size = 0;
    if (key &&
        reg.RegQueryValueExW(key.get(), name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS)
      malformed = type != REG_DWORD || size != sizeof(DWORD);
  }
  if (malformed) {
    // Not a count this agent wrote: start again from 0 rather than from a machine default.
    ts.Result("LogonCount is not a REG_DWORD, counted as 0",
              HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
  } else {
    ThrowIfFailed(kw.GetDword(name, stored));
  }

  // A count of 0xFFFFFFFF would wrap; the stored value is small unless someone else wrote it.
  int count = stored > 0x7FFFFFFEu ? 0x7FFFFFFE : static_cast<int>(stored);
  if (IsOOBEPassed(process)) {
    ++count;
    kw.SetDword(name, static_cast<DWORD>(count < 4 ? count : 4));
  }
  ts.Msg("LogonCount=%d", count);
  return count;
}

bool IsNaggingPostponed(core::CAgentProcess& process) {
  VDTraceNS::CScope ts("IsNaggingPostponed");
  platform::IPlatform& plat = process.Platform();

  SYSTEMTIME st{};
  plat.Kernel().GetLocalTime(&st);
  const DATE now = oledate::FromCivil(st.wYear, st.wMonth, st.wDay);
  ts.Msg("Logged: %ls", oledate::Format(now).c_str());

  const wchar_t* name = SettingNames::KwAppSettings::kNaggingPeriodTimestamp.name;
  {
    platform::IRegistry& reg = plat.Registry();
    platform::UniqueHKey key = OpenUserSection(reg);
    const RawRead stored =
        key ? ReadTerminatedString(reg, key.get(), name, kMaxTimestampChars) : RawRead{};
    if (stored.status != RawString::kGood && stored.status != RawString::kAbsent) {
      ts.Result(("NaggingPeriodTimestamp is " + std::string(Describe(stored.status))).c_str(),
                HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
      return false;
    }
  }
  const std::wstring last = CKwAppSettings(plat).GetNaggingPeriodTimestamp();
  ts.Msg("Last: %ls", last.c_str());

  DATE lastDate = 0;
  HRESULT hr =
      plat.Com().VarDateFromStr(last.c_str(), LOCALE_USER_DEFAULT, VAR_DATEVALUEONLY, &lastDate);
  if (FAILED(hr)) {
    ts.Result("VarDateFromStr", hr);
    return false;
  }
  if (!oledate::IsValid(lastDate)) {
    ts.Result("VarDateFromStr", DISP_E_TYPEMISMATCH);
    return false;
  }

  const wchar_t* policy = CReaderEnvironment::IsUserAdministrator(plat.Kernel())
                              ? SettingNames::Policies::kAdminNaggingPeriodReminder
                              : SettingNames::Policies::kUserNaggingPeriodReminder;
  auto lib = GPO::PolicyLibrary(process.AuthLibrary());
  GPO::CPolicyItem item(lib, policy);
  hr = item.Query();
  if (FAILED(hr)) {
    ts.Result("GPO::get", hr);
    return false;
  }
  const DWORD interval = GPO::get<DWORD>(item);
  ts.Msg("Interval: %d", static_cast<int>(interval));

  int days = 0;
  switch (interval) {
    case 2:
      days = 1;
      break;
    case 3:
      days = 7;
      break;
    case 4:
      days = 30;
      break;
    default:
      break;
  }
  const DATE threshold = oledate::DayOf(lastDate) + days;
  ts.Msg("Threshold: %ls", oledate::Format(threshold).c_str());
  const bool postponed = now < threshold;
  ts.Msg("Nagging postponed: %ls", postponed ? L"true" : L"false");
  return postponed;
}

void UpdateNaggingTimestamp(core::CAgentProcess& process) {
  VDTraceNS::CScope ts("UpdateNaggingTimestamp");
  platform::IPlatform& plat = process.Platform();
  CKwAppSettings(plat).Set(SettingNames::KwAppSettings::kNaggingPeriodTimestamp,
                           Today(plat.Kernel()));
}

QUERY_USER_NOTIFICATION_STATE CheckQuietTime(platform::IPlatform& plat) {
  VDTraceNS::CScope ts("CheckQuietTime");
  using PFN_SHQueryUserNotificationState =
      HRESULT(STDAPICALLTYPE*)(QUERY_USER_NOTIFICATION_STATE * pquns);
  QUERY_USER_NOTIFICATION_STATE state = QUNS_ACCEPTS_NOTIFICATIONS;
  platform::IModules& mods = plat.Modules();
  // Shell32 is loaded in every GUI process; a system without the entry (before Vista) has
  // no quiet time and always accepts notifications.
  if (HMODULE shell = mods.GetModuleHandleW(L"Shell32.dll")) {
    if (FARPROC proc = mods.GetProcAddress(shell, "SHQueryUserNotificationState")) {
      // Through void(*)(): function pointers convert to and from it without a cast warning.
      const auto query =
          reinterpret_cast<PFN_SHQueryUserNotificationState>(reinterpret_cast<void (*)()>(proc));
      const HRESULT hr = query(&state);
      if (FAILED(hr)) {
        ts.Result("SHQueryUserNotificationState", hr);
        throw CResultError(hr);
      }
    } else {
      ts.Msg("No SHQueryUserNotificationState in Shell32.dll");
    }
  } else {
    ts.Msg("Shell32.dll is not loaded");
  }
  ts.Msg("User notification state = %d", static_cast<int>(state));
  return state;
}

}  // namespace ux_env
