// Loading libraries on Windows: KERNEL32 and USER32 straight through.
#pragma once

#include "platform/modules.h"

namespace platform::win32 {

class CWin32Modules final : public IModules {
 public:
  HMODULE LoadLibraryExW(LPCWSTR lpLibFileName, HANDLE hFile, DWORD dwFlags) override;
  FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) override;
  HMODULE GetModuleHandleW(LPCWSTR lpModuleName) override;
  BOOL FreeLibrary(HMODULE hLibModule) override;
  int LoadStringW(HINSTANCE hInstance, UINT uID, LPWSTR lpBuffer, int cchBufferMax) override;
};

}  // namespace platform::win32
