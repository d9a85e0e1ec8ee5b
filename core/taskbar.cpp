#include "core/taskbar.h"

#include "core/messages.h"

namespace core {

void FocusTaskbar(CAgentProcess& process) {
  auto& ui = process.Platform().Ui();
  if (HWND taskbar = ui.FindWindowW(kTaskbarClass, nullptr)) ui.SetFocus(taskbar);
}

}  // namespace core
