// Placeholder until the simulated IRegistry lands: every operation fails.
#pragma once
#pragma GCC diagnostic ignored "-Wunused-parameter"

#include "platform/registry.h"
#include "platform/sim/process.h"

namespace sim {

class ProcessRegistry : public platform::IRegistry {
 public:
  explicit ProcessRegistry(Process& p) : m_process(p) {}
  LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult) override { return {}; }
  LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass, DWORD dwOptions, REGSAM samDesired, LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult, LPDWORD lpdwDisposition) override { return {}; }
  LSTATUS RegCloseKey(HKEY hKey) override { return {}; }
  LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) override { return {}; }
  LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData, DWORD cbData) override { return {}; }
  LSTATUS RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) override { return {}; }
  LSTATUS RegDeleteKeyExW(HKEY hKey, LPCWSTR lpSubKey, REGSAM samDesired, DWORD Reserved) override { return {}; }
  LSTATUS RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey) override { return {}; }
  LSTATUS RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved, LPWSTR lpClass, LPDWORD lpcchClass, FILETIME* lpftLastWriteTime) override { return {}; }
  LSTATUS RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) override { return {}; }
  LSTATUS RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved, LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor, FILETIME* lpftLastWriteTime) override { return {}; }
  LSTATUS RegNotifyChangeKeyValue(HKEY hKey, BOOL bWatchSubtree, DWORD dwNotifyFilter, HANDLE hEvent, BOOL fAsynchronous) override { return {}; }
  BOOL IsWow64Process() override { return {}; }
  BOOL Is64BitWindows() override { return {}; }

 private:
  [[maybe_unused]] Process& m_process;
};

}  // namespace sim
