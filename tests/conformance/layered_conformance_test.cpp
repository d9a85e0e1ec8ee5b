// What the avatar relies on: the work area, placing a popup, layered windows taking a
// 32-bit picture, a nearest-pixel stretch, mouse capture, the screen DC and the tracking
// tooltip's messages.
#include <cstring>

#include "tests/conformance/backend.h"

namespace conformance {
namespace {

class LayeredConformance : public ConformanceTest {
 protected:
  platform::IUi& Ui() { return Plat().Ui(); }
  platform::IGdi& Gdi() { return Plat().Gdi(); }

  HBITMAP Dib32(int w, int h, DWORD** bits) {
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;  // top-down
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* p = nullptr;
    HBITMAP b = Gdi().CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &p, nullptr, 0);
    *bits = static_cast<DWORD*>(p);
    return b;
  }
  static std::string Show(const RECT& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) +
           "," + std::to_string(r.bottom);
  }
};

TEST_F(LayeredConformance, TheWorkAreaLiesWithinTheScreen) {
  RECT area{-1, -1, -1, -1};
  ASSERT_TRUE(Ui().SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0));
  EXPECT_GE(area.left, 0);
  EXPECT_GE(area.top, 0);
  EXPECT_GT(area.right, area.left);
  EXPECT_GT(area.bottom, area.top);
  EXPECT_LE(area.right, Ui().GetSystemMetrics(SM_CXSCREEN));
  EXPECT_LE(area.bottom, Ui().GetSystemMetrics(SM_CYSCREEN));
  EXPECT_GT(Ui().GetSystemMetrics(SM_CXFULLSCREEN), 0);
  EXPECT_LE(Ui().GetSystemMetrics(SM_CYFULLSCREEN), area.bottom - area.top);
}

TEST_F(LayeredConformance, APopupIsPlacedMovedAndSizedWhereAsked) {
  RecordingWindow w(Plat(), B().Instance());
  RECT r{};
  ASSERT_TRUE(Ui().GetWindowRect(w.hwnd(), &r));
  EXPECT_EQ(Show(r), "0,0,10,10");
  ASSERT_TRUE(Ui().SetWindowPos(w.hwnd(), HWND_TOPMOST, 30, 40, 0, 0,
                                SWP_NOSIZE | SWP_NOACTIVATE));
  ASSERT_TRUE(Ui().GetWindowRect(w.hwnd(), &r));
  EXPECT_EQ(Show(r), "30,40,40,50");
  ASSERT_TRUE(Ui().SetWindowPos(w.hwnd(), nullptr, 0, 0, 25, 15,
                                SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE));
  ASSERT_TRUE(Ui().GetWindowRect(w.hwnd(), &r));
  EXPECT_EQ(Show(r), "30,40,55,55");
  // A popup without a frame: its client area starts at its corner.
  POINT p{5, 6};
  ASSERT_TRUE(Ui().ClientToScreen(w.hwnd(), &p));
  EXPECT_EQ(p.x, 35);
  EXPECT_EQ(p.y, 46);
  EXPECT_FALSE(Ui().IsWindowVisible(w.hwnd()));
  Ui().ShowWindow(w.hwnd(), SW_SHOWNA);
  EXPECT_TRUE(Ui().IsWindowVisible(w.hwnd()));
}

TEST_F(LayeredConformance, OnlyALayeredWindowTakesAPicture) {
  RecordingWindow w(Plat(), B().Instance());
  DWORD* bits = nullptr;
  HBITMAP dib = Dib32(4, 4, &bits);
  ASSERT_NE(dib, nullptr);
  for (int i = 0; i < 16; ++i) bits[i] = 0x80400000u;  // premultiplied half-transparent red
  HDC screen = Ui().GetDC(nullptr);
  ASSERT_NE(screen, nullptr);
  HDC dc = Gdi().CreateCompatibleDC(screen);
  HGDIOBJ old = Gdi().SelectObject(dc, dib);
  POINT pos{100, 120};
  SIZE size{4, 4};
  POINT src{0, 0};
  BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  EXPECT_FALSE(Ui().UpdateLayeredWindow(w.hwnd(), screen, &pos, &size, dc, &src, 0, &blend,
                                        ULW_ALPHA));
  const LONG_PTR ex = Ui().GetWindowLongPtrW(w.hwnd(), GWL_EXSTYLE);
  Ui().SetWindowLongPtrW(w.hwnd(), GWL_EXSTYLE, ex | WS_EX_LAYERED);
  EXPECT_TRUE(Ui().UpdateLayeredWindow(w.hwnd(), screen, &pos, &size, dc, &src, 0, &blend,
                                       ULW_ALPHA));
  RECT r{};
  ASSERT_TRUE(Ui().GetWindowRect(w.hwnd(), &r));
  EXPECT_EQ(Show(r), "100,120,104,124");
  Gdi().SelectObject(dc, old);
  Gdi().DeleteDC(dc);
  Gdi().DeleteObject(dib);
  EXPECT_EQ(Ui().ReleaseDC(nullptr, screen), 1);
}

TEST_F(LayeredConformance, ColorOnColorStretchCopiesTheNearestPixel) {
  DWORD* srcBits = nullptr;
  DWORD* dstBits = nullptr;
  HBITMAP src = Dib32(2, 1, &srcBits);
  HBITMAP dst = Dib32(4, 2, &dstBits);
  srcBits[0] = 0x80112233u;
  srcBits[1] = 0xFF445566u;
  HDC sdc = Gdi().CreateCompatibleDC(nullptr);
  HDC ddc = Gdi().CreateCompatibleDC(nullptr);
  HGDIOBJ sold = Gdi().SelectObject(sdc, src);
  HGDIOBJ dold = Gdi().SelectObject(ddc, dst);
  EXPECT_NE(Gdi().SetStretchBltMode(ddc, COLORONCOLOR), 0);
  ASSERT_TRUE(Gdi().StretchBlt(ddc, 0, 0, 4, 2, sdc, 0, 0, 2, 1, SRCCOPY));
  // Each source pixel fills a 2 x 2 block, its alpha byte with it.
  const DWORD expected[8] = {0x80112233u, 0x80112233u, 0xFF445566u, 0xFF445566u,
                             0x80112233u, 0x80112233u, 0xFF445566u, 0xFF445566u};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(dstBits[i], expected[i]) << i;
  Gdi().SelectObject(sdc, sold);
  Gdi().SelectObject(ddc, dold);
  Gdi().DeleteDC(sdc);
  Gdi().DeleteDC(ddc);
  Gdi().DeleteObject(src);
  Gdi().DeleteObject(dst);
}

TEST_F(LayeredConformance, CaptureMovesAndTellsTheWindowThatLostIt) {
  RecordingWindow a(Plat(), B().Instance());
  RecordingWindow b(Plat(), B().Instance());
  Ui().SetCapture(a.hwnd());
  EXPECT_EQ(Ui().GetCapture(), a.hwnd());
  Ui().SetCapture(b.hwnd());
  EXPECT_EQ(Ui().GetCapture(), b.hwnd());
  EXPECT_EQ(a.Count(WM_CAPTURECHANGED), 1u);
  EXPECT_TRUE(Ui().ReleaseCapture());
  EXPECT_EQ(Ui().GetCapture(), nullptr);
  EXPECT_EQ(b.Count(WM_CAPTURECHANGED), 1u);
}

TEST_F(LayeredConformance, ATrackingTooltipTakesItsToolAndTexts) {
  INITCOMMONCONTROLSEX icc{sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES};
  ASSERT_TRUE(Ui().InitCommonControlsEx(&icc));
  RecordingWindow owner(Plat(), B().Instance());
  HWND tip = Ui().CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr,
                                  WS_POPUP | TTS_BALLOON | TTS_NOPREFIX | TTS_ALWAYSTIP,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                  owner.hwnd(), nullptr, B().Instance(), nullptr);
  ASSERT_NE(tip, nullptr);
  wchar_t text[] = L"Put your finger on the reader";
  TOOLINFOW ti{};
  ti.cbSize = sizeof(ti);
  ti.uFlags = TTF_TRACK;
  ti.hwnd = owner.hwnd();
  ti.uId = 1;
  ti.lpszText = text;
  EXPECT_TRUE(Ui().SendMessageW(tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti)));
  EXPECT_EQ(Ui().SendMessageW(tip, TTM_SETMAXTIPWIDTH, 0, 300), -1) << "no limit at first";
  EXPECT_EQ(Ui().SendMessageW(tip, TTM_SETMAXTIPWIDTH, 0, 400), 300);
  Ui().SendMessageW(tip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&ti));
  Ui().SendMessageW(tip, TTM_TRACKPOSITION, 0, MAKELPARAM(200, 150));
  Ui().SendMessageW(tip, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&ti));
  EXPECT_TRUE(Ui().IsWindowVisible(tip));
  Ui().SendMessageW(tip, TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&ti));
  EXPECT_FALSE(Ui().IsWindowVisible(tip));
  EXPECT_TRUE(Ui().DestroyWindow(tip));
}

}  // namespace
}  // namespace conformance
