// VDFstCon.dll: the fast-connect component, standing in as a harmless rundll-style entry
// that notes it ran in VDFstCon.log beside the DLL.
#include <windows.h>

#include "standins/win32/beside_log.h"

extern "C" void CALLBACK VdfcStandin_VDFCRun(HWND, HINSTANCE, LPSTR, int) {
  standins::AppendBesideLog(L"VDFstCon.log", L"VDFCRun");
}
