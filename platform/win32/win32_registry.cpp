#include "platform/win32/win32_registry.h"

namespace platform::win32 {

LSTATUS CWin32Registry::RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions,
                                      REGSAM samDesired, PHKEY phkResult) {
  return ::RegOpenKeyExW(hKey, lpSubKey, ulOptions, samDesired, phkResult);
}

LSTATUS CWin32Registry::RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass,
                                        DWORD dwOptions, REGSAM samDesired,
                                        LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                                        LPDWORD lpdwDisposition) {
  return ::RegCreateKeyExW(hKey, lpSubKey, Reserved, lpClass, dwOptions, samDesired,
                           lpSecurityAttributes, phkResult, lpdwDisposition);
}

LSTATUS CWin32Registry::RegCloseKey(HKEY hKey) { return ::RegCloseKey(hKey); }

LSTATUS CWin32Registry::RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved,
                                         LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  return ::RegQueryValueExW(hKey, lpValueName, lpReserved, lpType, lpData, lpcbData);
}

LSTATUS CWin32Registry::RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType,
                                       const BYTE* lpData, DWORD cbData) {
  return ::RegSetValueExW(hKey, lpValueName, Reserved, dwType, lpData, cbData);
}

LSTATUS CWin32Registry::RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
  return ::RegDeleteValueW(hKey, lpValueName);
}

LSTATUS CWin32Registry::RegDeleteKeyExW(HKEY hKey, LPCWSTR lpSubKey, REGSAM samDesired,
                                        DWORD Reserved) {
  return ::RegDeleteKeyExW(hKey, lpSubKey, samDesired, Reserved);
}

LSTATUS CWin32Registry::RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey) {
  return ::RegDeleteTreeW(hKey, lpSubKey);
}

LSTATUS CWin32Registry::RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName,
                                      LPDWORD lpReserved, LPWSTR lpClass, LPDWORD lpcchClass,
                                      FILETIME* lpftLastWriteTime) {
  return ::RegEnumKeyExW(hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass,
                         lpftLastWriteTime);
}

LSTATUS CWin32Registry::RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName,
                                      LPDWORD lpcchValueName, LPDWORD lpReserved, LPDWORD lpType,
                                      LPBYTE lpData, LPDWORD lpcbData) {
  return ::RegEnumValueW(hKey, dwIndex, lpValueName, lpcchValueName, lpReserved, lpType, lpData,
                         lpcbData);
}

LSTATUS CWin32Registry::RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, LPDWORD lpcchClass,
                                         LPDWORD lpReserved, LPDWORD lpcSubKeys,
                                         LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                                         LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen,
                                         LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                                         FILETIME* lpftLastWriteTime) {
  return ::RegQueryInfoKeyW(hKey, lpClass, lpcchClass, lpReserved, lpcSubKeys, lpcbMaxSubKeyLen,
                            lpcbMaxClassLen, lpcValues, lpcbMaxValueNameLen, lpcbMaxValueLen,
                            lpcbSecurityDescriptor, lpftLastWriteTime);
}

LSTATUS CWin32Registry::RegNotifyChangeKeyValue(HKEY hKey, BOOL bWatchSubtree, DWORD dwNotifyFilter,
                                                HANDLE hEvent, BOOL fAsynchronous) {
  return ::RegNotifyChangeKeyValue(hKey, bWatchSubtree, dwNotifyFilter, hEvent, fAsynchronous);
}

BOOL CWin32Registry::IsWow64Process() {
  // Looked up by name: kernel32 of the oldest supported systems does not export it, and
  // there the answer is "not WOW64".
  using Fn = BOOL(WINAPI*)(HANDLE, PBOOL);
  HMODULE k32 = ::GetModuleHandleW(L"kernel32.dll");
  FARPROC proc = k32 ? ::GetProcAddress(k32, "IsWow64Process") : nullptr;
  if (!proc) return FALSE;
  BOOL wow64 = FALSE;
  auto fn = reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(proc));
  if (!fn(::GetCurrentProcess(), &wow64)) return FALSE;
  return wow64;
}

BOOL CWin32Registry::Is64BitWindows() {
#ifdef _WIN64
  return TRUE;  // a 64-bit process runs only on 64-bit Windows
#else
  return IsWow64Process();
#endif
}

}  // namespace platform::win32
