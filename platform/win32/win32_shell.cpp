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

HRESULT CWin32Shell::AssocQueryStringW(ASSOCF flags, ASSOCSTR str, LPCWSTR pszAssoc,
                                       LPCWSTR pszExtra, LPWSTR pszOut, DWORD* pcchOut) {
  return ::AssocQueryStringW(flags, str, pszAssoc, pszExtra, pszOut, pcchOut);
}

HRESULT CWin32Shell::SetCurrentProcessExplicitAppUserModelID(PCWSTR AppID) {
  // Windows 7 and later; looked up so that the agent still starts where it is missing.
  using Fn = HRESULT(WINAPI*)(PCWSTR);
  HMODULE shell = ::GetModuleHandleW(L"shell32.dll");
  auto fn = shell ? reinterpret_cast<Fn>(reinterpret_cast<void*>(
                        ::GetProcAddress(shell, "SetCurrentProcessExplicitAppUserModelID")))
                  : nullptr;
  return fn ? fn(AppID) : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
}

}  // namespace platform::win32

namespace platform::win32 {

HRESULT CWin32Shell::SHGetKnownFolderPath(REFKNOWNFOLDERID rfid, DWORD dwFlags, HANDLE hToken,
                                          PWSTR* ppszPath) {
  return ::SHGetKnownFolderPath(rfid, dwFlags, hToken, ppszPath);
}

BOOL CWin32Shell::PathCanonicalizeW(LPWSTR pszBuf, LPCWSTR pszPath) {
  return ::PathCanonicalizeW(pszBuf, pszPath);
}

// The viewer lives in hhctrl.ocx, which not every system has: loaded on first use, kept.
HWND CWin32Shell::HtmlHelpW(HWND hwndCaller, LPCWSTR pszFile, UINT uCommand, DWORD_PTR dwData) {
  using HtmlHelpFn = HWND(WINAPI*)(HWND, LPCWSTR, UINT, DWORD_PTR);
  static const HtmlHelpFn fn = [] {
    HMODULE module = ::LoadLibraryW(L"hhctrl.ocx");
    return module ? reinterpret_cast<HtmlHelpFn>(
                        reinterpret_cast<void*>(::GetProcAddress(module, "HtmlHelpW")))
                  : nullptr;
  }();
  if (!fn) {
    ::SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return fn(hwndCaller, pszFile, uCommand, dwData);
}

}  // namespace platform::win32
