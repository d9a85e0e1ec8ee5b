// VDRunDll.exe: the suite's runner of DLL entries, standing in as a recorder: it appends its
// whole command line to VDRunDll.log beside itself and exits 0, so a test sees exactly what
// the agent started.
#include <windows.h>

#include "standins/win32/beside_log.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  standins::AppendBesideLog(L"VDRunDll.log", ::GetCommandLineW());
  return 0;
}
