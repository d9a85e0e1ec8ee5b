// What the tray plug-in stand-ins are told about their machine: the plug-ins registered under
// HKLM\SOFTWARE\Veridane\VDNX\Plugins\TrayIcon and how each behaves.
//
// Read from the machine description (every member optional but "clsid"; absent members keep
// the defaults shown):
//
//   {
//     "trayPlugins": [{"clsid": "{8E4C0B0A-5D1E-4B52-9E0F-2F6A1C3D4E01}",
//                      "name": "Vault",
//                      "path": "C:\\Program Files\\Veridane\\Vault\\VaultTray.dll",
//                      "installed": true,
//                      "roles": ["menu", "hostAware", "subscriber"],
//                      "items": ["Open vault"], "addResult": 0, "count": 1,
//                      "execute": "notify", "subscribeResult": 0, "blockCreationMs": 0}]
//   }
//
// "roles" defaults to ["menu"]; "count" to the number of items; "execute" is "record" (the
// command is only recorded), "notify" (a notification through the host it was given),
// "console" (the console through the host, with the item text as command) or "throw".
// "blockCreationMs" keeps the loading thread inside the object's creation that long (virtual
// time), as a plug-in that hangs while it starts. "name" defaults to the CLSID text, "path" to "C:\Program Files\Veridane\<name>.dll".
// Results take a number or a "0x" text.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/win_types.h"

namespace plugin_standin {

enum class ExecuteAction { Record, Notify, Console, Throw };

struct TrayPluginDesc {
  std::wstring clsid;
  std::wstring name;
  std::wstring path;
  bool installed = true;
  bool menu = true;
  bool hostAware = false;
  bool subscriber = false;
  std::vector<std::wstring> items;
  HRESULT addResult = S_OK;
  UINT count = 0;
  ExecuteAction execute = ExecuteAction::Record;
  HRESULT subscribeResult = S_OK;
  DWORD blockCreationMs = 0;
};

struct TrayPluginsDescription {
  std::vector<TrayPluginDesc> plugins;

  // Throws TrayPluginsDescriptionError on malformed input; "{}" is no plug-in.
  static TrayPluginsDescription FromJson(const std::string& json);
};

class TrayPluginsDescriptionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace plugin_standin
