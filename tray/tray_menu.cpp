#include "tray/tray_menu.h"

#include "platform/handles.h"
#include "support/registry_read.h"
#include "support/trace/trace.h"

namespace tray {

HMENU BuildTrayMenu(platform::IUi& ui, const TrayMenuParts& parts, UINT& first, UINT& last) {
  VDTraceNS::CScope ts("CVdAgentMain::BuildTrayMenu");
  auto text = [&](UINT id) { return parts.text ? parts.text(id) : std::wstring(); };
  first = last = kFirstPluginCommand;
  HMENU menu = ui.CreatePopupMenu();
  if (!menu) {
    ts.Msg("CreatePopupMenu failed");
    return nullptr;
  }
  ui.AppendMenuW(menu, MF_STRING, kOpenConsoleCommand, text(kOpenConsoleString).c_str());
  ui.AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  if (parts.addPluginItems) parts.addPluginItems(menu, first, last);
  if (last != first) ui.AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  ui.AppendMenuW(menu, MF_STRING, kAboutCommand, text(kAboutString).c_str());
  if (parts.offerHelp) ui.AppendMenuW(menu, MF_STRING, kHelpCommand, text(kHelpString).c_str());
  ui.SetMenuDefaultItem(menu, 0, TRUE);
  return menu;
}

bool OemlineSecurityManagerInstalled(platform::IRegistry& reg) {
  platform::UniqueHKey key(reg);
  return reg.RegOpenKeyExW(HKEY_LOCAL_MACHINE, kOemlineKey, 0, KEY_READ | support::SuiteView(reg),
                           key.put()) == ERROR_SUCCESS;
}

}  // namespace tray
