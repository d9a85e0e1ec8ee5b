// The simulated machine's drawing area: icons from module resources, DIBs and DCs, image
// lists, visual styles and the taskbar's look, with every handle counted per process.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "platform/sim/machine.h"
#include "platform/sim/module_table.h"
#include "platform/sim/process.h"
#include "platform/sim/process_gdi.h"
#include "platform/sim/session_manager.h"

namespace {

constexpr wchar_t kRes[] = L"C:\\Program Files\\Veridane\\Agent\\VdAgentRes.dll";
constexpr HRESULT kNotFound = static_cast<HRESULT>(0x80070490L);

// A w x h icon image of one colour with a transparent top-left pixel.
sim::IconImage Solid(int w, int h, DWORD argb) {
  sim::IconImage img{w, h, std::vector<DWORD>(static_cast<size_t>(w * h), argb)};
  img.argb[0] = 0;
  return img;
}

class SimGdi : public testing::Test {
 protected:
  SimGdi() : agent(machine.CreateProcess({})) {}

  platform::IGdi& Gdi() { return agent->Gdi(); }
  HINSTANCE LoadRes() {
    return reinterpret_cast<HINSTANCE>(agent->Modules().LoadLibraryExW(kRes, nullptr, 0));
  }
  DWORD LastError() { return machine.LastError(); }

  // A 32-bit DIB of w x h with its pixels; top-down when height is negative.
  HBITMAP Dib(int w, int h, DWORD** bits) {
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* p = nullptr;
    HBITMAP b = Gdi().CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &p, nullptr, 0);
    *bits = static_cast<DWORD*>(p);
    return b;
  }

  sim::Machine machine;
  std::unique_ptr<sim::Process> agent;
};

TEST_F(SimGdi, IconResourcesLoadAtTheAskedSizeAndMissingOnesSayWhy) {
  machine.Modules().Install(kRes, {});
  HINSTANCE res = LoadRes();
  ASSERT_NE(res, nullptr);
  // A module without icons has no icon type at all.
  EXPECT_EQ(Gdi().LoadImageW(res, MAKEINTRESOURCEW(131), IMAGE_ICON, 16, 16, 2), nullptr);
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));

  machine.Modules().SetIcon(kRes, 131, {Solid(32, 32, 0xFF102030), Solid(16, 16, 0xFF405060)});
  EXPECT_EQ(Gdi().LoadImageW(res, MAKEINTRESOURCEW(132), IMAGE_ICON, 16, 16, 2), nullptr);
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));

  // The 16-pixel image is picked for 16, the 32-pixel one is scaled down for 24.
  HICON small =
      static_cast<HICON>(Gdi().LoadImageW(res, MAKEINTRESOURCEW(131), IMAGE_ICON, 16, 16, 2));
  HICON mid =
      static_cast<HICON>(Gdi().LoadImageW(res, MAKEINTRESOURCEW(131), IMAGE_ICON, 24, 24, 2));
  ASSERT_NE(small, nullptr);
  ASSERT_NE(mid, nullptr);
  EXPECT_EQ(sim::GdiObjects(*agent), sim::GdiCounts{.icons = 2});

  ICONINFO ii{};
  ASSERT_TRUE(Gdi().GetIconInfo(mid, &ii));
  BITMAP bm{};
  ASSERT_EQ(Gdi().GetObjectW(ii.hbmColor, sizeof(bm), &bm), static_cast<int>(sizeof(bm)));
  EXPECT_EQ(bm.bmWidth, 24);
  EXPECT_EQ(bm.bmBitsPixel, 32);
  HDC dc = Gdi().CreateCompatibleDC(nullptr);
  HGDIOBJ old = Gdi().SelectObject(dc, ii.hbmColor);
  EXPECT_EQ(Gdi().GetPixel(dc, 23, 23), RGB(0x10, 0x20, 0x30));
  Gdi().SelectObject(dc, ii.hbmMask);
  EXPECT_EQ(Gdi().GetPixel(dc, 0, 0), RGB(255, 255, 255));  // transparent corner
  EXPECT_EQ(Gdi().GetPixel(dc, 5, 5), RGB(0, 0, 0));
  Gdi().SelectObject(dc, old);
  EXPECT_TRUE(Gdi().DeleteDC(dc));
  EXPECT_TRUE(Gdi().DeleteObject(ii.hbmColor));
  EXPECT_TRUE(Gdi().DeleteObject(ii.hbmMask));

  EXPECT_TRUE(Gdi().DestroyIcon(small));
  EXPECT_FALSE(Gdi().DestroyIcon(small));
  EXPECT_TRUE(Gdi().DestroyIcon(mid));
  EXPECT_EQ(sim::GdiObjects(*agent), sim::GdiCounts{});
}

TEST_F(SimGdi, ScaledLoaderNeedsComctlLoaded) {
  machine.Modules().SetIcon(kRes, 131, {Solid(16, 16, 0xFF808080)});
  HINSTANCE res = LoadRes();
  HICON icon = nullptr;
  EXPECT_EQ(Gdi().LoadIconWithScaleDown(res, MAKEINTRESOURCEW(131), 16, 16, &icon), E_NOTIMPL);
  HMODULE comctl = agent->Modules().LoadLibraryExW(L"comctl32.dll", nullptr, 0);
  ASSERT_NE(comctl, nullptr);
  EXPECT_EQ(Gdi().LoadIconWithScaleDown(res, MAKEINTRESOURCEW(131), 16, 16, &icon), S_OK);
  EXPECT_NE(icon, nullptr);
  EXPECT_EQ(Gdi().LoadIconWithScaleDown(res, MAKEINTRESOURCEW(140), 16, 16, &icon),
            HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND));
  EXPECT_TRUE(agent->Modules().FreeLibrary(comctl));
  EXPECT_EQ(Gdi().LoadIconWithScaleDown(res, MAKEINTRESOURCEW(131), 16, 16, &icon), E_NOTIMPL);
  EXPECT_EQ(sim::GdiObjects(*agent).icons, 1u);
}

TEST_F(SimGdi, DibRowsFollowTheHeaderAndBitfieldsMasks) {
  DWORD* up = nullptr;
  DWORD* down = nullptr;
  HBITMAP bottomUp = Dib(2, 2, &up);
  HBITMAP topDown = Dib(2, -2, &down);
  ASSERT_TRUE(bottomUp && topDown);
  up[0] = 0x00FF0000;  // first row in memory: the bottom row
  down[0] = 0x00FF0000;
  HDC dc = Gdi().CreateCompatibleDC(nullptr);
  HGDIOBJ stock = Gdi().SelectObject(dc, bottomUp);
  EXPECT_EQ(Gdi().GetPixel(dc, 0, 1), RGB(255, 0, 0));
  EXPECT_EQ(Gdi().GetPixel(dc, 0, 0), RGB(0, 0, 0));
  EXPECT_EQ(Gdi().GetPixel(dc, 2, 0), CLR_INVALID);
  EXPECT_EQ(Gdi().SelectObject(dc, topDown), bottomUp);
  EXPECT_EQ(Gdi().GetPixel(dc, 0, 0), RGB(255, 0, 0));

  // A V5 header with red in the low byte.
  BITMAPV5HEADER v5{};
  v5.bV5Size = sizeof(v5);
  v5.bV5Width = 1;
  v5.bV5Height = -1;
  v5.bV5Planes = 1;
  v5.bV5BitCount = 32;
  v5.bV5Compression = BI_BITFIELDS;
  v5.bV5RedMask = 0x000000FF;
  v5.bV5GreenMask = 0x0000FF00;
  v5.bV5BlueMask = 0x00FF0000;
  void* p = nullptr;
  HBITMAP swapped = Gdi().CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&v5),
                                           DIB_RGB_COLORS, &p, nullptr, 0);
  ASSERT_NE(swapped, nullptr);
  *static_cast<DWORD*>(p) = 0x000000FF;
  Gdi().SelectObject(dc, swapped);
  EXPECT_EQ(Gdi().GetPixel(dc, 0, 0), RGB(255, 0, 0));
  v5.bV5RedMask = 0x00000F0F;  // not a byte: refused
  EXPECT_EQ(Gdi().CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&v5), DIB_RGB_COLORS, &p,
                                   nullptr, 0),
            nullptr);

  // A bitmap in a DC cannot be deleted; one DC at a time holds it.
  EXPECT_FALSE(Gdi().DeleteObject(swapped));
  HDC other = Gdi().CreateCompatibleDC(nullptr);
  EXPECT_EQ(Gdi().SelectObject(other, swapped), nullptr);
  EXPECT_EQ(Gdi().SelectObject(dc, stock), swapped);
  EXPECT_TRUE(Gdi().DeleteObject(swapped));
  EXPECT_TRUE(Gdi().DeleteObject(topDown));
  // Deleting the DC lets go of its bitmap.
  Gdi().SelectObject(other, bottomUp);
  EXPECT_TRUE(Gdi().DeleteDC(other));
  EXPECT_TRUE(Gdi().DeleteObject(bottomUp));
  EXPECT_TRUE(Gdi().DeleteDC(dc));
  EXPECT_EQ(sim::GdiObjects(*agent), sim::GdiCounts{});
}

TEST_F(SimGdi, ImageListsBlendStraightAlphaOrDrawThroughTheMask) {
  DWORD* white = nullptr;
  HBITMAP target = Dib(3, -1, &white);
  HDC dc = Gdi().CreateCompatibleDC(nullptr);
  Gdi().SelectObject(dc, target);

  // Opaque blue, half-transparent red, transparent green.
  DWORD* src = nullptr;
  HBITMAP image = Dib(3, -1, &src);
  src[0] = 0xFF0000FF;
  src[1] = 0x80FF0000;
  src[2] = 0x0000FF00;
  std::memset(white, 0xFF, 12);
  HIMAGELIST alpha = Gdi().ImageList_Create(3, 1, ILC_COLOR32, 1, 1);
  ASSERT_EQ(Gdi().ImageList_Add(alpha, image, nullptr), 0);
  ASSERT_TRUE(Gdi().ImageList_Draw(alpha, 0, dc, 0, 0, ILD_NORMAL));
  EXPECT_EQ(Gdi().GetPixel(dc, 0, 0), RGB(0, 0, 255));
  EXPECT_EQ(Gdi().GetPixel(dc, 1, 0), RGB(255, 127, 127));
  EXPECT_EQ(Gdi().GetPixel(dc, 2, 0), RGB(255, 255, 255));
  EXPECT_FALSE(Gdi().ImageList_Draw(alpha, 1, dc, 0, 0, ILD_NORMAL));

  // A masked 24-bit list ignores alpha: mask bit set keeps the target.
  std::memset(white, 0xFF, 12);
  const BYTE maskRow[2] = {0x40, 0};  // pixel 1 transparent
  HBITMAP mask = Gdi().CreateBitmap(3, 1, 1, 1, maskRow);
  HIMAGELIST masked = Gdi().ImageList_Create(3, 1, ILC_COLOR24 | ILC_MASK, 1, 1);
  ASSERT_EQ(Gdi().ImageList_Add(masked, image, mask), 0);
  ASSERT_TRUE(Gdi().ImageList_Draw(masked, 0, dc, 0, 0, ILD_NORMAL));
  EXPECT_EQ(Gdi().GetPixel(dc, 0, 0), RGB(0, 0, 255));
  EXPECT_EQ(Gdi().GetPixel(dc, 1, 0), RGB(255, 255, 255));
  EXPECT_EQ(Gdi().GetPixel(dc, 2, 0), RGB(0, 255, 0));

  EXPECT_EQ(sim::GdiObjects(*agent), (sim::GdiCounts{.bitmaps = 3, .dcs = 1, .imageLists = 2}));
  EXPECT_TRUE(Gdi().ImageList_Destroy(alpha));
  EXPECT_TRUE(Gdi().ImageList_Destroy(masked));
  EXPECT_FALSE(Gdi().ImageList_Destroy(masked));
}

TEST_F(SimGdi, IconsRebuiltFromBitmapsKeepTheirPixels) {
  DWORD* px = nullptr;
  HBITMAP color = Dib(2, -2, &px);
  px[0] = 0xFF0043A3;
  px[3] = 0xFF1E78D4;
  HBITMAP mask = Gdi().CreateBitmap(2, 2, 1, 1, nullptr);  // all opaque
  ICONINFO in{TRUE, 0, 0, mask, color};
  HICON icon = Gdi().CreateIconIndirect(&in);
  ASSERT_NE(icon, nullptr);
  ICONINFO out{};
  ASSERT_TRUE(Gdi().GetIconInfo(icon, &out));
  EXPECT_TRUE(out.fIcon);
  EXPECT_NE(out.hbmColor, color);  // fresh copies
  HDC dc = Gdi().CreateCompatibleDC(nullptr);
  Gdi().SelectObject(dc, out.hbmColor);
  EXPECT_EQ(Gdi().GetPixel(dc, 0, 0), RGB(0x00, 0x43, 0xA3));
  EXPECT_EQ(Gdi().GetPixel(dc, 1, 1), RGB(0x1E, 0x78, 0xD4));
  Gdi().DeleteDC(dc);
  EXPECT_EQ(sim::GdiObjects(*agent), (sim::GdiCounts{.icons = 1, .bitmaps = 4}));
  ICONINFO bad{TRUE, 0, 0, mask, nullptr};
  EXPECT_EQ(Gdi().CreateIconIndirect(&bad), nullptr);
}

TEST_F(SimGdi, ThemeColoursFollowTheAppearanceAndWindowSubIds) {
  EXPECT_EQ(Gdi().OpenThemeData(nullptr, L"TASKBAR"), nullptr);  // classic look

  sim::Appearance look = machine.GetAppearance();
  look.themeActive = true;
  look.fillColorHints[{L"TASKBAR", 1}] = RGB(10, 20, 30);
  look.fillColorHints[{L"TrayNotifyVert::TRAYNOTIFY", 1}] = RGB(200, 201, 202);
  machine.SetAppearance(look);
  HTHEME bar = Gdi().OpenThemeData(nullptr, L"Unknown; taskbar");
  ASSERT_NE(bar, nullptr);
  COLORREF c = 0;
  EXPECT_EQ(Gdi().GetThemeColor(bar, 1, 0, TMT_FILLCOLORHINT, &c), S_OK);
  EXPECT_EQ(c, RGB(10, 20, 30));
  EXPECT_EQ(Gdi().GetThemeColor(bar, 4, 0, TMT_FILLCOLORHINT, &c), kNotFound);
  EXPECT_EQ(Gdi().GetThemeColor(bar, 1, 0, 3802, &c), kNotFound);
  // Without a sub-id the tray class is not in the theme.
  EXPECT_EQ(Gdi().OpenThemeData(nullptr, L"TRAYNOTIFY"), nullptr);

  // The pre-Vista path: a toolbar window given the vertical tray's sub-id.
  HWND toolbar =
      agent->Ui().CreateWindowExW(0, L"ToolbarWindow32", L"", 0, CW_USEDEFAULT, CW_USEDEFAULT,
                                  CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(toolbar, nullptr);
  EXPECT_EQ(Gdi().SetWindowTheme(toolbar, nullptr, L"TrayNotifyVert"), S_OK);
  HTHEME tray = Gdi().OpenThemeData(toolbar, L"TRAYNOTIFY");
  ASSERT_NE(tray, nullptr);
  EXPECT_EQ(Gdi().GetThemeColor(tray, 1, 0, TMT_FILLCOLORHINT, &c), S_OK);
  EXPECT_EQ(c, RGB(200, 201, 202));
  EXPECT_EQ(Gdi().SetWindowTheme(toolbar, nullptr, nullptr), S_OK);
  EXPECT_EQ(Gdi().OpenThemeData(toolbar, L"TRAYNOTIFY"), nullptr);
  EXPECT_TRUE(agent->Ui().DestroyWindow(toolbar));
  EXPECT_NE(Gdi().SetWindowTheme(toolbar, nullptr, L"TrayNotifyVert"), S_OK);

  EXPECT_EQ(sim::GdiObjects(*agent).themes, 2u);
  EXPECT_EQ(Gdi().CloseThemeData(bar), S_OK);
  EXPECT_EQ(Gdi().CloseThemeData(bar), E_HANDLE);
  EXPECT_EQ(Gdi().CloseThemeData(tray), S_OK);
  EXPECT_EQ(sim::GdiObjects(*agent), sim::GdiCounts{});
}

TEST_F(SimGdi, TaskbarPlaceAndFaceColourWhileTheShellRuns) {
  HMODULE ux = agent->Modules().LoadLibraryExW(L"uxtheme.dll", nullptr, 0);
  ASSERT_NE(ux, nullptr);
  EXPECT_TRUE(agent->Modules().FreeLibrary(ux));

  sim::Appearance look = machine.GetAppearance();
  look.face3d = RGB(1, 2, 3);
  look.themeActive = true;
  sim::PlaceTaskbar(look, ABE_LEFT, RGB(9, 8, 7));
  machine.SetAppearance(look);
  EXPECT_EQ(agent->Ui().GetSysColor(COLOR_3DFACE), RGB(1, 2, 3));

  APPBARDATA abd{};
  abd.cbSize = sizeof(abd);
  ASSERT_NE(agent->Shell().SHAppBarMessage(ABM_GETTASKBARPOS, &abd), 0u);
  EXPECT_EQ(abd.uEdge, static_cast<UINT>(ABE_LEFT));
  EXPECT_EQ(abd.rc.right, 40);
  EXPECT_EQ(abd.rc.bottom, 1080);
  // The left edge's background is part 4; the vertical tray has the same fill.
  COLORREF c = 0;
  HTHEME bar = agent->Gdi().OpenThemeData(nullptr, L"TASKBAR");
  EXPECT_EQ(agent->Gdi().GetThemeColor(bar, 4, 0, TMT_FILLCOLORHINT, &c), S_OK);
  EXPECT_EQ(c, RGB(9, 8, 7));
  EXPECT_EQ(agent->Gdi().GetThemeColor(bar, 1, 0, TMT_FILLCOLORHINT, &c), kNotFound);
  agent->Gdi().CloseThemeData(bar);
  machine.Sessions().StopShell(1);
  APPBARDATA none{};
  none.cbSize = sizeof(none);
  EXPECT_EQ(agent->Shell().SHAppBarMessage(ABM_GETTASKBARPOS, &none), 0u);
}

}  // namespace
