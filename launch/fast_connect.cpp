#include "launch/fast_connect.h"

#include <string>

#include "support/registry_read.h"
#include "support/suite_components.h"
#include "support/trace/trace.h"

namespace FASTCONNECT {

namespace {

bool FileExists(platform::IKernel& k, const std::wstring& path) {
  const DWORD attributes = k.GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

HRESULT LaunchFastConnect_ifAvailable(core::CAgentProcess& process, const wchar_t* entry) {
  VDTraceNS::CScope ts("FASTCONNECT::LaunchFastConnect_ifAvailable");
  auto& plat = process.Platform();
  auto& k = plat.Kernel();
  // The installer writes the value from its 32-bit view, like every suite key.
  std::wstring bin =
      support::ReadString(plat.Registry(), HKEY_LOCAL_MACHINE, L"SOFTWARE\\Veridane\\Applications",
                          L"BinDir", 0, MAX_PATH)
          .value_or(L"");
  ts.Msg("VDBinPath from registry: %ls.", bin.c_str());
  if (!bin.empty() && bin.back() != L'\\') bin += L'\\';

  const std::wstring dll = bin + kVDFastConnectDll;
  const std::wstring runner = bin + kVDRunDllExe;
  const bool dllExists = !bin.empty() && FileExists(k, dll);
  ts.Msg("Does FastConnect DLL exist? : %ls.", dllExists ? L"Yes" : L"No");
  const bool runnerExists = !bin.empty() && FileExists(k, runner);
  ts.Msg("Does FastConnect DLL exist? : %ls.", runnerExists ? L"Yes" : L"No");
  // Launching with a piece missing would only show the shell's error box to the user.
  if (!dllExists || !runnerExists)
    return ts.Result("LaunchFastConnect", HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));

  const std::wstring params = L"\"" + dll + L"\" " + (entry ? entry : L"");
  ts.Msg("Execute params \"%ls\"", params.c_str());
  k.SetLastError(ERROR_SUCCESS);
  HINSTANCE h = plat.Shell().ShellExecuteW(nullptr, L"open", runner.c_str(), params.c_str(),
                                           nullptr, SW_SHOWNORMAL);
  if (reinterpret_cast<INT_PTR>(h) > 32) return S_OK;
  // A failure that leaves no error must not read as success.
  const DWORD err = k.GetLastError();
  return ts.Result("ShellExecuteW", err ? HRESULT_FROM_WIN32(err) : E_FAIL);
}

}  // namespace FASTCONNECT
