// The simulated screen: bitmap resources, the screen DC's count, the work area by taskbar
// edge, the mouse reaching the window under it (or the capture), and what the desktop
// records of layered windows and tooltips.
#include "platform/sim/screen.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/sim/appearance.h"
#include "platform/sim/desktop.h"
#include "platform/sim/machine.h"
#include "platform/sim/module_table.h"
#include "platform/sim/process.h"
#include "platform/sim/process_gdi.h"
#include "platform/sim/window_manager.h"

namespace {

using Texts = std::vector<std::wstring>;

class SimScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = ui.DefWindowProcAddress();
    wc.lpszClassName = L"Plain";
    ASSERT_NE(ui.RegisterClassExW(&wc), 0);
  }
  HWND Popup(const wchar_t* title, int x, int y, int w, int h, DWORD ex = 0) {
    HWND hwnd = ui.CreateWindowExW(ex, L"Plain", title, WS_POPUP, x, y, w, h, nullptr, nullptr,
                                   nullptr, nullptr);
    EXPECT_NE(hwnd, nullptr);
    return hwnd;
  }
  // Messages of `kind` the window's queue holds, taken out in order.
  std::vector<MSG> Taken(HWND hwnd, UINT kind) {
    std::vector<MSG> out;
    MSG msg;
    while (ui.PeekMessageW(&msg, hwnd, kind, kind, PM_REMOVE)) out.push_back(msg);
    return out;
  }

  sim::Machine m;
  std::unique_ptr<sim::Process> p = m.CreateProcess({});
  platform::IUi& ui = p->Ui();
  platform::IGdi& gdi = p->Gdi();
  sim::Screen& screen = m.GetScreen();
};

TEST_F(SimScreenTest, BitmapResourcesLoadAsBottomUpDibsWithTheirAlpha) {
  const std::wstring exe = sim::ProcessOptions{}.exePath;
  m.Modules().SetBitmap(exe, 108, sim::IconImage{2, 2, {0x80FF0000u, 0x11223344u, 0u, 0xFF0000FFu}});
  p = m.CreateProcess({});
  auto module = reinterpret_cast<HINSTANCE>(p->Modules().GetModuleHandleW(nullptr));
  platform::IGdi& g = p->Gdi();
  EXPECT_EQ(g.LoadImageW(module, MAKEINTRESOURCEW(109), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION),
            nullptr);
  EXPECT_EQ(m.LastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
  auto bmp = static_cast<HBITMAP>(
      g.LoadImageW(module, MAKEINTRESOURCEW(108), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  ASSERT_NE(bmp, nullptr);
  BITMAP bm{};
  ASSERT_EQ(g.GetObjectW(bmp, sizeof(bm), &bm), static_cast<int>(sizeof(bm)));
  ASSERT_NE(bm.bmBits, nullptr);
  EXPECT_EQ(bm.bmHeight, 2) << "bottom-up, as resources are stored";
  const auto* px = static_cast<const DWORD*>(bm.bmBits);
  EXPECT_EQ(px[0], 0u) << "the first row in memory is the lowest";
  EXPECT_EQ(px[1], 0xFF0000FFu);
  EXPECT_EQ(px[2], 0x80FF0000u);
  // Without LR_CREATEDIBSECTION: a device bitmap, no bits to reach.
  auto dev = static_cast<HBITMAP>(g.LoadImageW(module, MAKEINTRESOURCEW(108), IMAGE_BITMAP, 0, 0, 0));
  ASSERT_EQ(g.GetObjectW(dev, sizeof(bm), &bm), static_cast<int>(sizeof(bm)));
  EXPECT_EQ(bm.bmBits, nullptr);
  g.DeleteObject(bmp);
  g.DeleteObject(dev);
  // A module without bitmaps at all.
  EXPECT_EQ(g.LoadImageW(nullptr, MAKEINTRESOURCEW(108), IMAGE_BITMAP, 0, 0, 0), nullptr);
  EXPECT_EQ(m.LastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(SimScreenTest, AScreenDcNotReleasedStaysCounted) {
  const sim::GdiCounts before = sim::GdiObjects(*p);
  HDC dc = ui.GetDC(nullptr);
  ASSERT_NE(dc, nullptr);
  EXPECT_EQ(sim::GdiObjects(*p).dcs, before.dcs + 1);
  EXPECT_FALSE(gdi.DeleteDC(dc)) << "released, never deleted";
  EXPECT_EQ(ui.ReleaseDC(nullptr, dc), 1);
  EXPECT_EQ(ui.ReleaseDC(nullptr, dc), 0);
  EXPECT_EQ(sim::GdiObjects(*p), before);
}

TEST_F(SimScreenTest, TheWorkAreaIsTheScreenLessTheTaskbarOnAnyEdge) {
  RECT r{};
  ASSERT_TRUE(ui.SystemParametersInfoW(SPI_GETWORKAREA, 0, &r, 0));
  EXPECT_EQ(r.bottom, 1040);
  EXPECT_EQ(ui.GetSystemMetrics(SM_CYFULLSCREEN), 1040 - 23);
  sim::Appearance look = m.GetAppearance();
  sim::PlaceTaskbar(look, ABE_LEFT, RGB(0, 0, 0));
  m.SetAppearance(look);
  ASSERT_TRUE(ui.SystemParametersInfoW(SPI_GETWORKAREA, 0, &r, 0));
  EXPECT_EQ(r.left, 40);
  EXPECT_EQ(r.right, 1920);
  EXPECT_EQ(r.bottom, 1080);
  EXPECT_EQ(ui.GetSystemMetrics(SM_CXFULLSCREEN), 1880);
}

TEST_F(SimScreenTest, TheMouseReachesTheTopMostWindowUnderItOrTheCapture) {
  HWND below = Popup(L"below", 0, 0, 100, 100);
  HWND above = Popup(L"above", 50, 50, 100, 100);
  HWND hidden = Popup(L"hidden", 0, 0, 300, 300);
  ui.ShowWindow(below, SW_SHOW);
  ui.ShowWindow(above, SW_SHOW);
  (void)hidden;  // never shown: never under the mouse
  EXPECT_EQ(screen.WindowAt(1, {60, 60}), above) << "the newer of two";
  ui.SetWindowPos(below, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  EXPECT_EQ(screen.WindowAt(1, {60, 60}), below) << "a top-most window before the newer";
  EXPECT_EQ(screen.WindowAt(1, {120, 120}), above);
  EXPECT_EQ(screen.WindowAt(1, {250, 250}), nullptr);
  EXPECT_FALSE(screen.PressLeft(1, {250, 250}));

  ASSERT_TRUE(screen.PressLeft(1, {60, 70}));
  auto down = Taken(below, WM_LBUTTONDOWN);
  ASSERT_EQ(down.size(), 1u);
  EXPECT_EQ(down[0].lParam, MAKELPARAM(60, 70));
  EXPECT_EQ(down[0].wParam, static_cast<WPARAM>(MK_LBUTTON));
  POINT cursor{};
  ASSERT_TRUE(ui.GetCursorPos(&cursor));
  EXPECT_EQ(cursor.x, 60);

  // With the capture, a move far away still goes to the capturing window, in its client
  // coordinates (negative ones included).
  ui.SetCapture(above);
  ASSERT_TRUE(screen.MoveMouse(1, {10, 20}));
  auto moved = Taken(above, WM_MOUSEMOVE);
  ASSERT_EQ(moved.size(), 1u);
  EXPECT_EQ(static_cast<short>(LOWORD(moved[0].lParam)), -40);
  EXPECT_EQ(static_cast<short>(HIWORD(moved[0].lParam)), -30);
  ui.ReleaseCapture();
  ASSERT_TRUE(screen.ReleaseLeft(1, {10, 20}));
  EXPECT_EQ(Taken(below, WM_LBUTTONUP).size(), 1u);
}

TEST_F(SimScreenTest, LayeredWindowsAndTooltipsAreRecordedOnTheDesktop) {
  HWND w = Popup(L"pic", 5, 6, 2, 2, WS_EX_LAYERED);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = 2;
  bi.bmiHeader.biHeight = -2;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP dib = gdi.CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  static_cast<DWORD*>(bits)[3] = 0x80402010u;
  HDC dc = gdi.CreateCompatibleDC(nullptr);
  HGDIOBJ old = gdi.SelectObject(dc, dib);
  SIZE size{2, 2};
  POINT src{0, 0};
  BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  SIZE tooBig{3, 2};
  EXPECT_FALSE(ui.UpdateLayeredWindow(w, nullptr, nullptr, &tooBig, dc, &src, 0, &blend, ULW_ALPHA));
  ASSERT_TRUE(ui.UpdateLayeredWindow(w, nullptr, nullptr, &size, dc, &src, 0, &blend, ULW_ALPHA));
  ui.ShowWindow(w, SW_SHOW);
  ui.ShowWindow(w, SW_SHOW);  // no change, no record
  ui.SetWindowPos(w, nullptr, 7, 8, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  ui.ShowWindow(w, SW_HIDE);
  gdi.SelectObject(dc, old);
  gdi.DeleteDC(dc);
  gdi.DeleteObject(dib);
  EXPECT_EQ(m.GetDesktop().Texts(1, sim::desktop_kind::kLayered),
            (Texts{L"pic drawn at (5, 6) 2x2, centre 0x80402010", L"pic shown",
                   L"pic moved to (7, 8)", L"pic hidden"}));

  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES};
  ASSERT_TRUE(ui.InitCommonControlsEx(&icc));
  ASSERT_TRUE(ui.InitCommonControlsEx(&icc)) << "again is fine";
  HWND tip = ui.CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP, CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, w, nullptr, nullptr,
                                nullptr);
  ASSERT_NE(tip, nullptr);
  wchar_t text[] = L"hello";
  TOOLINFOW ti{};
  ti.cbSize = sizeof(ti);
  ti.uId = 1;
  ti.lpszText = text;
  // Activating without a tool shows nothing; updating an unknown tool changes nothing.
  ui.SendMessageW(tip, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&ti));
  EXPECT_EQ(ui.SendMessageW(tip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&ti)), 0);
  ui.SendMessageW(tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
  ui.SendMessageW(tip, TTM_TRACKPOSITION, 0, MAKELPARAM(30, 40));
  ui.SendMessageW(tip, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&ti));
  ui.DestroyWindow(tip);
  EXPECT_EQ(m.GetDesktop().Texts(1, sim::desktop_kind::kTooltip),
            (Texts{L"shown: \"hello\" at (30, 40)", L"hidden"}));
  EXPECT_FALSE(screen.TipOf(tip));
}

}  // namespace
