// Shell (SHELL32): starting programs and opening documents as the shell does, with Win32
// meaning and results.
//
//   SHELLEXECUTEINFOW sei{};
//   sei.cbSize = sizeof(sei);
//   sei.fMask = SEE_MASK_DOENVSUBST | SEE_MASK_FLAG_NO_UI;
//   sei.lpVerb = L"open";
//   sei.lpFile = L"%NXWDINSTALLPATH%Veridane.Lumera.Console.exe";
//   sei.nShow = SW_SHOWNORMAL;
//   if (!plat.Shell().ShellExecuteExW(&sei)) { ...plat.Kernel().GetLastError()... }
#pragma once

#include "platform/win_types.h"

namespace platform {

class IShell {
 public:
  virtual ~IShell() = default;

  // FALSE on failure with the thread's last error set (ERROR_FILE_NOT_FOUND for a program
  // that is not there) and hInstApp holding the matching SE_ERR_ code; hInstApp > 32 on
  // success. SEE_MASK_DOENVSUBST expands environment variables in lpFile and lpDirectory
  // (never in lpParameters).
  virtual BOOL ShellExecuteExW(SHELLEXECUTEINFOW* pExecInfo) = 0;
  // The older call: > 32 on success, else an SE_ERR_ code (ERROR_FILE_NOT_FOUND is 2).
  virtual HINSTANCE ShellExecuteW(HWND hwnd, LPCWSTR lpOperation, LPCWSTR lpFile,
                                  LPCWSTR lpParameters, LPCWSTR lpDirectory, INT nShowCmd) = 0;
  // Creates a folder with every missing parent: ERROR_SUCCESS, ERROR_ALREADY_EXISTS when
  // it is there, ERROR_BAD_PATHNAME for a relative path, or the failing step's error.
  virtual int SHCreateDirectoryExW(HWND hwnd, LPCWSTR pszPath,
                                   const SECURITY_ATTRIBUTES* psa) = 0;

  // ---- Notification area and taskbar ----
  // One icon per (hWnd, uID) in the session's notification area. NIM_ADD of an icon that is
  // there, or NIM_MODIFY/NIM_DELETE/NIM_SETFOCUS of one that is not, fails; so does every call
  // while the shell is not running or is busy (ERROR_TIMEOUT). NIF_INFO with text shows a
  // balloon; its progress comes back to uCallbackMessage as NIN_BALLOONSHOW, then
  // NIN_BALLOONHIDE, NIN_BALLOONTIMEOUT or NIN_BALLOONUSERCLICK.
  virtual BOOL Shell_NotifyIconW(DWORD dwMessage, PNOTIFYICONDATAW lpData) = 0;
  // ABM_GETTASKBARPOS fills uEdge and rc of the taskbar; 0 when there is none.
  virtual UINT_PTR SHAppBarMessage(DWORD dwMessage, PAPPBARDATA pData) = 0;

  // ---- Associations and the process's identity ----
  // The program (ASSOCSTR_EXECUTABLE) registered for `pszAssoc` (an extension or a protocol
  // such as "http") and verb `pszExtra`; *pcchOut is the buffer's size in characters, set to
  // the length written including the terminator. HRESULT_FROM_WIN32(ERROR_NO_ASSOCIATION)
  // when nothing is registered, E_POINTER when the buffer is too small (ASSOCF_NOTRUNCATE).
  virtual HRESULT AssocQueryStringW(ASSOCF flags, ASSOCSTR str, LPCWSTR pszAssoc,
                                    LPCWSTR pszExtra, LPWSTR pszOut, DWORD* pcchOut) = 0;
  // The application user model id under which the process's windows and toasts appear.
  virtual HRESULT SetCurrentProcessExplicitAppUserModelID(PCWSTR AppID) = 0;

  // ---- Known folders, paths, help ----
  // *ppszPath is freed with ICom::CoTaskMemFree, also on failure (then null).
  virtual HRESULT SHGetKnownFolderPath(REFKNOWNFOLDERID rfid, DWORD dwFlags, HANDLE hToken,
                                       PWSTR* ppszPath) = 0;
  // Removes "." and ".." parts; pszBuf holds MAX_PATH characters.
  virtual BOOL PathCanonicalizeW(LPWSTR pszBuf, LPCWSTR pszPath) = 0;
  // The system's HTML help viewer; null when it could not open the file.
  virtual HWND HtmlHelpW(HWND hwndCaller, LPCWSTR pszFile, UINT uCommand, DWORD_PTR dwData) = 0;
};

}  // namespace platform
