// VDCardStandIn.exe: a hand at the card readers of the stand-in VDSCApi.dll.
//
//   VDCardStandIn.exe insert|remove|tap|plug|unplug <reader> [card]
//
// The request goes to every process that has the library loaded (card_driver.h); each
// carries it out on its own copy of the readers and posts the events to its subscribers.
// A tap takes the card off again after half a second. The card is named as in the machine
// description, or by its id; without one, insert and tap use the first card lying in no
// reader. Exit codes: 0 carried out by at least one library, 2 no library running, 3 refused
// by every library (no such reader or card, a reader holding a card already: the library
// says which with OutputDebugString), 1 a bad command line.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "standins/win32/card_driver.h"

namespace {

int Usage() {
  std::fwprintf(stderr,
                L"usage: VDCardStandIn.exe insert|remove|tap|plug|unplug <reader> [card]\n");
  return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3 || argc > 4) return Usage();
  struct {
    const wchar_t* name;
    ULONG_PTR op;
  } const kOps[] = {{L"insert", standin_win32::kCardOperationInsert},
                    {L"remove", standin_win32::kCardOperationRemove},
                    {L"tap", standin_win32::kCardOperationTap},
                    {L"plug", standin_win32::kCardOperationPlug},
                    {L"unplug", standin_win32::kCardOperationUnplug}};
  ULONG_PTR op = 0;
  for (const auto& o : kOps)
    if (::_wcsicmp(argv[1], o.name) == 0) op = o.op;
  if (op == 0 || argv[2][0] == L'\0') return Usage();
  std::wstring text = argv[2];
  if (argc == 4) {
    text.push_back(L'\0');
    text += argv[3];
  }
  COPYDATASTRUCT cds{};
  cds.dwData = op;
  cds.cbData = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  cds.lpData = text.data();
  int found = 0;
  int done = 0;
  for (HWND w = nullptr;
       (w = ::FindWindowExW(nullptr, w, standin_win32::kCardDriverWindowClass, nullptr));) {
    ++found;
    DWORD_PTR taken = 0;
    if (::SendMessageTimeoutW(w, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds), SMTO_ABORTIFHUNG,
                              10000, &taken) &&
        taken)
      ++done;
  }
  if (done) return 0;
  if (!found) {
    std::fwprintf(stderr, L"VDCardStandIn: no process has VDSCApi.dll loaded\n");
    return 2;
  }
  std::fwprintf(stderr, L"VDCardStandIn: the request was refused\n");
  return 3;
}
