// How the simulated machine looks: whether a visual style is active, the colours its theme
// classes hint at, the classic 3D face colour and where the taskbar sits.
//
//   sim::Appearance look = machine.GetAppearance();
//   look.themeActive = true;
//   look.fillColorHints[{L"TASKBAR", 1}] = RGB(32, 32, 32);      // bottom taskbar background
//   look.fillColorHints[{L"TrayNotifyHoriz::TRAYNOTIFY", 1}] = RGB(210, 210, 210);
//   machine.SetAppearance(look);
//
// Theme classes are named as a window sees them: a plain class ("TASKBAR"), or, for a window
// given a sub-id list with SetWindowTheme, "<sub-id>::<class>". Names compare without case.
#pragma once

#include <map>
#include <string>
#include <utility>

#include "platform/win_types.h"

namespace sim {

struct Appearance {
  // Without an active visual style OpenThemeData finds nothing (the classic look).
  bool themeActive = false;
  // TMT_FILLCOLORHINT per (theme class, part). A class with no entry is not in the theme.
  std::map<std::pair<std::wstring, int>, COLORREF> fillColorHints;
  // GetSysColor(COLOR_3DFACE).
  COLORREF face3d = RGB(240, 240, 240);
  // SHAppBarMessage(ABM_GETTASKBARPOS) while the session's shell runs.
  UINT taskbarEdge = ABE_BOTTOM;
  RECT taskbarRect{0, 1040, 1920, 1080};
};

}  // namespace sim
