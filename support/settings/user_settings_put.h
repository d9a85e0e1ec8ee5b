// The per-user settings writer: the HKCU key of a settings section, opened (or created) at
// construction. Machine-wide values are never written. When the key cannot be opened or
// created every setter does nothing; the result of each write is not checked, as a
// preference that cannot be stored is not worth failing for.
//
//   CUserSettingsPut put(plat, L"SOFTWARE\\Veridane\\Applications\\KwAppSettings");
//   if (put.IsWritable()) put.SetDword(L"LogonCount", 4);
#pragma once

#include <string>

#include "platform/handles.h"
#include "platform/platform.h"

class CUserSettingsPut {
 public:
  CUserSettingsPut(platform::IPlatform& plat, const std::wstring& keyPath);

  // The outcome of opening or creating the key (failures as HRESULT_FROM_WIN32).
  HRESULT Status() const { return m_status; }
  bool IsWritable() const { return SUCCEEDED(m_status); }

  // REG_DWORD of 4 bytes, 0 or 1.
  void SetBool(const wchar_t* name, bool value);
  // REG_DWORD of 4 bytes.
  void SetDword(const wchar_t* name, DWORD value);
  // REG_SZ with its terminating zero.
  void SetString(const wchar_t* name, const std::wstring& value);
  // "LastLogonPolicyTokens" as REG_BINARY of 8 bytes, little-endian.
  void SetLastLogonPolicyTokens(ULONGLONG value);

 private:
  void Write(const wchar_t* name, DWORD type, const BYTE* data, DWORD size);

  platform::IRegistry& m_reg;
  platform::UniqueHKey m_key;
  HRESULT m_status = S_OK;
};
