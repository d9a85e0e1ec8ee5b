// VDHostStandIn.exe: stands in for the suite's host service as far as the agent can see it.
// It signals the host readiness event and keeps it alive until it ends.
//
//   VDHostStandIn.exe [-delay <ms>] [-run <ms>]
//   VDHostStandIn.exe -touch <user>
//
// -delay waits before signalling (a host that starts late); -run ends the program after that
// long (default: runs until it is ended). The event is made with a null DACL, as the host
// service's is, so agents in every session may open it.
//
// -touch puts the user's finger on the reader of every process that has the stand-in
// VDFPApi.dll loaded (its window "VDFPStandInHost"): their running acquisitions get finger
// touched, image ready and completed. It exits 0 when at least one library took the touch,
// 2 when none did.
#include <windows.h>

#include <cwchar>
#include <cwctype>

namespace {

DWORD Argument(int argc, wchar_t** argv, const wchar_t* name, DWORD fallback) {
  for (int i = 1; i + 1 < argc; ++i)
    if (::_wcsicmp(argv[i], name) == 0)
      return static_cast<DWORD>(std::wcstoul(argv[i + 1], nullptr, 10));
  return fallback;
}

const wchar_t* StringArgument(int argc, wchar_t** argv, const wchar_t* name) {
  for (int i = 1; i + 1 < argc; ++i)
    if (::_wcsicmp(argv[i], name) == 0) return argv[i + 1];
  return nullptr;
}

int Touch(const wchar_t* user) {
  int reached = 0;
  COPYDATASTRUCT cds{};
  cds.dwData = 1;  // a finger touch
  cds.cbData = static_cast<DWORD>(std::wcslen(user) * sizeof(wchar_t));
  cds.lpData = const_cast<wchar_t*>(user);
  for (HWND w = nullptr; (w = ::FindWindowExW(nullptr, w, L"VDFPStandInHost", nullptr));) {
    DWORD_PTR taken = 0;
    if (::SendMessageTimeoutW(w, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds), SMTO_ABORTIFHUNG,
                              10000, &taken) &&
        taken)
      ++reached;
  }
  return reached ? 0 : 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (const wchar_t* user = StringArgument(argc, argv, L"-touch")) return Touch(user);
  const DWORD delayMs = Argument(argc, argv, L"-delay", 0);
  const DWORD runMs = Argument(argc, argv, L"-run", INFINITE);
  SECURITY_DESCRIPTOR sd;
  ::InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
  ::SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE);
  SECURITY_ATTRIBUTES sa{sizeof(sa), &sd, FALSE};
  HANDLE ready =
      ::CreateEventW(&sa, TRUE, FALSE, L"Global\\{AA2FD877-ED65-4499-9C86-D90FB5CC1F9D}");
  if (!ready) return 1;
  ::Sleep(delayMs);
  ::SetEvent(ready);
  ::Sleep(runMs);
  ::ResetEvent(ready);
  ::CloseHandle(ready);
  return 0;
}
