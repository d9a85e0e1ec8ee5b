// The per-session logon record the logon component leaves for the agent, under HKLM
// "SOFTWARE\Veridane\Applications\Logon\<session id>" (default view). Read-only; the key is
// opened and closed again on every call, and anything missing reads as 0.
//
//   LogonSettings logon(plat);
//   const ULONGLONG methods = logon.GetUlong64();          // "Methods"
//   if (logon.GetUlong(L"ResetSettings")) ...
//
// The session is the calling process's, asked at every call; failing to learn it raises
// CResultError with the Windows error.
#pragma once

#include <string>

#include "platform/platform.h"

class LogonSettings {
 public:
  static constexpr const wchar_t* kMethods = L"Methods";
  static constexpr const wchar_t* kChangePolicy = L"ChangePolicy";
  static constexpr const wchar_t* kResetSettings = L"ResetSettings";

  explicit LogonSettings(platform::IPlatform& plat) : m_plat(plat) {}

  // A 32-bit value (REG_DWORD); 0 when the key or the value is missing.
  DWORD GetUlong(const wchar_t* name);
  // "Methods", the credential types used to log on to this session: up to 8 bytes read
  // whatever the registry type; 0 when missing.
  ULONGLONG GetUlong64();

  // "SOFTWARE\Veridane\Applications\Logon\<session id>" of this process's session.
  std::wstring KeyPath();

 private:
  platform::IPlatform& m_plat;
};
