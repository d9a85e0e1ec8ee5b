// The suite's console, standing in: appends the command line it was started with to
// "<own name>.log" beside itself and exits with 0. Built as the console of the Lumera
// editions; a copy under another console's name logs under that name.
#include <windows.h>

#include <string>

#include "standins/win32/beside_log.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  wchar_t path[MAX_PATH] = {};
  const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring name(path, n);
  name = name.substr(name.find_last_of(L'\\') + 1);
  const size_t dot = name.find_last_of(L'.');
  if (dot != std::wstring::npos) name.resize(dot);
  standins::AppendBesideLog((name + L".log").c_str(), ::GetCommandLineW());
  return 0;
}
