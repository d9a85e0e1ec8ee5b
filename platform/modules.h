// Loading the suite's libraries by path and resolving their entry points by name, with
// Win32 meaning and results (LoadLibraryExW, GetProcAddress, FreeLibrary). Callers go
// through the guarded delay-load layer, never straight through here.
#pragma once

#include "platform/win_types.h"

namespace platform {

class IModules {
 public:
  virtual ~IModules() = default;

  // Null with the last error set (ERROR_MOD_NOT_FOUND) when the file is not there.
  virtual HMODULE LoadLibraryExW(LPCWSTR lpLibFileName, HANDLE hFile, DWORD dwFlags) = 0;
  // Null with ERROR_PROC_NOT_FOUND when the library has no such export.
  virtual FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) = 0;
  // A module the process has loaded already (by file name or path; no reference taken), or
  // null with ERROR_MOD_NOT_FOUND. System libraries such as "Shell32.dll" count as loaded.
  virtual HMODULE GetModuleHandleW(LPCWSTR lpModuleName) = 0;
  virtual BOOL FreeLibrary(HMODULE hLibModule) = 0;
  // A string resource of a loaded module (a resource-only module is loaded with
  // LOAD_LIBRARY_AS_DATAFILE). Returns the length copied, 0 when there is no such string.
  virtual int LoadStringW(HINSTANCE hInstance, UINT uID, LPWSTR lpBuffer, int cchBufferMax) = 0;
};

}  // namespace platform
