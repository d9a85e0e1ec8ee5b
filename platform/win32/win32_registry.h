// Registry on Windows: ADVAPI32 straight through. Views are the caller's KEY_WOW64_* bits.
#pragma once

#include "platform/registry.h"

namespace platform::win32 {

class CWin32Registry final : public IRegistry {
 public:
  LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                        PHKEY phkResult) override;
  LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass,
                          DWORD dwOptions, REGSAM samDesired,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                          LPDWORD lpdwDisposition) override;
  LSTATUS RegCloseKey(HKEY hKey) override;
  LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                           LPBYTE lpData, LPDWORD lpcbData) override;
  LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType,
                         const BYTE* lpData, DWORD cbData) override;
  LSTATUS RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) override;
  LSTATUS RegDeleteKeyExW(HKEY hKey, LPCWSTR lpSubKey, REGSAM samDesired, DWORD Reserved) override;
  LSTATUS RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey) override;
  LSTATUS RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName,
                        LPDWORD lpReserved, LPWSTR lpClass, LPDWORD lpcchClass,
                        FILETIME* lpftLastWriteTime) override;
  LSTATUS RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName,
                        LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                        LPDWORD lpcbData) override;
  LSTATUS RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
                           LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                           LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                           LPDWORD lpcbSecurityDescriptor, FILETIME* lpftLastWriteTime) override;
  LSTATUS RegNotifyChangeKeyValue(HKEY hKey, BOOL bWatchSubtree, DWORD dwNotifyFilter,
                                  HANDLE hEvent, BOOL fAsynchronous) override;
  BOOL IsWow64Process() override;
  BOOL Is64BitWindows() override;
};

}  // namespace platform::win32
