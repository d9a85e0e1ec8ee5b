// A simulated process's platform whose registry can refuse writing under HKCU or raise from
// a value query: the failures a settings reader and writer must survive that the simulated
// registry itself never produces. Everything else goes to the process unchanged.
//
//   settingstest::FaultyPlatform plat(Agent());
//   plat.Reg().refuseHkcuWrites = true;        // as an ACL that lets the user only read
//   CKwAppSettings kw(plat);                   // kw.IsWritable() is false
#pragma once

#include <functional>

#include "platform/platform.h"
#include "tests/testing/forwarding_registry.h"

namespace settingstest {

class FaultyRegistry : public testing_support::ForwardingRegistry {
 public:
  using ForwardingRegistry::ForwardingRegistry;

  // Opening an existing HKCU key for writing gives ERROR_ACCESS_DENIED, and so does creating
  // one; a missing key is still reported as missing first, as Windows does.
  bool refuseHkcuWrites = false;
  // Runs before every value query; a test makes it throw.
  std::function<void()> beforeQuery;
  // Every RegSetValueExW call, whatever its outcome.
  unsigned setValueCalls = 0;

  LSTATUS RegOpenKeyExW(HKEY a, LPCWSTR b, DWORD c, REGSAM d, PHKEY e) override {
    const LSTATUS s = inner.RegOpenKeyExW(a, b, c, d, e);
    if (s != ERROR_SUCCESS || !Refused(a, d)) return s;
    inner.RegCloseKey(*e);
    *e = nullptr;
    return ERROR_ACCESS_DENIED;
  }
  LSTATUS RegCreateKeyExW(HKEY a, LPCWSTR b, DWORD c, LPWSTR d, DWORD e, REGSAM f,
                          LPSECURITY_ATTRIBUTES g, PHKEY h, LPDWORD i) override {
    if (Refused(a, f)) {
      if (h) *h = nullptr;
      return ERROR_ACCESS_DENIED;
    }
    return inner.RegCreateKeyExW(a, b, c, d, e, f, g, h, i);
  }
  LSTATUS RegQueryValueExW(HKEY a, LPCWSTR b, LPDWORD c, LPDWORD d, LPBYTE e, LPDWORD f) override {
    if (beforeQuery) beforeQuery();
    return inner.RegQueryValueExW(a, b, c, d, e, f);
  }
  LSTATUS RegSetValueExW(HKEY a, LPCWSTR b, DWORD c, DWORD d, const BYTE* e, DWORD f) override {
    ++setValueCalls;
    return inner.RegSetValueExW(a, b, c, d, e, f);
  }

 private:
  bool Refused(HKEY root, REGSAM sam) const {
    return refuseHkcuWrites && root == HKEY_CURRENT_USER &&
           (sam & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY)) != 0;
  }
};

class FaultyPlatform : public platform::IPlatform {
 public:
  explicit FaultyPlatform(platform::IPlatform& inner) : m(inner), m_reg(inner.Registry()) {}
  FaultyRegistry& Reg() { return m_reg; }

  platform::IRegistry& Registry() override { return m_reg; }
  platform::IKernel& Kernel() override { return m.Kernel(); }
  platform::IUi& Ui() override { return m.Ui(); }
  platform::ISessions& Sessions() override { return m.Sessions(); }
  platform::ICom& Com() override { return m.Com(); }
  platform::IModules& Modules() override { return m.Modules(); }
  platform::IShell& Shell() override { return m.Shell(); }
  platform::ICrypt& Crypt() override { return m.Crypt(); }
  platform::IGdi& Gdi() override { return m.Gdi(); }

 private:
  platform::IPlatform& m;
  FaultyRegistry m_reg;
};

}  // namespace settingstest
