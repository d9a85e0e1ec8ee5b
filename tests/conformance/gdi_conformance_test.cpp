// Drawing: DIB sections seen through a memory DC, icons built from bitmaps and taken apart
// again, image lists drawn onto white, the classic look's theme and colours.
#include <cstring>
#include <vector>

#include "tests/conformance/backend.h"

namespace conformance {
namespace {

class GdiConformance : public ConformanceTest {
 protected:
  platform::IGdi& Gdi() { return Plat().Gdi(); }

  // A DIB section of w x h (top-down when h < 0) of `bpp` bits, its pixels in *bits.
  HBITMAP Dib(int w, int h, WORD bpp, BYTE** bits) {
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = bpp;
    bi.bmiHeader.biCompression = BI_RGB;
    void* p = nullptr;
    HBITMAP b = Gdi().CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &p, nullptr, 0);
    EXPECT_NE(b, nullptr);
    *bits = static_cast<BYTE*>(p);
    return b;
  }
  static void Put32(BYTE* bits, size_t index, DWORD argb) {
    std::memcpy(bits + index * 4, &argb, 4);
  }
};

TEST_F(GdiConformance, DibPixelsReadBackThroughAMemoryDc) {
  BYTE* bits = nullptr;
  HBITMAP dib = Dib(2, 2, 32, &bits);  // bottom-up: the first row in memory is the lowest
  ASSERT_NE(bits, nullptr);
  Put32(bits, 0, 0x00112233);
  Put32(bits, 3, 0x00A0B0C0);
  BITMAP bm{};
  ASSERT_EQ(Gdi().GetObjectW(dib, sizeof(bm), &bm), static_cast<int>(sizeof(bm)));
  EXPECT_EQ(bm.bmWidth, 2);
  EXPECT_EQ(bm.bmHeight, 2);
  EXPECT_EQ(bm.bmBitsPixel, 32);
  EXPECT_EQ(bm.bmBits, bits);

  HDC dc = Gdi().CreateCompatibleDC(nullptr);
  ASSERT_NE(dc, nullptr);
  HGDIOBJ old = Gdi().SelectObject(dc, dib);
  ASSERT_NE(old, nullptr);
  EXPECT_EQ(Gdi().GetPixel(dc, 0, 1), RGB(0x11, 0x22, 0x33));
  EXPECT_EQ(Gdi().GetPixel(dc, 1, 0), RGB(0xA0, 0xB0, 0xC0));
  EXPECT_EQ(Gdi().GetPixel(dc, 0, 0), RGB(0, 0, 0));
  EXPECT_EQ(Gdi().GetPixel(dc, 2, 0), CLR_INVALID);
  EXPECT_EQ(Gdi().GetPixel(dc, 0, -1), CLR_INVALID);
  EXPECT_EQ(Gdi().SelectObject(dc, old), dib);
  EXPECT_TRUE(Gdi().DeleteDC(dc));
  EXPECT_TRUE(Gdi().DeleteObject(dib));
}

TEST_F(GdiConformance, IconInfoGivesCopiesOfTheBitmapsItWasBuiltFrom) {
  BYTE* bits = nullptr;
  HBITMAP color = Dib(4, -4, 32, &bits);
  for (size_t i = 0; i < 16; ++i) Put32(bits, i, 0xFF1E78D4);
  Put32(bits, 5, 0xFF0043A3);          // (1, 1)
  const std::vector<WORD> rows(4, 0);  // all opaque
  HBITMAP mask = Gdi().CreateBitmap(4, 4, 1, 1, rows.data());
  ASSERT_NE(mask, nullptr);
  ICONINFO in{TRUE, 0, 0, mask, color};
  HICON icon = Gdi().CreateIconIndirect(&in);
  ASSERT_NE(icon, nullptr);
  EXPECT_TRUE(Gdi().DeleteObject(color));  // the icon keeps its own copy
  EXPECT_TRUE(Gdi().DeleteObject(mask));

  ICONINFO out{};
  ASSERT_TRUE(Gdi().GetIconInfo(icon, &out));
  EXPECT_TRUE(out.fIcon);
  ASSERT_NE(out.hbmColor, nullptr);
  ASSERT_NE(out.hbmMask, nullptr);
  BITMAP bm{};
  ASSERT_NE(Gdi().GetObjectW(out.hbmColor, sizeof(bm), &bm), 0);
  EXPECT_EQ(bm.bmWidth, 4);
  EXPECT_EQ(bm.bmHeight, 4);
  EXPECT_GE(bm.bmBitsPixel, 24);
  ASSERT_NE(Gdi().GetObjectW(out.hbmMask, sizeof(bm), &bm), 0);
  EXPECT_EQ(bm.bmBitsPixel, 1);
  EXPECT_EQ(bm.bmHeight, 4);  // a colour icon's mask is not doubled

  HDC dc = Gdi().CreateCompatibleDC(nullptr);
  HGDIOBJ old = Gdi().SelectObject(dc, out.hbmColor);
  EXPECT_EQ(Gdi().GetPixel(dc, 1, 1), RGB(0x00, 0x43, 0xA3));
  EXPECT_EQ(Gdi().GetPixel(dc, 3, 0), RGB(0x1E, 0x78, 0xD4));
  Gdi().SelectObject(dc, out.hbmMask);
  EXPECT_EQ(Gdi().GetPixel(dc, 2, 2), RGB(0, 0, 0));
  Gdi().SelectObject(dc, old);
  EXPECT_TRUE(Gdi().DeleteDC(dc));
  EXPECT_TRUE(Gdi().DeleteObject(out.hbmColor));
  EXPECT_TRUE(Gdi().DeleteObject(out.hbmMask));
  EXPECT_TRUE(Gdi().DestroyIcon(icon));
}

TEST_F(GdiConformance, ImageListsDrawOntoWhite) {
  BYTE* target = nullptr;
  HBITMAP white = Dib(3, -1, 32, &target);
  HDC dc = Gdi().CreateCompatibleDC(nullptr);
  HGDIOBJ old = Gdi().SelectObject(dc, white);

  // 32-bit with alpha: an opaque blue pixel, a transparent one (white, so a list that
  // ignored alpha would draw the same), an opaque black one.
  std::memset(target, 0xFF, 12);
  BYTE* px = nullptr;
  HBITMAP image32 = Dib(3, -1, 32, &px);
  Put32(px, 0, 0xFF0000FF);
  Put32(px, 1, 0x00FFFFFF);
  Put32(px, 2, 0xFF000000);
  HIMAGELIST list32 = Gdi().ImageList_Create(3, 1, ILC_COLOR32, 1, 1);
  ASSERT_NE(list32, nullptr);
  ASSERT_EQ(Gdi().ImageList_Add(list32, image32, nullptr), 0);
  ASSERT_TRUE(Gdi().ImageList_Draw(list32, 0, dc, 0, 0, ILD_NORMAL));
  EXPECT_EQ(Gdi().GetPixel(dc, 0, 0), RGB(0, 0, 255));
  EXPECT_EQ(Gdi().GetPixel(dc, 1, 0), RGB(255, 255, 255));
  EXPECT_EQ(Gdi().GetPixel(dc, 2, 0), RGB(0, 0, 0));

  // 24-bit through a mask: the middle pixel's mask bit keeps the white target.
  std::memset(target, 0xFF, 12);
  BYTE* rgb = nullptr;
  HBITMAP image24 = Dib(3, -1, 24, &rgb);
  const BYTE row24[9] = {0x00, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0x00};  // B G R
  std::memcpy(rgb, row24, sizeof(row24));
  const WORD maskRow = 0x0040;  // bits, high first in each byte: pixel 1 set
  HBITMAP mask = Gdi().CreateBitmap(3, 1, 1, 1, &maskRow);
  HIMAGELIST list24 = Gdi().ImageList_Create(3, 1, ILC_COLOR24 | ILC_MASK, 1, 1);
  ASSERT_NE(list24, nullptr);
  ASSERT_EQ(Gdi().ImageList_Add(list24, image24, mask), 0);
  ASSERT_TRUE(Gdi().ImageList_Draw(list24, 0, dc, 0, 0, ILD_NORMAL));
  EXPECT_EQ(Gdi().GetPixel(dc, 0, 0), RGB(255, 0, 0));
  EXPECT_EQ(Gdi().GetPixel(dc, 1, 0), RGB(255, 255, 255));
  EXPECT_EQ(Gdi().GetPixel(dc, 2, 0), RGB(0, 0, 255));

  EXPECT_TRUE(Gdi().ImageList_Destroy(list32));
  EXPECT_TRUE(Gdi().ImageList_Destroy(list24));
  Gdi().SelectObject(dc, old);
  EXPECT_TRUE(Gdi().DeleteDC(dc));
  for (HBITMAP b : {white, image32, image24, mask}) EXPECT_TRUE(Gdi().DeleteObject(b));
}

// The test machines run the classic look: no visual style is active.
TEST_F(GdiConformance, ClassicLookHasNoThemeButAFaceColour) {
  HMODULE ux = Plat().Modules().LoadLibraryExW(L"uxtheme.dll", nullptr, 0);
  ASSERT_NE(ux, nullptr);
  EXPECT_TRUE(Plat().Modules().FreeLibrary(ux));

  EXPECT_EQ(Gdi().OpenThemeData(nullptr, L"TASKBAR"), nullptr);
  HWND toolbar = Plat().Ui().CreateWindowExW(0, L"ToolbarWindow32", L"", 0, CW_USEDEFAULT,
                                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr,
                                             nullptr, B().Instance(), nullptr);
  ASSERT_NE(toolbar, nullptr);
  EXPECT_EQ(Gdi().SetWindowTheme(toolbar, nullptr, L"TrayNotifyHoriz"), S_OK);
  EXPECT_EQ(Gdi().OpenThemeData(toolbar, L"TRAYNOTIFY"), nullptr);
  EXPECT_EQ(Gdi().SetWindowTheme(toolbar, nullptr, nullptr), S_OK);
  EXPECT_TRUE(Plat().Ui().DestroyWindow(toolbar));

  EXPECT_NE(Plat().Ui().GetSysColor(COLOR_3DFACE), 0u);
}

}  // namespace
}  // namespace conformance
