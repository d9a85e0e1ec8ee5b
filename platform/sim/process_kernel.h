// IKernel of one simulated process: handles, waits, the thread pool, files, clocks and
// process facts, answered by the machine's parts.
//
// Waits and Sleep run on the virtual clock:
//   - a time-out of 0 never blocks;
//   - INFINITE blocks the real thread until another thread (or a pool callback) signals;
//   - a finite time-out on an ordinary thread moves the clock itself, one due item at a
//     time, and returns WAIT_OBJECT_0 as soon as the object is signalled on the way,
//     WAIT_TIMEOUT at the deadline (Sleep just moves it by the given time);
//   - on a pool worker a finite time-out does not move the clock (the thread driving the
//     clock is waiting for that very callback): the callback waits until whoever drives
//     the clock reaches its deadline, counting as idle meanwhile.
//
// Programs (CreateProcessW) run no code: see ProgramTable for how long they run and what
// the desktop shows. A program is a file named .exe or .com (or a .bat or .cmd, which
// Windows hands to the command interpreter); any other file fails with
// ERROR_BAD_EXE_FORMAT, whatever it holds. A name without a folder is searched in the
// caller's program folder, its current folder, the system folder, the Windows folder and
// PATH; a name without an extension gets ".exe". Wait for a program with a time-out so the
// waiting thread moves the clock to its end.
//
// Copies (CopyFileExW) take virtual time: the share latency of either end once, then each
// 64 KiB chunk at the machine's copy speed (FileSystem::SetCopySpeed), the calling thread
// moving the clock as a finite wait does. The progress routine sees CALLBACK_STREAM_SWITCH
// first, then CALLBACK_CHUNK_FINISHED after each chunk's time has passed. PROGRESS_CANCEL,
// PROGRESS_STOP or *pbCancel end the copy with ERROR_REQUEST_ABORTED and remove the new
// file, also when it replaced an older one (as on Windows).
//
// The token (CheckTokenMembership with a null token) holds Everyone, Authenticated Users,
// Users, the session user's SID, and BUILTIN\Administrators or LocalSystem as the process
// was created (ProcessOptions::elevatedAdmin, runsAsSystem).
//
// The environment (ExpandEnvironmentStringsW) is taken when the process starts, as on
// Windows: the machine variables under RegistryStore::kMachineEnvironmentPath, the user's
// under HKU\<sid>\Environment, and the per-process ones (ProgramFiles for its bitness,
// USERPROFILE, USERNAME, COMPUTERNAME, ...).
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/kernel.h"
#include "platform/sim/process.h"
#include "platform/sim/program_table.h"
#include "platform/sim/thread_pool.h"

namespace sim {

class KernelObject;

class ProcessKernel : public platform::IKernel {
 public:
  explicit ProcessKernel(Process& p);
  ~ProcessKernel() override;

  // Waits of this process's threads that have ended since it started (a signal or a
  // time-out woke them): kernel waits and Sleep that did not return at once, and every
  // MsgWaitForMultipleObjects with a time-out other than 0.
  uint64_t WaitsEnded() const { return m_waitsEnded.load(); }
  void NoteWaitEnded() { ++m_waitsEnded; }

  DWORD GetLastError() override;
  void SetLastError(DWORD dwErrCode) override;

  HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner,
                      LPCWSTR lpName) override;
  BOOL ReleaseMutex(HANDLE hMutex) override;
  HANDLE CreateEventW(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset,
                      BOOL bInitialState, LPCWSTR lpName) override;
  HANDLE OpenEventW(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCWSTR lpName) override;
  BOOL SetEvent(HANDLE hEvent) override;
  BOOL ResetEvent(HANDLE hEvent) override;
  DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) override;
  BOOL CloseHandle(HANDLE hObject) override;

  BOOL RegisterWaitForSingleObject(PHANDLE phNewWaitObject, HANDLE hObject,
                                   WAITORTIMERCALLBACK Callback, PVOID Context,
                                   ULONG dwMilliseconds, ULONG dwFlags) override;
  BOOL UnregisterWaitEx(HANDLE WaitHandle, HANDLE CompletionEvent) override;
  BOOL CreateTimerQueueTimer(PHANDLE phNewTimer, HANDLE TimerQueue, WAITORTIMERCALLBACK Callback,
                             PVOID Parameter, DWORD DueTime, DWORD Period, ULONG Flags) override;
  BOOL ChangeTimerQueueTimer(HANDLE TimerQueue, HANDLE Timer, ULONG DueTime, ULONG Period) override;
  BOOL DeleteTimerQueueTimer(HANDLE TimerQueue, HANDLE Timer, HANDLE CompletionEvent) override;

  DWORD GetTickCount() override;
  ULONGLONG GetTickCount64() override;
  void GetSystemTime(SYSTEMTIME* lpSystemTime) override;
  void GetLocalTime(SYSTEMTIME* lpSystemTime) override;
  void GetSystemTimeAsFileTime(FILETIME* lpSystemTimeAsFileTime) override;
  void Sleep(DWORD dwMilliseconds) override;

  DWORD GetCurrentProcessId() override;
  DWORD GetCurrentThreadId() override;
  HRESULT SetCurrentThreadDescription(LPCWSTR lpThreadDescription) override;
  DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) override;
  UINT GetSystemDirectoryW(LPWSTR lpBuffer, UINT uSize) override;
  BOOL GetComputerNameW(LPWSTR lpBuffer, LPDWORD nSize) override;
  BOOL GetVersionExW(OSVERSIONINFOEXW* lpVersionInformation) override;
  BOOL GetFileVersion(LPCWSTR lpFileName, WORD parts[4]) override;
  DWORD ExpandEnvironmentStringsW(LPCWSTR lpSrc, LPWSTR lpDst, DWORD nSize) override;
  int CompareStringOrdinal(LPCWCH lpString1, int cchCount1, LPCWCH lpString2, int cchCount2,
                           BOOL bIgnoreCase) override;

  HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                     LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                     DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) override;
  BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                LPDWORD lpNumberOfBytesRead, void* lpOverlapped) override;
  BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                 LPDWORD lpNumberOfBytesWritten, void* lpOverlapped) override;
  BOOL SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove,
                        LARGE_INTEGER* lpNewFilePointer, DWORD dwMoveMethod) override;
  BOOL GetFileSizeEx(HANDLE hFile, LARGE_INTEGER* lpFileSize) override;
  BOOL DeleteFileW(LPCWSTR lpFileName) override;
  DWORD GetFileAttributesW(LPCWSTR lpFileName) override;
  BOOL CreateDirectoryW(LPCWSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes) override;
  DWORD GetCurrentDirectoryW(DWORD nBufferLength, LPWSTR lpBuffer) override;
  BOOL SetCurrentDirectoryW(LPCWSTR lpPathName) override;
  BOOL GetComputerNameExW(COMPUTER_NAME_FORMAT NameType, LPWSTR lpBuffer, LPDWORD nSize) override;
  BOOL CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine,
                      LPSECURITY_ATTRIBUTES lpProcessAttributes,
                      LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles,
                      DWORD dwCreationFlags, LPVOID lpEnvironment, LPCWSTR lpCurrentDirectory,
                      LPSTARTUPINFOW lpStartupInfo,
                      LPPROCESS_INFORMATION lpProcessInformation) override;
  BOOL GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) override;
  HANDLE CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, SIZE_T dwStackSize,
                      LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                      DWORD dwCreationFlags, LPDWORD lpThreadId) override;
  BOOL CreateWellKnownSid(WELL_KNOWN_SID_TYPE WellKnownSidType, PSID DomainSid, PSID pSid,
                          DWORD* cbSid) override;
  BOOL CheckTokenMembership(HANDLE TokenHandle, PSID SidToCheck, PBOOL IsMember) override;
  BOOL CopyFileExW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName,
                   LPPROGRESS_ROUTINE lpProgressRoutine, LPVOID lpData, LPBOOL pbCancel,
                   DWORD dwCopyFlags) override;
  BOOL MoveFileExW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, DWORD dwFlags) override;

  // The process's environment variable, if set (names compare without regard to case).
  std::optional<std::wstring> Environment(const std::wstring& name) const;

  HANDLE CreateMailslotW(LPCWSTR lpName, DWORD nMaxMessageSize, DWORD lReadTimeout,
                         LPSECURITY_ATTRIBUTES lpSecurityAttributes) override;
  BOOL GetMailslotInfo(HANDLE hMailslot, LPDWORD lpMaxMessageSize, LPDWORD lpNextSize,
                       LPDWORD lpMessageCount, LPDWORD lpReadTimeout) override;
  BOOL CancelIo(HANDLE hFile) override;
  BOOL GetOverlappedResult(HANDLE hFile, OVERLAPPED* lpOverlapped,
                           LPDWORD lpNumberOfBytesTransferred, BOOL bWait) override;
  BOOL RemoveDirectoryW(LPCWSTR lpPathName) override;
  BOOL GetUserPreferredUILanguages(DWORD dwFlags, PULONG pulNumLanguages,
                                   PZZWSTR pwszLanguagesBuffer,
                                   PULONG pcchLanguagesBuffer) override;
 private:
  template <typename T>
  T Fail(DWORD error, T result) {
    SetLastError(error);
    return result;
  }
  std::shared_ptr<KernelObject> Object(HANDLE h);
  // Mailslot halves of the file calls (process_mailslot.cpp).
  BOOL ReadMailslot(const std::shared_ptr<KernelObject>& slot, LPVOID buffer, DWORD size,
                    LPDWORD read, OVERLAPPED* overlapped);
  BOOL WriteMailslot(const std::shared_ptr<KernelObject>& client, LPCVOID buffer, DWORD size,
                     LPDWORD written);
  HANDLE OpenMailslot(const std::wstring& name);
  bool ReadCompletion(HANDLE completionEvent, ThreadPool::Completion* mode,
                      std::shared_ptr<KernelObject>* event);
  // Resolves a path against the current folder; nothing for paths not on a drive.
  std::optional<std::wstring> Full(LPCWSTR path);
  DWORD Wait(const std::shared_ptr<KernelObject>& obj, DWORD ms);
  DWORD BlockingWait(const std::shared_ptr<KernelObject>& obj, DWORD ms);
  // The program file that `name` names, or why it cannot be started. `search`: a name
  // without a folder is looked for along the search path (see the header), else it is
  // taken in the current folder.
  DWORD FindProgram(const std::wstring& name, bool search, std::wstring* program);
  // The program file that the first token of a command line names.
  DWORD FindProgramOfCommandLine(const std::wstring& commandLine, std::wstring* program);
  // Lets `ms` of virtual time pass as a finite wait would.
  void PassTime(ULONGLONG ms);
  // The SIDs (textual form) of this process's token.
  std::vector<std::wstring> TokenSids();
  void BuildEnvironment();
  std::wstring Expand(const std::wstring& s) const;

  Process& m_process;
  Machine& m_machine;
  std::map<std::wstring, std::pair<std::wstring, std::wstring>> m_env;  // folded -> name, value
  std::atomic<uint64_t> m_waitsEnded{0};
};

}  // namespace sim
