// A registry that hands every call to another one: the base of test doubles that change or
// watch a few calls and leave the rest to the simulated machine.
//
//   struct CountingRegistry : testing_support::ForwardingRegistry {
//     using ForwardingRegistry::ForwardingRegistry;
//     int closes = 0;
//     LSTATUS RegCloseKey(HKEY k) override { ++closes; return inner.RegCloseKey(k); }
//   };
#pragma once

#include "platform/registry.h"

namespace testing_support {

class ForwardingRegistry : public platform::IRegistry {
 public:
  explicit ForwardingRegistry(platform::IRegistry& to) : inner(to) {}

  LSTATUS RegOpenKeyExW(HKEY a, LPCWSTR b, DWORD c, REGSAM d, PHKEY e) override {
    return inner.RegOpenKeyExW(a, b, c, d, e);
  }
  LSTATUS RegCreateKeyExW(HKEY a, LPCWSTR b, DWORD c, LPWSTR d, DWORD e, REGSAM f,
                          LPSECURITY_ATTRIBUTES g, PHKEY h, LPDWORD i) override {
    return inner.RegCreateKeyExW(a, b, c, d, e, f, g, h, i);
  }
  LSTATUS RegCloseKey(HKEY k) override { return inner.RegCloseKey(k); }
  LSTATUS RegQueryValueExW(HKEY a, LPCWSTR b, LPDWORD c, LPDWORD d, LPBYTE e, LPDWORD f) override {
    return inner.RegQueryValueExW(a, b, c, d, e, f);
  }
  LSTATUS RegSetValueExW(HKEY a, LPCWSTR b, DWORD c, DWORD d, const BYTE* e, DWORD f) override {
    return inner.RegSetValueExW(a, b, c, d, e, f);
  }
  LSTATUS RegDeleteValueW(HKEY a, LPCWSTR b) override { return inner.RegDeleteValueW(a, b); }
  LSTATUS RegDeleteKeyExW(HKEY a, LPCWSTR b, REGSAM c, DWORD d) override {
    return inner.RegDeleteKeyExW(a, b, c, d);
  }
  LSTATUS RegDeleteTreeW(HKEY a, LPCWSTR b) override { return inner.RegDeleteTreeW(a, b); }
  LSTATUS RegEnumKeyExW(HKEY a, DWORD b, LPWSTR c, LPDWORD d, LPDWORD e, LPWSTR f, LPDWORD g,
                        FILETIME* h) override {
    return inner.RegEnumKeyExW(a, b, c, d, e, f, g, h);
  }
  LSTATUS RegEnumValueW(HKEY a, DWORD b, LPWSTR c, LPDWORD d, LPDWORD e, LPDWORD f, LPBYTE g,
                        LPDWORD h) override {
    return inner.RegEnumValueW(a, b, c, d, e, f, g, h);
  }
  LSTATUS RegQueryInfoKeyW(HKEY a, LPWSTR b, LPDWORD c, LPDWORD d, LPDWORD e, LPDWORD f, LPDWORD g,
                           LPDWORD h, LPDWORD i, LPDWORD j, LPDWORD k, FILETIME* l) override {
    return inner.RegQueryInfoKeyW(a, b, c, d, e, f, g, h, i, j, k, l);
  }
  LSTATUS RegNotifyChangeKeyValue(HKEY a, BOOL b, DWORD c, HANDLE d, BOOL e) override {
    return inner.RegNotifyChangeKeyValue(a, b, c, d, e);
  }
  BOOL IsWow64Process() override { return inner.IsWow64Process(); }
  BOOL Is64BitWindows() override { return inner.Is64BitWindows(); }

 protected:
  platform::IRegistry& inner;
};

}  // namespace testing_support
