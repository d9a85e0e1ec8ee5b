#include "support/settings/settings_section.h"

#include "support/result_error.h"

std::wstring CSettingsSection::KeyPath(std::wstring_view section) {
  std::wstring path = kBasePath;
  if (path.empty() || path.back() != L'\\') path += L'\\';
  path += section;
  return path;
}

CSettingsSection::CSettingsSection(platform::IPlatform& plat, std::wstring_view section)
    : m_path(KeyPath(section)), m_get(plat, m_path), m_put(plat, m_path) {}

bool CSettingsSection::Get(const CBoolSetting& s) {
  bool v = s.def;
  ThrowIfFailed(m_get.GetBool(s.name, v));
  return v;
}

DWORD CSettingsSection::Get(const CDwordSetting& s) {
  DWORD v = s.def;
  ThrowIfFailed(m_get.GetDword(s.name, v));
  return v;
}

std::wstring CSettingsSection::Get(const CStringSetting& s) {
  std::wstring v = s.def ? s.def : L"";
  ThrowIfFailed(m_get.GetString(s.name, v));
  return v;
}

ULONGLONG CKwAppSettings::GetLastLogonPolicyTokens() {
  ULONGLONG v = 0;
  ThrowIfFailed(Reader().GetLastLogonPolicyTokens(v));
  return v;
}
