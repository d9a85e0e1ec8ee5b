// Rectangles in the tray tests: compared field by field, shown as "left,top,right,bottom".
#pragma once

#include <string>

#include "platform/win_types.h"

namespace traytest {

inline bool SameRect(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

inline std::string Show(const RECT& r) {
  return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) +
         "," + std::to_string(r.bottom);
}

}  // namespace traytest
