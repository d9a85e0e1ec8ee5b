// How the simulated machine looks: whether a visual style is active, the colours its theme
// classes hint at, the classic 3D face colour and where the taskbar sits.
//
//   sim::Appearance look = machine.GetAppearance();
//   look.themeActive = true;
//   look.fillColorHints[{L"TASKBAR", 1}] = RGB(32, 32, 32);      // bottom taskbar background
//   look.fillColorHints[{L"TrayNotifyHoriz::TRAYNOTIFY", 1}] = RGB(210, 210, 210);
//   machine.SetAppearance(look);
//
//   sim::PlaceTaskbar(look, ABE_LEFT, RGB(32, 32, 32));   // the same in one line, for any edge
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

// Puts the taskbar on `edge` of a 1920 x 1080 screen and gives its background `fill` as
// themes do: the TASKBAR background part of that edge (bottom 1, right 2, top 3, left 4) and
// part 1 of the notification area's horizontal or vertical tray class.
inline void PlaceTaskbar(Appearance& look, UINT edge, COLORREF fill) {
  constexpr LONG kW = 1920, kH = 1080, kThick = 40;
  look.taskbarEdge = edge;
  int part = 1;
  switch (edge) {
    case ABE_LEFT:
      look.taskbarRect = RECT{0, 0, kThick, kH};
      part = 4;
      break;
    case ABE_TOP:
      look.taskbarRect = RECT{0, 0, kW, kThick};
      part = 3;
      break;
    case ABE_RIGHT:
      look.taskbarRect = RECT{kW - kThick, 0, kW, kH};
      part = 2;
      break;
    default:
      look.taskbarEdge = ABE_BOTTOM;
      look.taskbarRect = RECT{0, kH - kThick, kW, kH};
      break;
  }
  const bool vertical = edge == ABE_LEFT || edge == ABE_RIGHT;
  look.fillColorHints[{L"TASKBAR", part}] = fill;
  look.fillColorHints[{vertical ? L"TrayNotifyVert::TRAYNOTIFY" : L"TrayNotifyHoriz::TRAYNOTIFY",
                       1}] = fill;
}

}  // namespace sim
