#include "kiosk/kiosk_session.h"

#include <string>

#include "platform/handles.h"
#include "support/registry_read.h"

namespace KIOSK {

bool IsKioskLogon(core::CAgentProcess& process) {
  if (process.KioskLogonCache) return *process.KioskLogonCache;
  auto& reg = process.Platform().Registry();
  const REGSAM view = support::SuiteView(reg);
  auto value = support::ReadDword(reg, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies\\Veridane\\Lumera",
                                  L"KioskLogon", view);
  if (!value)
    value = support::ReadDword(reg, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Veridane\\Kiosk\\Logon",
                               L"KioskLogon", view);
  process.KioskLogonCache = value.value_or(0) != 0;
  return *process.KioskLogonCache;
}

std::wstring KioskSessionKey(DWORD sessionId) {
  return L"SOFTWARE\\Veridane\\Kiosk\\Session\\" + std::to_wstring(sessionId);
}

bool IsKioskSession(core::CAgentProcess& process) {
  if (!IsKioskLogon(process)) return false;
  auto& plat = process.Platform();
  DWORD session = 0;
  // Without a session id there is no key to ask; the default of a missing key applies.
  if (!plat.Sessions().ProcessIdToSessionId(plat.Kernel().GetCurrentProcessId(), &session))
    return true;
  auto& reg = plat.Registry();
  platform::UniqueHKey key(reg);
  if (reg.RegOpenKeyExW(HKEY_LOCAL_MACHINE, KioskSessionKey(session).c_str(), 0,
                        KEY_READ | support::SuiteView(reg), key.put()) != ERROR_SUCCESS)
    return true;
  DWORD type = REG_NONE, value = 0, size = sizeof(value);
  const LSTATUS st = reg.RegQueryValueExW(key.get(), L"KioskAccount", nullptr, &type,
                                          reinterpret_cast<BYTE*>(&value), &size);
  // A REG_DWORD that does not fit four bytes is malformed: it decides nothing either.
  if (st != ERROR_SUCCESS || type != REG_DWORD || size != sizeof(value)) return true;
  return value != 0;
}

}  // namespace KIOSK
