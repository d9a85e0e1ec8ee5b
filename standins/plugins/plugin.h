// One tray plug-in stand-in, platform-free: the class object and the plug-in objects it
// makes, doing what their TrayPluginDesc says. The binding (simulated machine or Windows DLL)
// gives it a site for what touches the machine.
//
//   auto site = std::make_shared<MySite>();
//   return plugin_standin::CreateClassObject(desc, site, riid, ppv);   // from DllGetClassObject
#pragma once

#include <memory>
#include <string>

#include "standins/plugins/description.h"
#include "support/tray_plugin_contract.h"

namespace plugin_standin {

class IPluginSite {
 public:
  virtual ~IPluginSite() = default;
  // A line of what the plug-in did, without its name (the model adds it).
  virtual void Record(const std::wstring& text) = 0;
  virtual void AppendMenuItem(HMENU menu, UINT id, const std::wstring& text) = 0;
  // Keeps the calling thread for `ms` (a plug-in hanging while it starts).
  virtual void Block(DWORD ms) = 0;
  // Counts the plug-in objects alive (+1 made, -1 gone).
  virtual void CountObject(int delta) = 0;
};

// The class object of `desc` (answers IUnknown and IClassFactory).
HRESULT CreateClassObject(const TrayPluginDesc& desc, std::shared_ptr<IPluginSite> site,
                          REFIID riid, void** ppv);

}  // namespace plugin_standin
