#include "tray/avatar_rules.h"

namespace tray {

std::optional<AvatarLook> LookFor(WPARAM code) {
  switch (code) {
    case 0:
      return AvatarLook{0, 5000, false};
    case 1:
      return AvatarLook{1, 1000, false};
    case 2:
      return AvatarLook{2, 3000, false};
    case 3:
      return AvatarLook{3, 5000, true};
    default:
      return std::nullopt;
  }
}

UINT BalloonStringFor(LPARAM result) {
  switch (result) {
    case 1: case 2: case 3: case 4: case 5: case 6: case 7: case 11: case 12: case 13: case 15:
      return 115;
    case 14:
      return 116;
    case 17:
      return 117;
    default:
      return 114;
  }
}

RECT FitIntoWorkArea(const RECT& square, const RECT& area) {
  const bool empty = square.right <= square.left || square.bottom <= square.top;
  const bool inside = square.left >= area.left && square.right <= area.right &&
                      square.top >= area.top && square.bottom <= area.bottom;
  if (empty || inside) return square;
  RECT r = square;
  auto shiftX = [&r](LONG dx) { r.left += dx; r.right += dx; };
  auto shiftY = [&r](LONG dy) { r.top += dy; r.bottom += dy; };
  if (r.left > area.right || r.right > area.right) shiftX(area.right - r.right);
  if (r.left < area.left || r.right < area.left) shiftX(area.left - r.left);
  if (r.top > area.bottom || r.bottom > area.bottom) shiftY(area.bottom - r.bottom);
  if (r.top < area.top || r.bottom < area.top) shiftY(area.top - r.top);
  return r;
}

void PremultiplyAlpha(BYTE* bits, size_t pixels) {
  for (size_t i = 0; i < pixels; ++i, bits += 4) {
    const unsigned a = bits[3];
    for (int c = 0; c < 3; ++c) bits[c] = static_cast<BYTE>(bits[c] * a / 255);
  }
}

POINT BalloonTipPoint(POINT centre, int side, int fullWidth, int fullHeight) {
  const int step = side / 3;
  POINT p = centre;
  p.x += p.x < fullWidth / 2 ? step : -step;
  p.y += p.y < fullHeight / 2 ? step : -step;
  return p;
}

}  // namespace tray
