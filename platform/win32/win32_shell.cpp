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

BOOL CWin32Shell::Shell_NotifyIconW(DWORD dwMessage, PNOTIFYICONDATAW lpData) {
  return ::Shell_NotifyIconW(dwMessage, lpData);
}

UINT_PTR CWin32Shell::SHAppBarMessage(DWORD dwMessage, PAPPBARDATA pData) {
  return ::SHAppBarMessage(dwMessage, pData);
}

}  // namespace platform::win32
