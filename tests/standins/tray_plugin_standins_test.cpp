// The tray plug-in stand-ins: their description, and the agent's host meeting them on the
// simulated machine (registration in the agent's view, the kept host, what they record).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ext/agent_plugins.h"
#include "platform/sim/desktop.h"
#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "standins/plugins/description.h"
#include "standins/plugins/sim_install.h"

namespace {

using plugin_standin::ExecuteAction;
using plugin_standin::TrayPluginsDescription;
using plugin_standin::TrayPluginsDescriptionError;

TEST(TrayPluginDescriptionTest, DefaultsAndRefusals) {
  EXPECT_TRUE(TrayPluginsDescription::FromJson("{}").plugins.empty());
  const auto d = TrayPluginsDescription::FromJson(
      R"({"trayPlugins": [{"clsid": "{1}", "items": ["a", "b"]},
                          {"clsid": "{2}", "name": "N", "roles": ["subscriber"], "count": 40000,
                           "addResult": "0x80004005", "execute": "console",
                           "subscribeResult": -2147467259, "installed": false,
                           "blockCreationMs": 60000}]})");
  ASSERT_EQ(d.plugins.size(), 2u);
  EXPECT_TRUE(d.plugins[0].menu);
  EXPECT_FALSE(d.plugins[0].subscriber);
  EXPECT_EQ(d.plugins[0].count, 2u);
  EXPECT_EQ(d.plugins[0].name, L"{1}");
  EXPECT_EQ(d.plugins[0].path, L"C:\\Program Files\\Veridane\\{1}.dll");
  EXPECT_EQ(d.plugins[0].execute, ExecuteAction::Record);
  EXPECT_FALSE(d.plugins[1].menu);
  EXPECT_TRUE(d.plugins[1].subscriber);
  EXPECT_EQ(d.plugins[1].count, 40000u);
  EXPECT_EQ(d.plugins[1].addResult, E_FAIL);
  EXPECT_EQ(d.plugins[1].subscribeResult, E_FAIL);
  EXPECT_EQ(d.plugins[1].execute, ExecuteAction::Console);
  EXPECT_FALSE(d.plugins[1].installed);
  EXPECT_EQ(d.plugins[0].blockCreationMs, 0u);
  EXPECT_EQ(d.plugins[1].blockCreationMs, 60000u);

  for (const char* bad : {R"({"trayPlugins": {}})", R"({"trayPlugins": [{"name": "x"}]})",
                          R"({"trayPlugins": [{"clsid": "{1}", "roles": ["boss"]}]})",
                          R"({"trayPlugins": [{"clsid": "{1}", "execute": "dance"}]})",
                          R"({"trayPlugins": [{"clsid": "{1}", "colour": 1}]})",
                          R"({"trayPlugins": [{"clsid": "{1}", "count": -1}]})",
                          R"({"trayPlugins": [{"clsid": "{1}", "blockCreationMs": 1e12}]})"})
    EXPECT_THROW(TrayPluginsDescription::FromJson(bad), TrayPluginsDescriptionError) << bad;
}

class NoWindow : public IPluginWindow {
 public:
  bool Notify(const std::wstring& title, const std::wstring& message, IUnknown*, DWORD, UINT,
              UINT) override {
    shown.push_back(title + L"|" + message);
    return true;
  }
  QUERY_USER_NOTIFICATION_STATE CheckQuietTime() override { return QUNS_ACCEPTS_NOTIFICATIONS; }
  void FocusTaskbar() override {}
  bool LaunchApp(int appId, const std::wstring& arguments) override {
    launched.push_back(std::to_wstring(appId) + L":" + arguments);
    return true;
  }
  std::vector<std::wstring> shown, launched;
};

TEST(TrayPluginStandInTest, TheAgentsHostLoadsRunsAndReleasesThem) {
  sim::Machine machine;
  auto desc = TrayPluginsDescription::FromJson(
      R"({"trayPlugins": [{"clsid": "{8E4C0B0A-5D1E-4B52-9E0F-2F6A1C3D4E01}", "name": "V",
                           "roles": ["menu", "hostAware"], "items": ["Open"], "execute": "notify"},
                          {"clsid": "{8E4C0B0A-5D1E-4B52-9E0F-2F6A1C3D4E02}", "name": "C",
                           "items": ["Go"], "execute": "console", "roles": ["menu", "subscriber"]},
                          {"clsid": "{8E4C0B0A-5D1E-4B52-9E0F-2F6A1C3D4E03}", "name": "Gone",
                           "installed": false}]})");
  auto installation = plugin_standin::InstallTrayPluginStandIns(machine, desc);
  auto proc = machine.CreateProcess({});
  NoWindow window;
  {
    sim::CurrentProcessScope asAgent(proc.get());  // the window's thread is the agent's
    CAgentPlugins plugins(*proc, window);
    plugins.Load();
    machine.RunUntilIdle();
    EXPECT_EQ(installation->LiveObjects(), 2);
    HMENU menu = proc->Ui().CreatePopupMenu();
    UINT first = kFirstPluginCommand, last = 0;
    plugins.AddTrayMenuItems(menu, first, last);
    proc->Ui().DestroyMenu(menu);
    EXPECT_EQ(last, 20002u);
    plugins.ExecTrayMenuItem(20000);
    plugins.ExecTrayMenuItem(20001);
  }
  EXPECT_EQ(installation->LiveObjects(), 0);
  EXPECT_EQ(window.shown, (std::vector<std::wstring>{L"V|Open"}));
  EXPECT_EQ(window.launched, (std::vector<std::wstring>{L"1:Go"}));
  EXPECT_EQ(machine.GetDesktop().Texts(1, plugin_standin::kPluginKind), (std::vector<std::wstring>{L"V host", L"C subscribed", L"V items 20000 1",
                                                L"C items 20001 1", L"V item 20000 \"Open\"",
                                                L"V notify 0x00000000", L"C item 20001 \"Go\"",
                                                L"C console 0x00000000"}));
}

}  // namespace
