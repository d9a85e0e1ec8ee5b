#include "platform/win32/win32_modules.h"

namespace platform::win32 {

HMODULE CWin32Modules::LoadLibraryExW(LPCWSTR lpLibFileName, HANDLE hFile, DWORD dwFlags) {
  return ::LoadLibraryExW(lpLibFileName, hFile, dwFlags);
}

FARPROC CWin32Modules::GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  return ::GetProcAddress(hModule, lpProcName);
}

HMODULE CWin32Modules::GetModuleHandleW(LPCWSTR lpModuleName) {
  return ::GetModuleHandleW(lpModuleName);
}

BOOL CWin32Modules::FreeLibrary(HMODULE hLibModule) { return ::FreeLibrary(hLibModule); }

int CWin32Modules::LoadStringW(HINSTANCE hInstance, UINT uID, LPWSTR lpBuffer, int cchBufferMax) {
  return ::LoadStringW(hInstance, uID, lpBuffer, cchBufferMax);
}

}  // namespace platform::win32
