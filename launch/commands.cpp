#include "launch/commands.h"

#include "core/own_dir.h"
#include "core/taskbar.h"
#include "launch/about_box.h"
#include "launch/launch_app.h"
#include "platform/handles.h"
#include "support/branding_strings.h"
#include "support/result_error.h"
#include "support/trace/trace.h"
#include "support/vdfp/vdfp_api.h"

namespace CLI {

namespace {

HRESULT LaunchConsole(core::CAgentProcess& process, const std::wstring& args) {
  core::FocusTaskbar(process);
  return LAUNCHAPPID::LaunchApp(process, LAUNCHAPPID::Console, args) ? S_OK : E_FAIL;
}

}  // namespace

std::wstring EnrollmentPage(DWORD low, DWORD high) {
  if (high != 0) return L"";
  switch (low) {
    case 0x1:
      return L"{92BF868E-7C95-4dba-810F-158A10350477}";
    case 0x2:
      return L"{FF45399C-4E0E-4D88-A3D4-7CBB2B09681F}";
    case 0x4:
    case 0x20:
    case 0x100:
      return L"{997948C3-DC26-46A5-AE18-83CB201C097F}";
    case 0x8:
      return L"{C3D91C3D-AD9A-4CFD-BFD0-7BCBE70B87E0}";
    case 0x80:
      return L"{9F5C6C1F-1E53-44B0-ADB1-CB6E346A4837}";
    case 0x200:
      return L"{3FF58389-4A53-48C0-AFED-CA31A432DEF8}";
    case 0x800:
      return L"{DC721D64-CBB2-4C73-AA43-3C99D11152EA}";
    default:
      return L"";
  }
}

HRESULT ShowAbout(core::CAgentProcess& process) {
  VDTraceNS::CScope ts("CLI::ShowAbout");
  core::FocusTaskbar(process);
  ThrowIfFailed(process.AuthLibrary().VDFPInit());
  auto& ui = process.Platform().Ui();
  // An invisible owner keeps the About box out of the taskbar and in front.
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  // The owner does nothing but exist, and answers every message as any top-level window
  // does (creation, sizing, end of session).
  wc.lpfnWndProc = ui.DefWindowProcAddress();
  wc.hInstance = process.Instance();
  wc.lpszClassName = L"VDInvisibleParent";
  ui.RegisterClassExW(&wc);
  HWND owner = ui.CreateWindowExW(0, L"VDInvisibleParent", L"", WS_POPUP | WS_DISABLED, 0, 0, 1, 1,
                                  nullptr, nullptr, process.Instance(), nullptr);
  // The About box: branded texts, the agent's own file version, its template from the
  // agent's resource module beside the executable.
  auto& plat = process.Platform();
  wchar_t exe[MAX_PATH + 1] = {};
  const DWORD n = plat.Kernel().GetModuleFileNameW(nullptr, exe, MAX_PATH);
  const std::wstring exePath = n > 0 && n < MAX_PATH ? std::wstring(exe, n) : L"";
  const std::wstring folder = core::ModuleFolder(exePath);
  {
    support::CBrandingStrings strings(plat, folder);
    launch::CAboutBox box(plat, launch::LoadAboutTexts(plat, strings, exePath));
    std::wstring resPath = folder;
    if (!resPath.empty() && resPath.back() != L'\\') resPath += L'\\';
    resPath += support::kAgentResourceModule;
    platform::UniqueModule resources(plat.Modules());
    *resources.put() =
        plat.Modules().LoadLibraryExW(resPath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (resources)
      box.DoModal(resources.get(), owner);
    else
      ts.Msg("Cannot load %ls", resPath.c_str());
  }
  if (owner) ui.DestroyWindow(owner);
  ui.UnregisterClassW(L"VDInvisibleParent", process.Instance());
  process.AuthLibrary().VDFPTerm();
  return S_OK;
}

HRESULT OpenConsole(core::CAgentProcess& process) { return LaunchConsole(process, L""); }

HRESULT EnrollCredentials(core::CAgentProcess& process, DWORD low, DWORD high) {
  return LaunchConsole(process, EnrollmentPage(low, high));
}

HRESULT ManageCredentials(core::CAgentProcess& process) {
  return LaunchConsole(process, L"-tile:72AF293F-9D47-4B71-9C71-97232B991A83");
}

HRESULT ResetCredentials(core::CAgentProcess& process) {
  return LaunchConsole(process, L"-mode:UserReset");
}

HRESULT StartRecovery(core::CAgentProcess& process) {
  return LaunchConsole(process, L"{77CEA7E9-B930-4DBD-953F-BCFE32667182}");
}

}  // namespace CLI
