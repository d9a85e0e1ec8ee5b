// What the tray logic needs from the main window and from the subsystems beside it.
#pragma once

#include <functional>
#include <string>

#include "platform/win_types.h"

class ITrayHost {
 public:
  virtual ~ITrayHost() = default;

  // The main window: owner of the icon's callbacks and of the menu.
  virtual HWND TrayWindow() = 0;
  // The window's task queue (core/post_task_handler.h). Post from any thread; the rest on
  // the window's thread. A scheduled task returning true is done.
  virtual void PostTrayTask(std::function<void()> task) = 0;
  virtual UINT ScheduleTrayTask(UINT delayMs, std::function<bool(UINT)> task) = 0;
  virtual void CancelTrayTask(UINT id) = 0;

  // The module with the icon images 131 to 136 (null: none); a text of the resource module.
  virtual HINSTANCE TrayResourceModule() = 0;
  virtual std::wstring TrayString(UINT id) = 0;

  // The tray menu, built afresh for each showing (tray/tray_menu.h); the caller destroys it.
  virtual HMENU BuildTrayMenu() = 0;
  // Opens the console of the installed edition (application 1, no arguments).
  virtual void LaunchConsole() = 0;
};
