// The shell's taskbar window ("Shell_TrayWnd").
#pragma once

#include "core/agent_process.h"

namespace core {

// Gives the taskbar the focus when there is one, so a program started next comes to the
// front rather than behind the window that had the focus.
void FocusTaskbar(CAgentProcess& process);

}  // namespace core
