// VDNXUtils.dll: the suite's sound utility, standing in without sound. Each event is one
// line of VDNXUtils.log beside the DLL ("sound success", "sound failure", "sound quality",
// "sound <n>").
#include <windows.h>

#include <string>

#include "standins/win32/beside_log.h"

extern "C" HRESULT WINAPI VdnxStandin_VDPlayEventSound(DWORD dwEvent) {
  const wchar_t* names[] = {L"success", L"failure", L"quality"};
  const std::wstring text =
      dwEvent >= 1 && dwEvent <= 3 ? names[dwEvent - 1] : std::to_wstring(dwEvent);
  standins::AppendBesideLog(L"VDNXUtils.log", L"sound " + text);
  return S_OK;
}
