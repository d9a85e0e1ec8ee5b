#include "support/settings/user_settings_put.h"

#include "support/registry_read.h"
#include "support/settings/settings_names.h"

CUserSettingsPut::CUserSettingsPut(platform::IPlatform& plat, const std::wstring& keyPath)
    : m_reg(plat.Registry()), m_key(m_reg) {
  const REGSAM access = KEY_WRITE | support::SuiteView(m_reg);
  LSTATUS s = m_reg.RegOpenKeyExW(HKEY_CURRENT_USER, keyPath.c_str(), 0, access, m_key.put());
  if (s == ERROR_FILE_NOT_FOUND)
    s = m_reg.RegCreateKeyExW(HKEY_CURRENT_USER, keyPath.c_str(), 0, nullptr,
                              REG_OPTION_NON_VOLATILE, access, nullptr, m_key.put(), nullptr);
  m_status = HRESULT_FROM_WIN32(static_cast<unsigned long>(s));
}

void CUserSettingsPut::Write(const wchar_t* name, DWORD type, const BYTE* data, DWORD size) {
  if (FAILED(m_status)) return;
  m_reg.RegSetValueExW(m_key.get(), name, 0, type, data, size);
}

void CUserSettingsPut::SetBool(const wchar_t* name, bool value) { SetDword(name, value ? 1 : 0); }

void CUserSettingsPut::SetDword(const wchar_t* name, DWORD value) {
  Write(name, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

void CUserSettingsPut::SetString(const wchar_t* name, const std::wstring& value) {
  // Registry strings are counted in bytes of the platform's WCHAR, terminator included.
  Write(name, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

void CUserSettingsPut::SetLastLogonPolicyTokens(ULONGLONG value) {
  BYTE bytes[8];
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<BYTE>(value >> (8 * i));
  Write(SettingNames::kLastLogonPolicyTokens, REG_BINARY, bytes, sizeof(bytes));
}
