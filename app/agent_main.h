// The process entry: decides whether this process carries out a command, registers or
// unregisters the agent, or becomes the session's agent, and always returns 0.
//
//   int wWinMain(HINSTANCE h, HINSTANCE, LPWSTR cmd, int show) {
//     platform::Win32Platform plat;  return app::AgentMain(plat, h, cmd, show);
//   }
#pragma once

#include "core/agent_process.h"
#include "kiosk/kiosk_session.h"
#include "platform/platform.h"

namespace app {

int AgentMain(platform::IPlatform& plat, HINSTANCE hInstance, LPCWSTR cmdLine, int nShowCmd);

// The parts of the entry sequence, for the entry itself and for tests.
enum class RegisterMode { None, Register, Unregister };
struct SwitchScan {
  bool handledCommand = false;  // a command was carried out: the process ends
  RegisterMode mode = RegisterMode::None;
  bool noWizard = false;
};
SwitchScan ScanCommandLine(core::CAgentProcess& process, const wchar_t* cmdLine);
// The reader-only product and the lite edition run the agent in low profile, which also
// turns the wizards off; a mode already on stays on. True when low profile is on (the
// entry logs it).
bool CheckLowProfile(core::CAgentProcess& process);
bool CheckSafeMode(platform::IPlatform& plat);
// Kept here for the entry's callers; the kiosk subsystem owns it.
using KIOSK::IsKioskLogon;
void RunMainLoop(core::CAgentProcess& process);

}  // namespace app
