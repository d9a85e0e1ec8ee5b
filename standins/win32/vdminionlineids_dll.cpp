// VdMiniOnlineIds.dll: the password manager's quick links, standing in without the password
// manager. Each call is one line of VdMiniOnlineIds.log beside the DLL:
// "quick-link <entry id> <number>" (a null entry id is the empty text).
#include <windows.h>

#include <string>

#include "standins/win32/beside_log.h"
#include "support/suite_components.h"

extern "C" HRESULT WINAPI VdmoiStandin_LaunchQuickLink(BSTR bstrEntryId, LONG number) {
  standins::AppendBesideLog(L"VdMiniOnlineIds.log",
                            L"quick-link " + std::wstring(bstrEntryId ? bstrEntryId : L"") + L" " +
                                std::to_wstring(number));
  return S_OK;
}
