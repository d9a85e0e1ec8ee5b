// The avatar's picture and its one drawing step.
//
//   tray::drawing_t picture(plat);
//   if (picture.load(module)) picture.update_state(window, 1, true);   // placed and drawn
#pragma once

#include "platform/handles.h"
#include "platform/platform.h"

namespace tray {

// The picture: the strip of frames as a premultiplied 32-bit DIB in a memory DC.
class drawing_t {
 public:
  explicit drawing_t(platform::IPlatform& plat);
  ~drawing_t();
  drawing_t(const drawing_t&) = delete;
  drawing_t& operator=(const drawing_t&) = delete;

  // Loads bitmap 108 of `module` and premultiplies it (once); false when it has no pixels or
  // no size.
  bool load(HINSTANCE module);
  // The side of a frame and of the window: the smaller of the strip's width and height.
  int side() const { return m_side; }
  // Draws `frame` into the layered window; with `firstTime` places it from the saved corner
  // fitted into the work area, else where it is. Raises CResultError when the saved corner
  // cannot be read. Leaves no drawing object behind.
  void update_state(HWND window, int frame, bool firstTime);

 private:
  platform::IPlatform& m_plat;
  platform::UniqueBitmap m_bitmap;
  platform::UniqueMemoryDc m_dc;
  HGDIOBJ m_oldBitmap = nullptr;
  SIZE m_bounds{0, 0};
  int m_side = 0;
};

}  // namespace tray
