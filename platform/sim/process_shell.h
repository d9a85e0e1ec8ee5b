// IShell of one simulated process. A program started through ShellExecuteExW is recorded on
// the desktop of the process's session (kind "launch"); no simulated process is created for
// it. A program that is not on the simulated disk fails as on Windows.
//
//   machine.Files().WriteFile(L"C:\\Program Files\\Veridane\\Console.exe", "");   // installed
//   ... the agent launches it ...
//   auto launched = sim::LaunchedPrograms(machine.GetDesktop(), 1);
//   EXPECT_EQ(launched.back().arguments, L"-mode:UserReset");
//
// What no user sees, the owner window, mask and show command of each call, the process's
// shell keeps: `sim::ShellExecuteCalls(process)`. ShellExecuteW is the same call with no
// mask and is recorded alike.
//
// SHCreateDirectoryExW makes every missing folder of a rooted path ("C:\x", "\\server\share\x").
//
// AssocQueryStringW reads "<assoc>\shell\<verb>\command" under HKCU\Software\Classes, then
// under HKLM\SOFTWARE\Classes; ASSOCSTR_EXECUTABLE answers only with a program that is on the
// simulated disk (ERROR_FILE_NOT_FOUND otherwise, as the shell checks it too):
//
//   machine.Files().WriteFile(L"C:\\Browsers\\browser.exe", "");
//   machine.Registry().SetString(L"HKLM\\SOFTWARE\\Classes\\http\\shell\\open\\command", L"",
//                                L"\"C:\\Browsers\\browser.exe\" -url \"%1\"");
//
// Every machine has "C:\Windows\system32\Shell32.dll" in its module table, exporting
// "SHQueryUserNotificationState", which answers with the calling process's session state
// (Desktop::SetNotificationState); `machine.Modules().Uninstall(sim::kShell32Path)` or
// RemoveExport takes it away.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/shell.h"
#include "platform/sim/desktop.h"
#include "platform/sim/process.h"

namespace sim {

namespace desktop_kind {
// Text: the verb, the full path in quotes, then the arguments when there are any:
//   open "C:\Program Files\Veridane\Agent\VdAgent.exe" -ShowAbout
inline constexpr wchar_t kLaunch[] = L"launch";
}  // namespace desktop_kind

struct LaunchedProgram {
  ULONGLONG timeMs = 0;
  std::wstring verb;
  std::wstring path;  // full path, environment variables expanded
  std::wstring arguments;

  bool operator==(const LaunchedProgram&) const = default;
};

// The programs started in a session, in order.
std::vector<LaunchedProgram> LaunchedPrograms(const Desktop& desktop, DWORD sessionId);

// One ShellExecuteExW call of a process, as it was asked, whether or not it started anything.
struct ShellExecuteCall {
  HWND owner = nullptr;  // hwnd: the window the shell's error messages would belong to
  ULONG mask = 0;        // fMask
  int show = 0;          // nShow
  std::wstring verb;     // lpVerb, empty when null
  std::wstring file;     // lpFile as given, not expanded
  std::wstring parameters;
  bool started = false;
};

class ProcessShell : public platform::IShell {
 public:
  explicit ProcessShell(Process& p);
  ProcessShell(const ProcessShell&) = delete;
  ProcessShell& operator=(const ProcessShell&) = delete;

  BOOL ShellExecuteExW(SHELLEXECUTEINFOW* pExecInfo) override;
  HINSTANCE ShellExecuteW(HWND hwnd, LPCWSTR lpOperation, LPCWSTR lpFile, LPCWSTR lpParameters,
                          LPCWSTR lpDirectory, INT nShowCmd) override;
  int SHCreateDirectoryExW(HWND hwnd, LPCWSTR pszPath, const SECURITY_ATTRIBUTES* psa) override;
  BOOL Shell_NotifyIconW(DWORD dwMessage, PNOTIFYICONDATAW lpData) override;
  UINT_PTR SHAppBarMessage(DWORD dwMessage, PAPPBARDATA pData) override;
  HRESULT AssocQueryStringW(ASSOCF flags, ASSOCSTR str, LPCWSTR pszAssoc, LPCWSTR pszExtra,
                            LPWSTR pszOut, DWORD* pcchOut) override;
  HRESULT SetCurrentProcessExplicitAppUserModelID(PCWSTR AppID) override;
  // The calls with a valid structure, in order.
  std::vector<ShellExecuteCall> Calls() const;
  // The last id SetCurrentProcessExplicitAppUserModelID accepted; empty before.
  std::wstring AppUserModelId() const;

  HRESULT SHGetKnownFolderPath(REFKNOWNFOLDERID rfid, DWORD dwFlags, HANDLE hToken,
                               PWSTR* ppszPath) override;
  BOOL PathCanonicalizeW(LPWSTR pszBuf, LPCWSTR pszPath) override;
  HWND HtmlHelpW(HWND hwndCaller, LPCWSTR pszFile, UINT uCommand, DWORD_PTR dwData) override;
 private:
  BOOL Execute(SHELLEXECUTEINFOW* info);
  std::wstring Expand(const std::wstring& s);

  Process& m_process;
  Machine& m_machine;
  mutable std::mutex m_mu;
  std::vector<ShellExecuteCall> m_calls;
  std::wstring m_appUserModelId;
};

// The ShellExecuteExW calls of `process`, in order.
std::vector<ShellExecuteCall> ShellExecuteCalls(Process& process);

// The application user model id `process` set for itself; empty when it set none.
std::wstring AppUserModelId(Process& process);

inline constexpr wchar_t kShell32Path[] = L"C:\\Windows\\system32\\Shell32.dll";
// Puts the system's Shell32.dll into the machine's module table (every machine has it).
void InstallShell32(Machine& machine);

}  // namespace sim
