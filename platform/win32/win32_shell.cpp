#include "platform/win32/win32_shell.h"

#include <shlobj.h>

namespace platform::win32 {

BOOL CWin32Shell::ShellExecuteExW(SHELLEXECUTEINFOW* pExecInfo) {
  return ::ShellExecuteExW(pExecInfo);
}

}  // namespace platform::win32

namespace platform::win32 {

HINSTANCE CWin32Shell::ShellExecuteW(HWND hwnd, LPCWSTR lpOperation, LPCWSTR lpFile,
                                     LPCWSTR lpParameters, LPCWSTR lpDirectory, INT nShowCmd) {
  return ::ShellExecuteW(hwnd, lpOperation, lpFile, lpParameters, lpDirectory, nShowCmd);
}

int CWin32Shell::SHCreateDirectoryExW(HWND hwnd, LPCWSTR pszPath, const SECURITY_ATTRIBUTES* psa) {
  return ::SHCreateDirectoryExW(hwnd, pszPath, psa);
}

}  // namespace platform::win32
