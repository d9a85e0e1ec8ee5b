// A kiosk unlock program for the end-to-end test: appends "unlocked" to the file that the
// environment variable VD_UNLOCK_PROBE_LOG names, so the test counts how often it ran.
#include <windows.h>

int wmain() {
  wchar_t path[MAX_PATH] = {};
  const DWORD n = ::GetEnvironmentVariableW(L"VD_UNLOCK_PROBE_LOG", path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return 2;
  HANDLE f = ::CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return 1;
  const char line[] = "unlocked\r\n";
  DWORD written = 0;
  const BOOL ok = ::WriteFile(f, line, sizeof(line) - 1, &written, nullptr);
  ::CloseHandle(f);
  return ok ? 0 : 1;
}
