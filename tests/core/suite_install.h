// The suite as its installer leaves it on a simulated machine: the machine environment
// variables naming its folders, the programs in them and the installed edition. Set the
// variables before creating the processes that should see them (a process takes its
// environment when it starts).
#pragma once

#include <iterator>
#include <string>
#include <vector>

#include "app/res/agent_strings.h"
#include "platform/sim/file_system.h"
#include "platform/sim/machine.h"
#include "platform/sim/module_table.h"
#include "platform/sim/registry_store.h"

namespace suite_test {

// NXWDINSTALLPATH, the suite's binaries, and NXWDINSTALLPATH_X86, the agent's own folder:
// different folders, so a program looked up in the wrong one is not found.
inline constexpr wchar_t kBinDir[] = L"C:\\Program Files\\Veridane\\Suite\\";
inline constexpr wchar_t kAgentDir[] = L"C:\\Program Files (x86)\\Veridane\\Agent\\";

inline constexpr wchar_t kAgentExe[] = L"C:\\Program Files (x86)\\Veridane\\Agent\\VdAgent.exe";
inline constexpr wchar_t kLumeraConsole[] =
    L"C:\\Program Files\\Veridane\\Suite\\Veridane.Lumera.Console.exe";
inline constexpr wchar_t kMobileConsole[] =
    L"C:\\Program Files\\Veridane\\Suite\\Veridane.Lumera.Enrollment.Mobile.exe";
inline constexpr wchar_t kOemConsole[] =
    L"C:\\Program Files\\Veridane\\Suite\\Veridane.Oemline.Console.exe";
inline constexpr wchar_t kOemClientConsole[] =
    L"C:\\Program Files (x86)\\Veridane\\Agent\\VdClientConsole.exe";

inline void InstallFile(sim::Machine& m, const std::wstring& path) {
  m.Files().WriteFile(path, "MZ");
}

inline void SetSuiteEnvironment(sim::Machine& m) {
  m.Registry().SetString(sim::RegistryStore::kMachineEnvironmentPath, L"NXWDINSTALLPATH", kBinDir);
  m.Registry().SetString(sim::RegistryStore::kMachineEnvironmentPath, L"NXWDINSTALLPATH_X86",
                         kAgentDir);
}

// An icon of the resource module at one size: a square of `argb` on a transparent ground,
// two pixels in from each side.
inline sim::IconImage AgentIconImage(int size, DWORD argb) {
  sim::IconImage img{size, size, std::vector<DWORD>(static_cast<size_t>(size * size), 0)};
  for (int y = 2; y < size - 2; ++y)
    for (int x = 2; x < size - 2; ++x) img.argb[static_cast<size_t>(y * size + x)] = argb;
  return img;
}

// The agent's resource module "VdAgentRes.dll" with its texts and its icons 131 to 136 (16
// and 32 pixels; each a dark colour of its own, so the tray's colour rule keeps them as they
// are on a light taskbar), in `folder` (ending in a backslash): beside the executable of the
// agent that should find it.
inline void InstallAgentResources(sim::Machine& m, const std::wstring& folder = kAgentDir) {
  const std::wstring dll = folder + L"VdAgentRes.dll";
  m.Modules().Install(dll, {},
                      sim::ModuleTable::Strings(std::begin(app_res::kAgentStrings),
                                                std::end(app_res::kAgentStrings)));
  const DWORD colors[] = {0xFF1F4E79, 0xFF7A1F1F, 0xFF1F6B3A, 0xFF5A2D82, 0xFF7A5A10, 0xFF20606A};
  for (UINT id = 131; id <= 136; ++id) {
    const DWORD c = colors[id - 131];
    m.Modules().SetIcon(dll, id, {AgentIconImage(16, c), AgentIconImage(32, c)});
  }
}

// The variables, the agent with its resource module and every edition's console except the
// OEM client console.
inline void InstallSuite(sim::Machine& m) {
  SetSuiteEnvironment(m);
  for (const wchar_t* p : {kAgentExe, kLumeraConsole, kMobileConsole, kOemConsole})
    InstallFile(m, p);
  InstallAgentResources(m);
}

// The branding module names `edition` ("Lumera Kiosk", ...) as the installed product.
inline void SetInstalledProduct(sim::Machine& m, const std::wstring& edition) {
  constexpr wchar_t kDll[] = L"C:\\Program Files\\Veridane\\Brand.dll";
  m.Modules().Install(kDll, {}, {{1102, edition}});
  m.Registry().SetString(L"HKLM\\SOFTWARE\\Veridane\\Branding\\Common", L"DLLPath", kDll);
}

// The edition's key holds a Version, as its installer writes it (the 32-bit view, where a
// 32-bit agent on 64-bit Windows looks).
inline void SetEditionVersion(sim::Machine& m, const std::wstring& edition) {
  m.Registry().SetString(L"HKLM\\SOFTWARE\\WOW6432Node\\Veridane\\Products\\" + edition, L"Version",
                         L"5.2.0.100");
}

}  // namespace suite_test
