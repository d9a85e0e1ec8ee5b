// The agent's resource module "VdAgentRes.dll" on the simulated machine: the texts of
// app/res/agent_strings.h, the prompts of app/res/agent_dialogs.h and the tray icons of
// app/res/agent_icons.h, the same tables the
// real module is built from, so the agent finds on the simulated machine what it finds in the
// built DLL.
//
//   agent_res_sim::InstallAgentResources(machine, L"C:\\Program Files\\...\\VdAgentRes.dll");
#pragma once

#include <iterator>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "app/res/agent_dialogs.h"
#include "app/res/agent_icons.h"
#include "app/res/agent_strings.h"
#include "platform/sim/machine.h"
#include "platform/sim/module_table.h"

namespace agent_res_sim {

// Icon resource id to its images, 16 pixels before 32, rows top-down.
inline sim::ModuleTable::Icons AgentIcons() {
  sim::ModuleTable::Icons icons;
  for (const auto& image : app_res::kAgentIcons) {
    sim::IconImage img{image.size, image.size, {}};
    img.argb.reserve(static_cast<std::size_t>(image.size) * static_cast<std::size_t>(image.size));
    for (int y = 0; y < image.size; ++y)
      for (int x = 0; x < image.size; ++x) img.argb.push_back(app_res::IconPixel(image, x, y));
    icons[image.id].push_back(std::move(img));
  }
  return icons;
}

inline sim::DialogControl::Kind SimKind(app_res::PromptControlKind kind) {
  switch (kind) {
    case app_res::PromptControlKind::Text:
      return sim::DialogControl::Kind::Text;
    case app_res::PromptControlKind::CheckBox:
      return sim::DialogControl::Kind::CheckBox;
    case app_res::PromptControlKind::Link:
      return sim::DialogControl::Kind::Link;
    case app_res::PromptControlKind::Button:
      break;
  }
  return sim::DialogControl::Kind::Button;
}

// Template id to the dialog's template (the prompts and the About box), controls in the
// script's order.
inline sim::ModuleTable::Dialogs AgentDialogs() {
  sim::ModuleTable::Dialogs dialogs;
  for (const auto& d : app_res::kAgentDialogs) {
    sim::DialogTemplate tpl{d.caption, {}};
    for (const auto& c : app_res::PromptControls(d))
      tpl.controls.push_back(sim::DialogControl{c.id, SimKind(c.kind), c.text});
    dialogs[d.id] = std::move(tpl);
  }
  sim::DialogTemplate about{VD_TEXT_ABOUT_CAPTION, {}};
  for (const auto& c : app_res::AboutControls())
    about.controls.push_back(sim::DialogControl{c.id, SimKind(c.kind), c.text});
  dialogs[IDD_ABOUT] = std::move(about);
  return dialogs;
}

// Installs the module at `dllPath` with every text, every prompt and every tray icon.
inline void InstallAgentResources(sim::Machine& m, const std::wstring& dllPath) {
  m.Modules().Install(dllPath, {},
                      sim::ModuleTable::Strings(std::begin(app_res::kAgentStrings),
                                                std::end(app_res::kAgentStrings)));
  for (auto& [id, tpl] : AgentDialogs()) m.Modules().SetDialog(dllPath, id, std::move(tpl));
  for (auto& [id, images] : AgentIcons()) m.Modules().SetIcon(dllPath, id, std::move(images));
}

}  // namespace agent_res_sim
