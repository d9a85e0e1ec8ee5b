// The tray menu's items by installation: standalone workstation, Oemline, plug-ins.
#include "tests/tray/tray_fixture.h"

namespace traytest {
namespace {

struct MenuCase {
  const char* name;
  bool offerHelp;
  UINT pluginItems;
  std::vector<UINT_PTR> ids;  // 0: a separator
};

TEST_F(TrayTest, MenuItemsFollowHelpAndPlugIns) {
  const std::vector<MenuCase> cases = {
      {"plain", true, 0, {32788, 0, 57664, 57670}},
      {"standalone or Oemline", false, 0, {32788, 0, 57664}},
      {"two plug-in items", true, 2, {32788, 0, 20000, 20001, 0, 57664, 57670}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    plat.ui.menus.clear();
    tray::TrayMenuParts parts;
    parts.text = [](UINT id) { return L"#" + std::to_wstring(id); };
    parts.offerHelp = c.offerHelp;
    parts.addPluginItems = [&](HMENU m, UINT& first, UINT& last) {
      EXPECT_EQ(first, 20000u);
      EXPECT_EQ(last, 20000u);
      for (UINT i = 0; i < c.pluginItems; ++i) plat.ui.AppendMenuW(m, MF_STRING, last++, L"p");
    };
    UINT first = 1, last = 1;
    HMENU menu = tray::BuildTrayMenu(plat.ui, parts, first, last);
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(first, 20000u);
    EXPECT_EQ(last, 20000u + c.pluginItems);
    std::vector<UINT_PTR> ids;
    for (auto& item : plat.ui.menus.back()) ids.push_back(item.flags & MF_SEPARATOR ? 0 : item.id);
    EXPECT_EQ(ids, c.ids);
    EXPECT_EQ(plat.ui.menus.back().front().text, L"#193");
    EXPECT_EQ(plat.ui.defaultItem, 0);
  }
}

TEST_F(TrayTest, TheOemlineKeyIsFoundInTheSuiteView) {
  EXPECT_FALSE(tray::OemlineSecurityManagerInstalled(plat.Registry()));
  machine.Registry().SetDword(L"HKLM\\SOFTWARE\\Veridane\\Products\\Oemline Security Manager",
                              L"Installed", 1);
  EXPECT_TRUE(tray::OemlineSecurityManagerInstalled(plat.Registry()));
}

}  // namespace
}  // namespace traytest
