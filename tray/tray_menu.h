// The tray icon's popup menu.
//
//   UINT first = tray::kFirstPluginCommand, last = first;
//   HMENU m = tray::BuildTrayMenu(ui, parts, first, last);   // the caller destroys it
#pragma once

#include <functional>
#include <string>

#include "platform/platform.h"

namespace tray {

inline constexpr UINT kOpenConsoleCommand = 32788;
inline constexpr UINT kAboutCommand = 57664;  // ID_APP_ABOUT
inline constexpr UINT kHelpCommand = 57670;   // ID_HELP
inline constexpr UINT kFirstPluginCommand = 20000;
inline constexpr UINT kOpenConsoleString = 193;
inline constexpr UINT kAboutString = 536;
inline constexpr UINT kHelpString = 535;
inline constexpr const wchar_t* kOemlineKey =
    L"SOFTWARE\\Veridane\\Products\\Oemline Security Manager";

struct TrayMenuParts {
  std::function<std::wstring(UINT)> text;  // a text of the resource module
  // Neither a standalone workstation nor an Oemline installation.
  bool offerHelp = true;
  // Adds the plug-ins' items with ids from `last` upward and leaves `last` past the ones
  // used; null: no plug-ins.
  std::function<void(HMENU menu, UINT& first, UINT& last)> addPluginItems;
};

// Open console (default), separator, plug-in items with a separator after them when there
// are any, About, Help. `first` and `last` come back as the plug-ins' range. Null when the
// menu cannot be created.
HMENU BuildTrayMenu(platform::IUi& ui, const TrayMenuParts& parts, UINT& first, UINT& last);

// The "Oemline Security Manager" product key exists (machine view of the suite).
bool OemlineSecurityManagerInstalled(platform::IRegistry& reg);

}  // namespace tray
