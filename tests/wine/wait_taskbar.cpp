// Waits for the prefix's taskbar window ("Shell_TrayWnd"), which Wine's desktop process
// makes shortly after the first program of a prefix starts. The agent waits for it at
// creation without a limit, so the harness starts agents only once it is there.
//
//   wait_taskbar.exe 20000     exit 0 when the window exists within 20 s, 1 when not
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  const DWORD limitMs = argc > 1 ? static_cast<DWORD>(std::wcstoul(argv[1], nullptr, 10)) : 20000;
  for (DWORD waited = 0;; waited += 100) {
    if (::FindWindowW(L"Shell_TrayWnd", nullptr)) return 0;
    if (waited >= limitMs) return 1;
    ::Sleep(100);
  }
}
