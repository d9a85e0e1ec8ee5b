// The agent's resource module "VdAgentRes.dll" on the simulated machine: the texts of
// app/res/agent_strings.h, the prompts of app/res/agent_dialogs.h and the tray icons of
// app/res/agent_icons.h, the same tables the
// real module is built from, so the agent finds on the simulated machine what it finds in the
// built DLL. The executable beside it gets the avatar's strip of app/res/agent_avatar.h.
//
//   agent_res_sim::InstallAgentResources(machine, L"C:\\Program Files\\...\\VdAgentRes.dll");
#pragma once

#include <iterator>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "app/res/agent_avatar.h"
#include "app/res/agent_dialogs.h"
#include "app/res/agent_icons.h"
#include "app/res/agent_strings.h"
#include "platform/sim/machine.h"
#include "platform/sim/module_table.h"
#include "platform/sim/screen.h"

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

// The avatar's strip as the executable holds it: straight alpha, rows top-down.
inline sim::IconImage AgentAvatar() {
  constexpr int kWidth = app_res::kAvatarSide * app_res::kAvatarFrames;
  sim::IconImage img{kWidth, app_res::kAvatarSide, {}};
  for (int y = 0; y < app_res::kAvatarSide; ++y)
    for (int x = 0; x < kWidth; ++x) img.argb.push_back(app_res::AvatarPixel(x, y));
  return img;
}

// "look <n>" for a picture that is frame n of the strip as a layered window shows it
// (premultiplied alpha, actual size); empty for any other picture.
inline std::wstring AvatarLookName(const sim::Screen::Picture& p) {
  constexpr int kSide = app_res::kAvatarSide;
  if (p.width != kSide || p.height != kSide) return L"";
  auto premultiplied = [](std::uint32_t v) {
    const std::uint32_t a = v >> 24;
    auto c = [&](int shift) { return (((v >> shift) & 0xFFu) * a / 255) << shift; };
    return (a << 24) | c(16) | c(8) | c(0);
  };
  for (int f = 0; f < app_res::kAvatarFrames; ++f) {
    bool same = true;
    for (int y = 0; y < kSide && same; ++y)
      for (int x = 0; x < kSide && same; ++x)
        same = p.At(x, y) == premultiplied(app_res::AvatarPixel(f * kSide + x, y));
    if (same) return L"look " + std::to_wstring(f);
  }
  return L"";
}

// The avatar's strip as bitmap 108 of the executable at `exePath`; the desktop names the
// looks it shows.
inline void InstallAgentPicture(sim::Machine& m, const std::wstring& exePath) {
  m.Modules().SetBitmap(exePath, IDB_AVATAR, AgentAvatar());
  m.GetScreen().SetPictureNamer(&AvatarLookName);
}

// Installs the module at `dllPath` with every text, every prompt and every tray icon, and the
// avatar's strip in "VdAgent.exe" beside it.
inline void InstallAgentResources(sim::Machine& m, const std::wstring& dllPath) {
  InstallAgentPicture(m, dllPath.substr(0, dllPath.find_last_of(L'\\') + 1) + L"VdAgent.exe");
  m.Modules().Install(dllPath, {},
                      sim::ModuleTable::Strings(std::begin(app_res::kAgentStrings),
                                                std::end(app_res::kAgentStrings)));
  for (auto& [id, tpl] : AgentDialogs()) m.Modules().SetDialog(dllPath, id, std::move(tpl));
  for (auto& [id, images] : AgentIcons()) m.Modules().SetIcon(dllPath, id, std::move(images));
}

}  // namespace agent_res_sim
