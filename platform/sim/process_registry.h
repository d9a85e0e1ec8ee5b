// IRegistry of one simulated process: its key handles, their granted access, and the view
// each call resolves in.
//
// The view: a call's KEY_WOW64_32KEY / KEY_WOW64_64KEY picks it, otherwise the process's
// own (32-bit under WOW64); on 32-bit Windows the flags change nothing. HKEY_CURRENT_USER
// is HKEY_USERS\<SID of the process's session user>; HKEY_CLASSES_ROOT is
// HKLM\SOFTWARE\Classes. Key security is not modelled: every open is granted what it asks
// for, and later calls are checked against that (a query on a key opened for KEY_SET_VALUE
// only is ERROR_ACCESS_DENIED).
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/registry.h"
#include "platform/sim/process.h"
#include "platform/sim/registry_store.h"

namespace sim {

class ProcessRegistry : public platform::IRegistry {
 public:
  explicit ProcessRegistry(Process& p);
  ~ProcessRegistry() override;

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

  size_t OpenKeyCount() const;

 private:
  struct KeyHandle {
    RegistryStore::NodePtr node;
    REGSAM access = 0;
    bool view32 = false;  // the view the key was opened in
    uint64_t owner = 0;   // identifies this handle's notification watches
  };

  // Resolves a handle (predefined or opened); ERROR_INVALID_HANDLE when unknown.
  LSTATUS Resolve(HKEY hKey, KeyHandle* out);
  // The view of a call: ERROR_INVALID_PARAMETER when both view flags are given.
  LSTATUS ViewOf(REGSAM sam, bool* view32) const;
  HKEY AddHandle(RegistryStore::NodePtr node, REGSAM access, bool view32);
  static REGSAM MapAccess(REGSAM sam);

  Process& m_process;
  RegistryStore& m_store;
  mutable std::mutex m_mu;
  std::map<HKEY, KeyHandle> m_keys;
  // Keys watched through predefined handles (HKEY_CURRENT_USER and the like).
  std::vector<std::pair<RegistryStore::NodePtr, uint64_t>> m_predefinedWatches;
};

}  // namespace sim
