// Placeholder until the simulated session manager lands.
#pragma once

#include <string>

#include "platform/win_types.h"

namespace sim {

class Machine;

class SessionManager {
 public:
  explicit SessionManager(Machine& m) : m_machine(m) {}
  // The SID of the user signed in to the session (HKCU of its processes is
  // HKEY_USERS\<sid>).
  std::wstring UserSid(DWORD sessionId) const {
    return L"S-1-5-21-3623811015-3361044348-30300820-" + std::to_wstring(1000 + sessionId);
  }

 private:
  [[maybe_unused]] Machine& m_machine;
};

}  // namespace sim
