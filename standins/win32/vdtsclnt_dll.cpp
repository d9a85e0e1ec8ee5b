// VDTSClnt.dll: the terminal-services client component the agent registers at each start.
// Each DllRegisterServer call is a line "DllRegisterServer 0x<result>" in VDTSClnt.log beside
// the DLL (the line count is the call count). The result is the hexadecimal text of the
// environment variable VDTSCLNT_RESULT of the calling process ("80070005"; absent or
// unreadable: S_OK), so a test sets it for the agent it starts.
#include <windows.h>

#include <cwchar>

#include "standins/win32/beside_log.h"

namespace {

HRESULT DescribedResult() {
  wchar_t text[32] = {};
  const DWORD n = ::GetEnvironmentVariableW(L"VDTSCLNT_RESULT", text, 32);
  if (n == 0 || n >= 32) return S_OK;
  wchar_t* end = nullptr;
  const unsigned long value = std::wcstoul(text, &end, 16);
  return end && *end == L'\0' && end != text ? static_cast<HRESULT>(value) : S_OK;
}

}  // namespace

extern "C" HRESULT STDAPICALLTYPE VdtsStandin_DllRegisterServer() {
  const HRESULT hr = DescribedResult();
  wchar_t line[40];
  std::swprintf(line, 40, L"DllRegisterServer 0x%08lX", static_cast<unsigned long>(hr));
  standins::AppendBesideLog(L"VDTSClnt.log", line);
  return hr;
}
