#include "tray/avatar_drawing.h"

#include <algorithm>

#include "support/settings/settings_section.h"
#include "tray/avatar_rules.h"

namespace tray {

drawing_t::drawing_t(platform::IPlatform& plat)
    : m_plat(plat), m_bitmap(plat.Gdi()), m_dc(plat.Gdi()) {}

drawing_t::~drawing_t() {
  // The strip must leave its DC before either goes.
  if (m_dc && m_oldBitmap) m_plat.Gdi().SelectObject(m_dc.get(), m_oldBitmap);
}

bool drawing_t::load(HINSTANCE module) {
  platform::IGdi& gdi = m_plat.Gdi();
  m_bitmap.reset(static_cast<HBITMAP>(gdi.LoadImageW(module, MAKEINTRESOURCEW(kAvatarBitmap),
                                                     IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
  if (!m_bitmap) return false;
  BITMAP bm{};
  if (!gdi.GetObjectW(m_bitmap.get(), sizeof(bm), &bm) || !bm.bmBits || bm.bmBitsPixel != 32 ||
      bm.bmWidth <= 0 || bm.bmHeight == 0) {
    m_bitmap.reset();
    return false;
  }
  const LONG height = bm.bmHeight < 0 ? -bm.bmHeight : bm.bmHeight;
  // Premultiplied here once: UpdateLayeredWindow with AC_SRC_ALPHA expects it, and every
  // draw copies from this strip.
  PremultiplyAlpha(static_cast<BYTE*>(bm.bmBits),
                   static_cast<size_t>(bm.bmWidthBytes / 4) * static_cast<size_t>(height));
  m_bounds = SIZE{bm.bmWidth, height};
  m_side = std::min<int>(bm.bmWidth, height);
  m_dc.reset(gdi.CreateCompatibleDC(nullptr));
  if (!m_dc) return false;
  m_oldBitmap = gdi.SelectObject(m_dc.get(), m_bitmap.get());
  return m_oldBitmap != nullptr;
}

void drawing_t::update_state(HWND window, int frame, bool firstTime) {
  platform::IUi& ui = m_plat.Ui();
  platform::IGdi& gdi = m_plat.Gdi();
  RECT target{0, 0, 0, 0};
  if (firstTime) {
    CAgentSettings agent(m_plat);
    // Stored as the DWORD of a signed coordinate: a corner left of or above the primary
    // display reads back negative.
    const LONG x = static_cast<LONG>(agent.Get(SettingNames::Agent::kSaveFeedbackIconX));
    const LONG y = static_cast<LONG>(agent.Get(SettingNames::Agent::kSaveFeedbackIconY));
    RECT area{0, 0, 0, 0};
    if (!ui.SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0)) area = RECT{0, 0, 0, 0};
    target = FitIntoWorkArea(RECT{x, y, x + m_side, y + m_side}, area);
  } else if (!ui.GetWindowRect(window, &target)) {
    target = RECT{0, 0, 0, 0};
  }
  const LONG w = target.right - target.left, h = target.bottom - target.top;
  if (w <= 0 || h <= 0 || !m_dc) return;

  platform::UniqueScreenDc screen(ui, ui.GetDC(nullptr));
  platform::UniqueMemoryDc dc(gdi, gdi.CreateCompatibleDC(screen.get()));
  BITMAPINFO bmi{};
  bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bmi.bmiHeader.biWidth = w;
  bmi.bmiHeader.biHeight = h;
  bmi.bmiHeader.biPlanes = 1;
  bmi.bmiHeader.biBitCount = 32;
  bmi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  platform::UniqueBitmap dib(gdi, gdi.CreateDIBSection(dc.get(), &bmi, DIB_RGB_COLORS, &bits,
                                                       nullptr, 0));
  if (!dc || !dib) return;
  HGDIOBJ old = gdi.SelectObject(dc.get(), dib.get());
  gdi.SetStretchBltMode(dc.get(), COLORONCOLOR);
  gdi.StretchBlt(dc.get(), 0, 0, w, h, m_dc.get(), frame * m_side, 0, m_side, m_side, SRCCOPY);
  POINT pos{target.left, target.top};
  SIZE size{w, h};
  POINT src{0, 0};
  BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  ui.UpdateLayeredWindow(window, screen.get(), &pos, &size, dc.get(), &src, 0, &blend, ULW_ALPHA);
  if (old) gdi.SelectObject(dc.get(), old);
  ui.SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

}  // namespace tray
