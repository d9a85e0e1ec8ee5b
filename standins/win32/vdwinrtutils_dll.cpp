// VDWinRTUtils.dll: the suite's toast library, standing in without the WinRT toast platform
// (Wine has none). Each toast is one line of VDWinRTUtils.log beside the DLL:
//
//   show 0000002A "Title" "Text" button "Open" param "ManageCredentials"
//   ended 3
//
// and is completed exactly once from a thread of its own. How it ends is read at each call
// from "VDWinRTUtils.answer" beside the DLL: "<result> <delay ms> [<HRESULT>]", e.g. "0 50"
// (clicked after 50 ms) or "3 0 0x80004005" (the display itself fails with that code, nothing
// is shown and no completion follows). Without the file a toast times out (3) after 200 ms.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <new>
#include <string>

#include "standins/win32/beside_log.h"
#include "support/toast_contract.h"

namespace {

constexpr wchar_t kLog[] = L"VDWinRTUtils.log";

struct Answer {
  INT32 result = kToastResultTimedOut;
  DWORD delayMs = 200;
  HRESULT displayResult = S_OK;
};

Answer ReadAnswer() {
  Answer a;
  const std::string text = standins::ReadBesideFile(L"VDWinRTUtils.answer");
  if (text.empty()) return a;
  long result = 0;
  unsigned long delay = 0, hr = 0;
  const int n = std::sscanf(text.c_str(), "%ld %lu %lx", &result, &delay, &hr);
  if (n >= 1) a.result = static_cast<INT32>(result);
  if (n >= 2) a.delayMs = static_cast<DWORD>(delay);
  if (n >= 3) a.displayResult = static_cast<HRESULT>(hr);
  return a;
}

struct Completion {
  PFN_ToastCompletion fn;
  void* context;
  INT32 result;
  DWORD delayMs;
  HMODULE self;  // held while the thread runs, so an unload waits for it
};

DWORD WINAPI CompletionThread(LPVOID param) {
  Completion* c = static_cast<Completion*>(param);
  ::Sleep(c->delayMs);
  standins::AppendBesideLog(kLog, L"ended " + std::to_wstring(c->result));
  c->fn(c->context, c->result);
  HMODULE self = c->self;
  delete c;
  ::FreeLibraryAndExitThread(self, 0);
}

std::wstring Hex8(DWORD v) {
  wchar_t buf[16];
  std::swprintf(buf, 16, L"%08X", static_cast<unsigned>(v));
  return buf;
}

}  // namespace

extern "C" HRESULT WINAPI VdwinrtStandin_WinRT_DisplayToast(UINT32 /*id*/, BSTR bstrTitle,
                                                            BSTR bstrMessage, void* /*reserved*/,
                                                            BSTR bstrButton, BSTR bstrIdText,
                                                            UINT32 /*flags*/, BSTR bstrParam,
                                                            PFN_ToastCompletion completion,
                                                            void* context) {
  if (!bstrTitle || !bstrMessage || !bstrIdText || !completion) {
    standins::AppendBesideLog(kLog, L"refused 0x" + Hex8(static_cast<DWORD>(E_INVALIDARG)));
    return E_INVALIDARG;
  }
  const Answer answer = ReadAnswer();
  if (FAILED(answer.displayResult)) {
    standins::AppendBesideLog(kLog, L"refused 0x" + Hex8(static_cast<DWORD>(answer.displayResult)));
    return answer.displayResult;
  }
  std::wstring line =
      L"show " + std::wstring(bstrIdText) + L" \"" + bstrTitle + L"\" \"" + bstrMessage + L"\"";
  if (bstrButton) line += L" button \"" + std::wstring(bstrButton) + L"\"";
  if (bstrParam) line += L" param \"" + std::wstring(bstrParam) + L"\"";
  standins::AppendBesideLog(kLog, line);

  HMODULE self = nullptr;
  if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&CompletionThread), &self))
    return HRESULT_FROM_WIN32(::GetLastError());
  auto* c = new (std::nothrow) Completion{completion, context, answer.result, answer.delayMs, self};
  if (!c) {
    ::FreeLibrary(self);
    return E_OUTOFMEMORY;
  }
  HANDLE thread = ::CreateThread(nullptr, 0, &CompletionThread, c, 0, nullptr);
  if (!thread) {
    // No thread, no completion: the caller hears the failure instead.
    const HRESULT hr = HRESULT_FROM_WIN32(::GetLastError());
    delete c;
    ::FreeLibrary(self);
    return hr;
  }
  ::CloseHandle(thread);
  return S_OK;
}
