#include "app/agent_main.h"

#include <cwctype>
#include <string>

#include "app/agent_module.h"
#include "app/cli.h"
#include "app/main_window.h"
#include "core/messages.h"
#include "kiosk/kiosk_session.h"
#include "platform/handles.h"
#include "support/editions/editions.h"
#include "support/result_error.h"
#include "support/settings/cleanup_list.h"
#include "support/trace/trace.h"

namespace app {

namespace {

bool StartsWithNoCase(const wchar_t* text, const wchar_t* prefix, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (!text[i] || std::towlower(text[i]) != std::towlower(prefix[i])) return false;
  }
  return true;
}

// The diagnostics hook of the suite, when installed; any failure is ignored.
void StartDiagnosticsHook(platform::IPlatform& plat, HINSTANCE hInstance) {
  wchar_t sys[MAX_PATH] = {};
  const UINT n = plat.Kernel().GetSystemDirectoryW(sys, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return;
  std::wstring path(sys, n);
  if (path.back() != L'\\') path += L'\\';
  path += L"vdappver.dll";
  auto& mods = plat.Modules();
  HMODULE hook = mods.LoadLibraryExW(path.c_str(), nullptr, 0);
  if (!hook) return;
  using Start = void (*)(HINSTANCE);
  // Through void(*)(): the one function-pointer type any other converts to without a warning.
  if (FARPROC proc = mods.GetProcAddress(hook, "HeapDetectionStart"))
    reinterpret_cast<Start>(reinterpret_cast<void (*)()>(proc))(hInstance);
}

}  // namespace

SwitchScan ScanCommandLine(core::CAgentProcess& process, const wchar_t* cmdLine) {
  SwitchScan scan;
  if (!cmdLine) return scan;
  for (const wchar_t* p = cmdLine; *p; ++p) {
    if (*p != L'-' && *p != L'/') continue;
    // The switch is the whole rest of the line, not only the next word.
    const wchar_t* text = p + 1;
    if (CLI::Handle(process, text)) {
      scan.handledCommand = true;
      return scan;
    }
    if (StartsWithNoCase(text, L"RegServer", 9))
      scan.mode = RegisterMode::Register;
    else if (StartsWithNoCase(text, L"UnRegServer", 11))
      scan.mode = RegisterMode::Unregister;
    else
      scan.mode = RegisterMode::None;  // every switch decides afresh: the last one wins
    if (StartsWithNoCase(text, L"NoWizard", 8)) scan.noWizard = true;
    // Scanning goes on inside the switch text, so a '-' in it starts another switch.
  }
  return scan;
}

bool CheckLowProfile(core::CAgentProcess& process) {
  if (EDITIONS::IsInstalledProduct(process.Editions(), EDITIONS::kPrintvue) ||
      EDITIONS::IsInstalledProduct(process.Editions(), EDITIONS::kLumeraLite)) {
    process.LowProfileMode = true;
    process.NoWizardMode = true;
  }
  return process.LowProfileMode;
}

bool CheckSafeMode(platform::IPlatform& plat) {
  VDTraceNS::CScope ts("CheckSafeMode");
  try {
    ts.Msg("Options=0x%08X", 0u);
    const int cleanBoot = plat.Ui().GetSystemMetrics(SM_CLEANBOOT);
    ts.Msg("bRes=%lu", static_cast<unsigned long>(cleanBoot != 0));
    return cleanBoot != 0;
  } catch (...) {
    ts.Msg("*** exception()");
    return false;
  }
}

void RunMainLoop(core::CAgentProcess& process) {
  VDTraceNS::CScope ts("RunMainLoop");
  auto& ui = process.Platform().Ui();
  CExceptionSafeWindow<CVdAgentMain> window(process);
  if (!window.CreateMainWindow()) {
    ts.Msg("Main window creation failed");
  } else {
    MSG msg{};
    for (;;) {
      const BOOL got = ui.GetMessageW(&msg, nullptr, 0, 0);
      if (got == 0) break;      // WM_QUIT, posted by the window's WM_DESTROY
      if (got == -1) continue;  // an error: keep going
      ui.TranslateMessage(&msg);
      ui.DispatchMessageW(&msg);
    }
  }
  if (window.m_hWnd && ui.IsWindow(window.m_hWnd)) window.DestroyWindow();
}

int AgentMain(platform::IPlatform& plat, HINSTANCE hInstance, LPCWSTR cmdLine, int) {
  StartDiagnosticsHook(plat, hInstance);
  VDTraceNS::CScope ts("_tWinMain");
  core::CAgentProcess process(plat, hInstance);

  const SwitchScan scan = ScanCommandLine(process, cmdLine);
  if (scan.handledCommand) return 0;
  if (scan.noWizard) process.NoWizardMode = true;

  if (CheckLowProfile(process)) ts.Msg("Low profile mode on");

  if (scan.mode == RegisterMode::Unregister) {
    const HRESULT hr = CVdAgentModule::UnregisterServer(process, process.LowProfileMode);
    if (FAILED(hr)) ts.Result("Registering COM Server", hr);
    // The uninstaller removes what the list names; a failure stops the remaining lines.
    try {
      support::AddAgentSettingsToCleanupList(plat);
    } catch (const CResultError& e) {
      ts.Result("AddCleanupLine", e.Result());
    }
    ts.Msg("RegServer/UnRegServer done.");
    return 0;
  }
  if (scan.mode == RegisterMode::Register) {
    const HRESULT hr = CVdAgentModule::RegisterServer(process, process.LowProfileMode);
    if (FAILED(hr)) ts.Result("Registering COM Server", hr);
    // The password-reset check of the start-up sequence expects this key to exist.
    auto& reg = plat.Registry();
    platform::UniqueHKey key(reg);
    reg.RegCreateKeyExW(HKEY_LOCAL_MACHINE,
                        L"SOFTWARE\\Veridane\\Applications\\Agent\\PasswordResets", 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE | KEY_WOW64_32KEY, nullptr,
                        key.put(), nullptr);
    ts.Msg("RegServer/UnRegServer done.");
    return 0;
  }

  auto& k = plat.Kernel();
  platform::UniqueHandle instance(k, k.CreateMutexW(nullptr, FALSE, core::kAgentInstanceMutex));
  if (k.GetLastError() == ERROR_ALREADY_EXISTS) {
    instance.reset();
    ts.Msg("This is second instance, aborting.");
    return 0;
  }
  if (CheckSafeMode(plat)) {
    ts.Msg("VdAgent not allowed in safemode.");
    return 0;
  }
  if (KIOSK::IsKioskLogon(process)) {
    ts.Msg("Wizards are disabled in kiosk");
    process.NoWizardMode = true;
  }
  const HRESULT com = plat.Com().CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  {
    // A clicked toast's command is carried out as if given on the command line.
    CVdAgentModule module(
        process, [&process](const std::wstring& command) { return CLI::Handle(process, command); });
    if (SUCCEEDED(module.Init())) {
      ts.Msg("OK to run");
      RunMainLoop(process);
      module.Term();
    }
  }
  if (SUCCEEDED(com)) plat.Com().CoUninitialize();
  return 0;
}

}  // namespace app
