#include "ext/process_starter.h"

#include <cwchar>
#include <string>

#include "platform/handles.h"
#include "support/trace/trace.h"

HRESULT ProcessStarter(platform::IPlatform& plat, LPCWSTR program, LPCWSTR arguments) {
  VDTraceNS::CScope ts("ProcessStarter");
  if (!program) return ts.Result("No program", E_INVALIDARG);
  if (std::wcschr(program, L'"')) return ts.Result("A quotation mark in the program", E_INVALIDARG);

  std::wstring commandLine = L"\"";
  commandLine += program;
  commandLine += L"\"";
  if (arguments) {
    commandLine += L" ";
    commandLine += arguments;
  }
  ts.Msg(L"Command line: '%ls'", commandLine.c_str());

  platform::IKernel& k = plat.Kernel();
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  const BOOL started = k.CreateProcessW(program, commandLine.data(), nullptr, nullptr, FALSE,
                                        NORMAL_PRIORITY_CLASS, nullptr, nullptr, &si, &pi);
  const DWORD error = started ? 0 : k.GetLastError();
  ts.Msg("Process started: %d", started ? 1 : 0);
  if (!started) {
    const HRESULT hr = HRESULT_FROM_WIN32(error);
    return ts.Result("CreateProcessW", FAILED(hr) ? hr : E_FAIL);
  }
  platform::UniqueHandle process(k, pi.hProcess);
  platform::UniqueHandle thread(k, pi.hThread);
  return S_OK;
}
