// The agent's resource module as the suite installer puts it on the simulated machine: the
// tray icons load through the drawing area with the pictures of the built module.
#include <gtest/gtest.h>

#include <memory>

#include "app/res/agent_icons.h"
#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "platform/sim/process_gdi.h"
#include "tests/core/suite_install.h"

namespace {

COLORREF AsColorRef(std::uint32_t argb) {
  return RGB((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF);
}

// Every pixel of every image, at both sizes, read back through GetIconInfo and GetPixel:
// colours where the picture is opaque, the mask set where it is transparent. A transposed or
// mirrored copy of the table fails here (the pictures are not symmetric: the reader dot).
TEST(AgentResourcesTest, TrayIconsLoadWithTheBuiltModulesPixels) {
  sim::Machine machine;
  suite_test::InstallAgentResources(machine);
  auto agent = machine.CreateProcess({});
  auto& gdi = agent->Gdi();
  const std::wstring path = std::wstring(suite_test::kAgentDir) + L"VdAgentRes.dll";
  auto res = reinterpret_cast<HINSTANCE>(agent->Modules().LoadLibraryExW(path.c_str(), nullptr, 0));
  ASSERT_NE(res, nullptr);
  for (const auto& image : app_res::kAgentIcons) {
    SCOPED_TRACE(testing::Message() << image.id << " at " << image.size);
    HICON icon = static_cast<HICON>(
        gdi.LoadImageW(res, MAKEINTRESOURCEW(image.id), IMAGE_ICON, image.size, image.size, 2));
    ASSERT_NE(icon, nullptr);
    ICONINFO ii{};
    ASSERT_TRUE(gdi.GetIconInfo(icon, &ii));
    HDC dc = gdi.CreateCompatibleDC(nullptr);
    HGDIOBJ old = gdi.SelectObject(dc, ii.hbmColor);
    int wrong = 0;
    for (int y = 0; y < image.size; ++y)
      for (int x = 0; x < image.size; ++x) {
        const std::uint32_t want = app_res::IconPixel(image, x, y);
        if ((want >> 24) && gdi.GetPixel(dc, x, y) != AsColorRef(want)) ++wrong;
      }
    gdi.SelectObject(dc, ii.hbmMask);
    for (int y = 0; y < image.size; ++y)
      for (int x = 0; x < image.size; ++x) {
        const bool transparent = (app_res::IconPixel(image, x, y) >> 24) == 0;
        if ((gdi.GetPixel(dc, x, y) == RGB(255, 255, 255)) != transparent) ++wrong;
      }
    EXPECT_EQ(wrong, 0);
    gdi.SelectObject(dc, old);
    gdi.DeleteDC(dc);
    gdi.DeleteObject(ii.hbmColor);
    gdi.DeleteObject(ii.hbmMask);
    EXPECT_TRUE(gdi.DestroyIcon(icon));
  }
  EXPECT_EQ(sim::GdiObjects(*agent), sim::GdiCounts{});
}

}  // namespace
