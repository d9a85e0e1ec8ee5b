// The layered settings reader of one key under the suite's applications key.
//
//   CUserSettingsGet get(plat, L"SOFTWARE\\Veridane\\Applications\\KwAppSettings");
//   bool sound = true;                                  // the caller's default
//   ThrowIfFailed(get.GetBool(L"SoundFeedback", sound));  // S_OK found, S_FALSE absent
//
// For a value name N a read asks, in order, and the first that has N with a type the getter
// accepts answers:
//   1. the administrator's policy: HKCU "SOFTWARE\Policies\Veridane\Lumera" (a name with
//      backslashes is looked up under its prefix path), else the library's policy query with
//      the whole name; a library value applies here only with status S_OK;
//   2. HKCU <key>, 3. HKLM <key>, 4. HKLM <key> in the 32-bit view (64-bit Windows only);
//   5. a library value with status S_FALSE (the policy's default);
//   6. nothing: S_FALSE, the out-variable keeps the caller's default.
// A value of another registry type (or, for the 64-bit number, another size) is skipped.
// A failure code comes back only when an exception was caught inside the read.
//
// The registry keys are opened at the first read that reaches them and stay open while the
// object lives; the library binding is made at the first read.
//
// LastSource() says which of those layers answered the last read, for a report of where
// each effective value comes from:
//
//   DWORD n = 0;
//   get.GetDword(L"LogonCount", n);
//   if (get.LastSource() == SettingSource::Hklm) ...
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/handles.h"
#include "platform/platform.h"
#include "support/settings/policy_library.h"

class CVDFPApiWr;

// The layer that gave a read its value, in the order they are asked (5 and 6 last).
enum class SettingSource {
  PolicyKey,       // HKCU "SOFTWARE\Policies\Veridane\Lumera"
  LibraryPolicy,   // the library's policy query, status S_OK
  Hkcu,            // HKCU <key>
  Hklm,            // HKLM <key>, native view
  Hklm32,          // HKLM <key>, 32-bit view
  LibraryDefault,  // the library's policy query, status S_FALSE
  BuiltInDefault,  // nothing: the caller's default stays (also after a failed read)
};
// "PolicyKey", "LibraryPolicy", "HKCU", "HKLM", "HKLM32", "LibraryDefault", "Default".
const wchar_t* ToString(SettingSource s);

class CUserSettingsGet {
 public:
  static constexpr const wchar_t* kPoliciesPath = L"SOFTWARE\\Policies\\Veridane\\Lumera";

  CUserSettingsGet(platform::IPlatform& plat, std::wstring keyPath);
  ~CUserSettingsGet();
  CUserSettingsGet(const CUserSettingsGet&) = delete;
  CUserSettingsGet& operator=(const CUserSettingsGet&) = delete;

  // REG_DWORD (non-zero is true); policy types 1 (value 1 is true), 3 and 4 (non-zero).
  HRESULT GetBool(const wchar_t* name, bool& value);
  // REG_DWORD; policy types 3 and 4.
  HRESULT GetDword(const wchar_t* name, DWORD& value);
  // REG_SZ or REG_EXPAND_SZ, as stored (not expanded); policy type 2.
  HRESULT GetString(const wchar_t* name, std::wstring& value);
  // "LastLogonPolicyTokens": REG_BINARY of exactly 8 bytes (little-endian); policy types 9
  // and 10.
  HRESULT GetLastLogonPolicyTokens(ULONGLONG& value);

  // The layer that answered the last read; BuiltInDefault before any read.
  SettingSource LastSource() const { return m_lastSource; }

  const std::wstring& KeyPath() const { return m_keyPath; }
  // How many registry sources a read asks: 3 on 64-bit Windows, 2 on 32-bit Windows.
  std::size_t SourceCount() const { return m_sources.size(); }

 private:
  struct Source {
    HKEY root;
    REGSAM view;
    platform::UniqueHKey key;
    SettingSource source;
  };
  // What one getter accepts, and how it stores what it found.
  struct Getter {
    bool (*acceptsPolicyType)(DWORD type);
    std::function<void(const VDVARIANT&)> fromPolicy;
    // Reads the value from an open key; false when absent or of another type.
    std::function<bool(HKEY key, const wchar_t* name)> fromRegistry;
  };

  HRESULT Read(const wchar_t* name, const Getter& getter);
  // `fromKey` tells whether the HKCU policies key answered (else the library did).
  HRESULT PolicyStep(const wchar_t* name, VDFP_POLICY_ITEM& item, bool& fromKey);
  bool ReadPolicyKey(const wchar_t* name, VDFP_POLICY_ITEM& item);
  HKEY SourceKey(Source& s);
  GPO::IPolicyLibrary& Library();

  platform::IPlatform& m_plat;
  std::wstring m_keyPath;
  std::vector<Source> m_sources;
  std::unique_ptr<CVDFPApiWr> m_api;
  std::unique_ptr<GPO::IPolicyLibrary> m_lib;
  SettingSource m_lastSource = SettingSource::BuiltInDefault;
};
