// Registry operations, with Win32 meaning, argument order and LSTATUS results.
//
//   HKEY key = nullptr;
//   if (plat.Registry().RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Veridane\\Tracing", 0,
//                                     KEY_READ, &key) == ERROR_SUCCESS) { ... RegCloseKey(key); }
//
// Prefer the RAII `UniqueHKey` of handles.h over a raw RegCloseKey in logic.
//
// String data (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) is counted in bytes of WCHAR units, as
// on Windows; callers size buffers with sizeof(WCHAR), never with a literal 2.
#pragma once

#include "platform/win_types.h"

namespace platform {

class IRegistry {
 public:
  virtual ~IRegistry() = default;

  virtual LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                PHKEY phkResult) = 0;
  virtual LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass,
                                  DWORD dwOptions, REGSAM samDesired,
                                  LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                                  LPDWORD lpdwDisposition) = 0;
  virtual LSTATUS RegCloseKey(HKEY hKey) = 0;

  // lpData null: only the type and size are returned. A buffer too small gives
  // ERROR_MORE_DATA with the needed size in *lpcbData.
  virtual LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved,
                                   LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) = 0;
  virtual LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType,
                                 const BYTE* lpData, DWORD cbData) = 0;
  virtual LSTATUS RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) = 0;
  // Deletes a key without sub-keys; samDesired chooses the view (KEY_WOW64_32KEY/64KEY).
  virtual LSTATUS RegDeleteKeyExW(HKEY hKey, LPCWSTR lpSubKey, REGSAM samDesired,
                                  DWORD Reserved) = 0;
  // Deletes the sub-key (or, with a null sub-key, the contents of hKey) and everything below.
  virtual LSTATUS RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey) = 0;

  // Enumeration by index; ERROR_NO_MORE_ITEMS past the end. Name sizes are in characters.
  virtual LSTATUS RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName,
                                LPDWORD lpReserved, LPWSTR lpClass, LPDWORD lpcchClass,
                                FILETIME* lpftLastWriteTime) = 0;
  virtual LSTATUS RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName,
                                LPDWORD lpcchValueName, LPDWORD lpReserved, LPDWORD lpType,
                                LPBYTE lpData, LPDWORD lpcbData) = 0;
  virtual LSTATUS RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, LPDWORD lpcchClass,
                                   LPDWORD lpReserved, LPDWORD lpcSubKeys,
                                   LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                                   LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen,
                                   LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                                   FILETIME* lpftLastWriteTime) = 0;

  // Asynchronous notification only (fAsynchronous TRUE): hEvent is signalled once on the
  // next change matching dwNotifyFilter; call again to re-arm. Closing the key signals the
  // event too (that is how a watcher thread is stopped). A deleted key does not re-arm.
  virtual LSTATUS RegNotifyChangeKeyValue(HKEY hKey, BOOL bWatchSubtree, DWORD dwNotifyFilter,
                                          HANDLE hEvent, BOOL fAsynchronous) = 0;

  // True when this is a 32-bit process on 64-bit Windows (IsWow64Process on the current
  // process). A 64-bit process answers false.
  virtual BOOL IsWow64Process() = 0;
  // True when the operating system is 64-bit, whatever the process's own bitness.
  virtual BOOL Is64BitWindows() = 0;
};

}  // namespace platform
