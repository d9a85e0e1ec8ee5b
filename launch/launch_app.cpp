#include "launch/launch_app.h"

#include <vector>

#include "support/editions/editions.h"
#include "support/settings/settings_section.h"
#include "support/trace/trace.h"

namespace LAUNCHAPPID {

namespace {

constexpr const wchar_t* kAgent = L"%NXWDINSTALLPATH_X86%VdAgent.exe";
constexpr const wchar_t* kMobileEnrollmentConsole =
    L"%NXWDINSTALLPATH%Veridane.Lumera.Enrollment.Mobile.exe";
constexpr const wchar_t* kLumeraConsole = L"%NXWDINSTALLPATH%Veridane.Lumera.Console.exe";
constexpr const wchar_t* kOemClientConsole = L"%NXWDINSTALLPATH_X86%VdClientConsole.exe";
constexpr const wchar_t* kOemConsole = L"%NXWDINSTALLPATH%Veridane.Oemline.Console.exe";

std::wstring Expand(platform::IKernel& k, const wchar_t* s) {
  const DWORD needed = k.ExpandEnvironmentStringsW(s, nullptr, 0);
  if (needed == 0) return s;
  std::vector<wchar_t> buffer(needed);
  if (k.ExpandEnvironmentStringsW(s, buffer.data(), needed) > needed) return s;
  return buffer.data();
}

// The window the launched program's error messages would belong to: the calling thread's
// active window, which is the foreground window when the thread has one there.
HWND ActiveWindow(platform::IPlatform& plat) {
  auto& ui = plat.Ui();
  HWND foreground = ui.GetForegroundWindow();
  if (foreground &&
      ui.GetWindowThreadProcessId(foreground, nullptr) == plat.Kernel().GetCurrentThreadId())
    return foreground;
  return nullptr;
}

}  // namespace

bool IsAppInstalled(core::CAgentProcess& process, const wchar_t* path) {
  VDTraceNS::CScope ts("LAUNCHAPPID::IsAppInstalled");
  auto& k = process.Platform().Kernel();
  const std::wstring file = Expand(k, path);
  ts.Msg("Detecting '%ls' ... ", file.c_str());
  const DWORD attributes = k.GetFileAttributesW(file.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring GetProcessName(core::CAgentProcess& process, int appId) {
  switch (appId) {
    case Agent:
      return kAgent;
    case Console:
      if (EDITIONS::IsInstalled(process.Editions(), EDITIONS::kLumeraMobileEnrollment))
        return kMobileEnrollmentConsole;
      if (EDITIONS::IsLumeraFamilyInstalled(process.Editions()) ||
          EDITIONS::IsLumeraADFamilyInstalled(process.Editions()))
        return kLumeraConsole;
      if (EDITIONS::IsInstalled(process.Editions(), EDITIONS::kOemlineSecurityManager))
        return IsAppInstalled(process, kOemClientConsole) ? kOemClientConsole : kOemConsole;
      return L"";
    default:
      return L"";
  }
}

bool LaunchApp(core::CAgentProcess& process, int appId, const std::wstring& arguments) {
  VDTraceNS::CScope ts("LAUNCHAPPID::LaunchApp");
  const std::wstring executable = GetProcessName(process, appId);
  if (executable.empty()) {
    ts.Msg("Invalid process name for ID: %d", appId);
    return false;
  }
  return LaunchProcessName(process, executable, arguments);
}

bool LaunchProcessName(core::CAgentProcess& process, const std::wstring& executable,
                       const std::wstring& arguments) {
  VDTraceNS::CScope ts("LAUNCHAPPID::LaunchProcessName");
  auto& plat = process.Platform();
  // Whoever opens a suite application has got past the first-run experience.
  CKwAppSettings(plat).SetOOBEPassed();

  SHELLEXECUTEINFOW sei{};
  sei.cbSize = sizeof(sei);
  sei.fMask = SEE_MASK_DOENVSUBST | SEE_MASK_FLAG_NO_UI;
  sei.hwnd = ActiveWindow(plat);
  sei.lpVerb = L"open";
  sei.lpFile = executable.c_str();
  sei.lpParameters = arguments.c_str();
  sei.nShow = SW_SHOWNORMAL;
  ts.Msg("Launching %ls %ls", executable.c_str(), arguments.c_str());
  HRESULT hr = S_OK;
  if (!plat.Shell().ShellExecuteExW(&sei)) {
    // A failure without an error code is still a failure.
    const DWORD error = plat.Kernel().GetLastError();
    hr = error ? HRESULT_FROM_WIN32(error) : E_FAIL;
  }
  ts.Msg("Launch hr=0x%X", static_cast<unsigned>(hr));
  return SUCCEEDED(hr);
}

}  // namespace LAUNCHAPPID
