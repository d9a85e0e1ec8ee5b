#include "support/settings/logon_settings.h"

#include "platform/handles.h"
#include "support/result_error.h"
#include "support/settings/settings_section.h"
#include "support/trace/trace.h"

std::wstring LogonSettings::KeyPath() {
  DWORD session = 0;
  auto& k = m_plat.Kernel();
  if (!m_plat.Sessions().ProcessIdToSessionId(k.GetCurrentProcessId(), &session))
    throw CResultError(HRESULT_FROM_WIN32(k.GetLastError()));
  std::wstring path = CSettingsSection::kBasePath;
  path += L"\\Logon\\";
  path += std::to_wstring(session);
  return path;
}

namespace {
// Reads at most `size` bytes of a value of the logon record; false when anything is missing.
bool ReadLogonValue(platform::IRegistry& reg, const std::wstring& path, const wchar_t* name,
                    void* data, DWORD size, DWORD* type) {
  platform::UniqueHKey key(reg);
  if (reg.RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS)
    return false;
  DWORD cb = size;
  return reg.RegQueryValueExW(key.get(), name, nullptr, type, static_cast<BYTE*>(data), &cb) ==
         ERROR_SUCCESS;
}
}  // namespace

DWORD LogonSettings::GetUlong(const wchar_t* name) {
  VDTraceNS::CScope ts("LogonSettings::GetUlong");
  DWORD value = 0, type = REG_NONE;
  // A value of another type is not a number the logon component left.
  if (!ReadLogonValue(m_plat.Registry(), KeyPath(), name, &value, sizeof(value), &type) ||
      type != REG_DWORD)
    value = 0;
  ts.Msg("%ls: %08lX", name, static_cast<unsigned long>(value));
  return value;
}

ULONGLONG LogonSettings::GetUlong64() {
  VDTraceNS::CScope ts("LogonSettings::GetUlong64");
  BYTE bytes[8] = {};
  ULONGLONG value = 0;
  DWORD type = REG_NONE;
  if (ReadLogonValue(m_plat.Registry(), KeyPath(), kMethods, bytes, sizeof(bytes), &type)) {
    // Little-endian, as the logon component stores it; a shorter value fills the low bytes.
    for (int i = 7; i >= 0; --i) value = (value << 8) | bytes[i];
  }
  ts.Msg("%ls: %016llX", kMethods, static_cast<unsigned long long>(value));
  return value;
}
