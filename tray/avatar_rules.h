// The avatar's rules, apart from any window: its message, timer and picture, what each look
// shows and for how long, which text explains a result code, where the avatar fits on the
// screen and where its balloon points.
//
//   auto look = tray::LookFor(code);                    // none for codes above 3
//   RECT r = tray::FitIntoWorkArea(square, workArea);   // the first placing
#pragma once

#include <cstddef>
#include <optional>

#include "platform/win_types.h"

namespace tray {

// WM_USER + 301: show a look (wParam 0..3, lParam the result code for look 3).
inline constexpr UINT kAvatarMessage = WM_USER + 301;
inline constexpr UINT_PTR kAvatarHideTimer = 0x0FFF0001;
inline constexpr UINT kAvatarBitmap = 108;  // RT_BITMAP of the agent's module
inline constexpr UINT kDragHideMs = 2000;
inline constexpr wchar_t kAvatarClass[] = L"VD_GlobalAvatarIconClass";
inline constexpr wchar_t kAvatarTitle[] = L"VD_GlobalAvatarIcon";

// What a look shows and for how long.
struct AvatarLook {
  int frame = 0;
  UINT visibleMs = 0;
  bool balloon = false;  // look 3: the result code's text beside the avatar
};
// The look of code `code`; none for codes above 3.
std::optional<AvatarLook> LookFor(WPARAM code);
// The string of the resource module explaining result code `result` (114 to 117).
UINT BalloonStringFor(LPARAM result);
// `square` moved into `area`, right and bottom edges first, then left and top, so a square
// larger than the area keeps its left and top edges inside. An empty square, or one wholly
// inside, stays where it is.
RECT FitIntoWorkArea(const RECT& square, const RECT& area);
// Multiplies blue, green and red of each 32-bit pixel by its alpha (divided by 255).
void PremultiplyAlpha(BYTE* bits, size_t pixels);
// Where the balloon points: the avatar's centre (screen coordinates) moved a third of the
// side toward the middle of the full-screen area on each axis.
POINT BalloonTipPoint(POINT centre, int side, int fullWidth, int fullHeight);

}  // namespace tray
