// The tray plug-ins of the suite, as the tray menu sees them.
//
//   UINT first = 20000, last = 20000;
//   plugins.AddTrayMenuItems(menu, first, last);   // items with ids first .. last - 1
//
// No plug-in is loaded yet, so no item is added and `last` stays at `first`: the menu then
// shows no plug-in section and no second separator.
#pragma once

#include "platform/win_types.h"

class CAgentPlugins {
 public:
  void AddTrayMenuItems(HMENU /*menu*/, UINT& /*first*/, UINT& /*last*/) {}
};
