// A settings section: the key "SOFTWARE\Veridane\Applications\<section>", read in layers
// (policy, HKCU, HKLM, HKLM 32-bit view, the policy's default) and written to HKCU only.
// Sections are built on the stack for one step and thrown away; none is kept.
//
//   CKwAppSettings kw(plat);
//   const bool show = kw.Get(SettingNames::KwAppSettings::kShowTaskbarIcon);   // table default
//   DWORD n = 3;                                     // a caller's own default
//   ThrowIfFailed(kw.GetDword(L"LogonCount", n));    // S_OK found, S_FALSE absent
//   kw.SetOOBEPassed();
//
// The HRESULT getters keep the caller's preset value when nothing is found and return a
// failure only for an exception caught inside the read; the table getters (Get(setting))
// and the fixed accessors raise such a failure as CResultError.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"
#include "support/settings/settings_names.h"
#include "support/settings/user_settings_get.h"
#include "support/settings/user_settings_put.h"

class CSettingsSection {
 public:
  static constexpr const wchar_t* kBasePath = L"SOFTWARE\\Veridane\\Applications";

  // `section` may name a sub-key, as "KwAppSettings\QuickActions".
  CSettingsSection(platform::IPlatform& plat, std::wstring_view section);
  // The section's key path under HKCU and HKLM.
  static std::wstring KeyPath(std::wstring_view section);

  const std::wstring& Path() const { return m_path; }
  bool IsWritable() const { return m_put.IsWritable(); }
  CUserSettingsGet& Reader() { return m_get; }
  CUserSettingsPut& Writer() { return m_put; }

  HRESULT GetBool(const wchar_t* name, bool& value) { return m_get.GetBool(name, value); }
  HRESULT GetDword(const wchar_t* name, DWORD& value) { return m_get.GetDword(name, value); }
  HRESULT GetString(const wchar_t* name, std::wstring& value) {
    return m_get.GetString(name, value);
  }
  void SetBool(const wchar_t* name, bool value) { m_put.SetBool(name, value); }
  void SetDword(const wchar_t* name, DWORD value) { m_put.SetDword(name, value); }
  void SetString(const wchar_t* name, const std::wstring& value) { m_put.SetString(name, value); }

  bool Get(const CBoolSetting& s);
  DWORD Get(const CDwordSetting& s);
  std::wstring Get(const CStringSetting& s);
  void Set(const CBoolSetting& s, bool value) { m_put.SetBool(s.name, value); }
  void Set(const CDwordSetting& s, DWORD value) { m_put.SetDword(s.name, value); }
  void Set(const CStringSetting& s, const std::wstring& value) { m_put.SetString(s.name, value); }

 private:
  std::wstring m_path;
  CUserSettingsGet m_get;
  CUserSettingsPut m_put;
};

class CKwAppSettings : public CSettingsSection {
 public:
  explicit CKwAppSettings(platform::IPlatform& plat)
      : CSettingsSection(plat, SettingNames::KwAppSettings::kSection) {}

  // The credential-type mask last suggested to the user; 0 when never stored.
  ULONGLONG GetLastLogonPolicyTokens();
  void SetLastLogonPolicyTokens(ULONGLONG mask) { Writer().SetLastLogonPolicyTokens(mask); }
  void SetOOBEPassed() { Set(SettingNames::KwAppSettings::kOOBEPassed, true); }
  // The console hotkey, "Ctrl+Win+72" by default.
  std::wstring GetOpenSecurityManager() {
    return Get(SettingNames::KwAppSettings::kOpenSecurityManager);
  }
  // "%Y-%m-%d", "1899-12-30" by default.
  std::wstring GetNaggingPeriodTimestamp() {
    return Get(SettingNames::KwAppSettings::kNaggingPeriodTimestamp);
  }
};

class CAgentSettings : public CSettingsSection {
 public:
  explicit CAgentSettings(platform::IPlatform& plat)
      : CSettingsSection(plat, SettingNames::Agent::kSection) {}

  bool GetReenrollmentPromptDoNotBotherAgain() {
    return Get(SettingNames::Agent::kReenrollmentPromptDoNotBotherAgain);
  }
};
