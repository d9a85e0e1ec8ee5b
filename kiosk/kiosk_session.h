// Whether this machine runs kiosk logon (one shared Windows account, many people) and
// whether the agent's own session is a kiosk session.
//
//   if (KIOSK::IsKioskLogon(process)) process.NoWizardMode = true;   // at entry
//   if (!KIOSK::IsKioskSession(process)) return;                    // every kiosk event
//
// Main window's thread (or the entry's, before the window exists).
#pragma once

#include "core/agent_process.h"

namespace KIOSK {

// HKLM policy "KioskLogon", else the kiosk "Logon" key's value, else false. Read once: the
// answer is kept in the process for its whole life.
bool IsKioskLogon(core::CAgentProcess& process);

// False when kiosk logon is off. Otherwise "KioskAccount" of the session's kiosk key
// decides: a REG_DWORD is its value != 0; anything else (no key, no value, another type)
// counts as a kiosk session. Read at every call: the logon side rewrites the key.
bool IsKioskSession(core::CAgentProcess& process);

// "SOFTWARE\Veridane\Kiosk\Session\<id>", the key the logon side keeps per session.
std::wstring KioskSessionKey(DWORD sessionId);

}  // namespace KIOSK
