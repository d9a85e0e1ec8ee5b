// Shell on Windows: SHELL32 straight through.
#pragma once

#include "platform/shell.h"

namespace platform::win32 {

class CWin32Shell final : public IShell {
 public:
  BOOL ShellExecuteExW(SHELLEXECUTEINFOW* pExecInfo) override;
  HINSTANCE ShellExecuteW(HWND hwnd, LPCWSTR lpOperation, LPCWSTR lpFile, LPCWSTR lpParameters,
                          LPCWSTR lpDirectory, INT nShowCmd) override;
  int SHCreateDirectoryExW(HWND hwnd, LPCWSTR pszPath, const SECURITY_ATTRIBUTES* psa) override;
  BOOL Shell_NotifyIconW(DWORD dwMessage, PNOTIFYICONDATAW lpData) override;
  UINT_PTR SHAppBarMessage(DWORD dwMessage, PAPPBARDATA pData) override;
  HRESULT AssocQueryStringW(ASSOCF flags, ASSOCSTR str, LPCWSTR pszAssoc, LPCWSTR pszExtra,
                            LPWSTR pszOut, DWORD* pcchOut) override;
  HRESULT SetCurrentProcessExplicitAppUserModelID(PCWSTR AppID) override;
  HRESULT SHGetKnownFolderPath(REFKNOWNFOLDERID rfid, DWORD dwFlags, HANDLE hToken,
                               PWSTR* ppszPath) override;
  BOOL PathCanonicalizeW(LPWSTR pszBuf, LPCWSTR pszPath) override;
  HWND HtmlHelpW(HWND hwndCaller, LPCWSTR pszFile, UINT uCommand, DWORD_PTR dwData) override;
};

}  // namespace platform::win32
