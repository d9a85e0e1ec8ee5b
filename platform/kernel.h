// Kernel services: named objects, waits, the thread pool, timer queues, files, clocks and
// process facts, with Win32 meaning, argument order and results. Failures set the calling
// thread's last error (GetLastError), as on Windows.
//
//   HANDLE m = plat.Kernel().CreateMutexW(nullptr, FALSE, L"Veridane Classic5.x Agent");
//   if (plat.Kernel().GetLastError() == ERROR_ALREADY_EXISTS) { ...second instance... }
//
// Names without a prefix (or with "Local\") live in the session's own namespace; "Global\"
// names are machine-wide.
//
// Time: every clock here is the platform's. GetTickCount, GetLocalTime, Sleep, waits with
// time-outs, thread-pool wait time-outs and timer-queue timers all run on it, so on the
// simulated machine they follow its virtual clock.
#pragma once

#include <string>

#include "platform/win_types.h"

namespace platform {

class IKernel {
 public:
  virtual ~IKernel() = default;

  // ---- Errors ----
  virtual DWORD GetLastError() = 0;
  virtual void SetLastError(DWORD dwErrCode) = 0;

  // ---- Named objects and waits ----
  virtual HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner,
                              LPCWSTR lpName) = 0;
  virtual BOOL ReleaseMutex(HANDLE hMutex) = 0;
  virtual HANDLE CreateEventW(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset,
                              BOOL bInitialState, LPCWSTR lpName) = 0;
  // dwDesiredAccess is accepted for its Win32 meaning (EVENT_MODIFY_STATE, SYNCHRONIZE).
  virtual HANDLE OpenEventW(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCWSTR lpName) = 0;
  virtual BOOL SetEvent(HANDLE hEvent) = 0;
  virtual BOOL ResetEvent(HANDLE hEvent) = 0;
  virtual DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) = 0;
  virtual BOOL CloseHandle(HANDLE hObject) = 0;

  // ---- Thread pool ----
  // The callback runs on a pool thread when the object is signalled (TimerOrWaitFired
  // FALSE) or when the time-out passes (TRUE). WT_EXECUTEONLYONCE: at most once.
  virtual BOOL RegisterWaitForSingleObject(PHANDLE phNewWaitObject, HANDLE hObject,
                                           WAITORTIMERCALLBACK Callback, PVOID Context,
                                           ULONG dwMilliseconds, ULONG dwFlags) = 0;
  // CompletionEvent INVALID_HANDLE_VALUE: wait for a running callback to finish.
  virtual BOOL UnregisterWaitEx(HANDLE WaitHandle, HANDLE CompletionEvent) = 0;

  // Timer-queue timers on the default queue (TimerQueue null). Period 0: fires once.
  virtual BOOL CreateTimerQueueTimer(PHANDLE phNewTimer, HANDLE TimerQueue,
                                     WAITORTIMERCALLBACK Callback, PVOID Parameter,
                                     DWORD DueTime, DWORD Period, ULONG Flags) = 0;
  virtual BOOL ChangeTimerQueueTimer(HANDLE TimerQueue, HANDLE Timer, ULONG DueTime,
                                     ULONG Period) = 0;
  // CompletionEvent INVALID_HANDLE_VALUE: wait for a running callback to finish.
  virtual BOOL DeleteTimerQueueTimer(HANDLE TimerQueue, HANDLE Timer, HANDLE CompletionEvent) = 0;

  // ---- Clocks ----
  virtual DWORD GetTickCount() = 0;
  virtual ULONGLONG GetTickCount64() = 0;
  virtual void GetSystemTime(SYSTEMTIME* lpSystemTime) = 0;
  virtual void GetLocalTime(SYSTEMTIME* lpSystemTime) = 0;
  virtual void GetSystemTimeAsFileTime(FILETIME* lpSystemTimeAsFileTime) = 0;
  virtual void Sleep(DWORD dwMilliseconds) = 0;

  // ---- Process and thread facts ----
  virtual DWORD GetCurrentProcessId() = 0;
  virtual DWORD GetCurrentThreadId() = 0;
  // Names the calling thread for diagnostics (SetThreadDescription on the current thread).
  virtual HRESULT SetCurrentThreadDescription(LPCWSTR lpThreadDescription) = 0;
  // hModule null: the executable. Returns the length copied, nSize when truncated.
  virtual DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) = 0;
  virtual UINT GetSystemDirectoryW(LPWSTR lpBuffer, UINT uSize) = 0;
  virtual BOOL GetComputerNameW(LPWSTR lpBuffer, LPDWORD nSize) = 0;
  // NetBIOS or DNS names of the computer; ComputerNameDnsDomain is empty (length 0, TRUE)
  // outside a domain. A buffer too small: FALSE with ERROR_MORE_DATA and *nSize the
  // characters needed, terminator included; success: *nSize the length without it.
  virtual BOOL GetComputerNameExW(COMPUTER_NAME_FORMAT NameType, LPWSTR lpBuffer,
                                  LPDWORD nSize) = 0;
  // The real version (RtlGetVersion), never the compatibility-shimmed one.
  virtual BOOL GetVersionExW(OSVERSIONINFOEXW* lpVersionInformation) = 0;
  // The four parts of the file version in a file's version resource (through Version.dll).
  virtual BOOL GetFileVersion(LPCWSTR lpFileName, WORD parts[4]) = 0;
  virtual DWORD ExpandEnvironmentStringsW(LPCWSTR lpSrc, LPWSTR lpDst, DWORD nSize) = 0;

  // ---- Processes ----
  // Starts a program. lpApplicationName null: the program is the first token of the command
  // line (quoted or not). A file that is not a program fails with ERROR_BAD_EXE_FORMAT, a
  // missing one with ERROR_FILE_NOT_FOUND. The caller closes both returned handles; the
  // process handle is signalled when the program ends.
  virtual BOOL CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine,
                              LPSECURITY_ATTRIBUTES lpProcessAttributes,
                              LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles,
                              DWORD dwCreationFlags, LPVOID lpEnvironment,
                              LPCWSTR lpCurrentDirectory, LPSTARTUPINFOW lpStartupInfo,
                              LPPROCESS_INFORMATION lpProcessInformation) = 0;
  virtual BOOL GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) = 0;

  // ---- Threads ----
  // Starts lpStartAddress(lpParameter) on a new thread of this process. The handle is
  // signalled when the thread ends and is the caller's to close (closing it does not stop
  // the thread). dwCreationFlags other than 0 are refused with ERROR_INVALID_PARAMETER.
  virtual HANDLE CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, SIZE_T dwStackSize,
                              LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                              DWORD dwCreationFlags, LPDWORD lpThreadId) = 0;

  // ---- Security ----
  // The SID of a well-known account or group into pSid (*cbSid bytes; too small: FALSE,
  // ERROR_INSUFFICIENT_BUFFER and the size needed).
  virtual BOOL CreateWellKnownSid(WELL_KNOWN_SID_TYPE WellKnownSidType, PSID DomainSid,
                                  PSID pSid, DWORD* cbSid) = 0;
  // TokenHandle null: the calling thread's or process's token.
  virtual BOOL CheckTokenMembership(HANDLE TokenHandle, PSID SidToCheck, PBOOL IsMember) = 0;

  // ---- Strings ----
  // Compares UTF-16 unit by unit, as Windows compares account names, SIDs and object
  // names; bIgnoreCase folds through the system's fixed upper-case table, whatever the
  // locale. A negative count reads up to the terminating zero. CSTR_LESS_THAN, CSTR_EQUAL
  // or CSTR_GREATER_THAN; 0 with ERROR_INVALID_PARAMETER for a null string.
  virtual int CompareStringOrdinal(LPCWCH lpString1, int cchCount1, LPCWCH lpString2, int cchCount2,
                                   BOOL bIgnoreCase) = 0;

  // ---- Files and folders ----
  virtual HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                             LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                             DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                             HANDLE hTemplateFile) = 0;
  virtual BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                        LPDWORD lpNumberOfBytesRead, void* lpOverlapped) = 0;
  virtual BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                         LPDWORD lpNumberOfBytesWritten, void* lpOverlapped) = 0;
  virtual BOOL SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove,
                                LARGE_INTEGER* lpNewFilePointer, DWORD dwMoveMethod) = 0;
  virtual BOOL GetFileSizeEx(HANDLE hFile, LARGE_INTEGER* lpFileSize) = 0;
  virtual BOOL DeleteFileW(LPCWSTR lpFileName) = 0;
  virtual DWORD GetFileAttributesW(LPCWSTR lpFileName) = 0;
  virtual BOOL CreateDirectoryW(LPCWSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes) = 0;
  // Copies a file, calling lpProgressRoutine (when given) after each chunk; PROGRESS_CANCEL
  // or *pbCancel set ends the copy with ERROR_REQUEST_ABORTED and removes the partial copy.
  virtual BOOL CopyFileExW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName,
                           LPPROGRESS_ROUTINE lpProgressRoutine, LPVOID lpData, LPBOOL pbCancel,
                           DWORD dwCopyFlags) = 0;
  // Renames a file; MOVEFILE_REPLACE_EXISTING replaces a file already at the new name.
  virtual BOOL MoveFileExW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, DWORD dwFlags) = 0;
  virtual DWORD GetCurrentDirectoryW(DWORD nBufferLength, LPWSTR lpBuffer) = 0;
  virtual BOOL SetCurrentDirectoryW(LPCWSTR lpPathName) = 0;

  // ---- Mailslots ----
  // A mailslot server handle (INVALID_HANDLE_VALUE on failure); lpName is
  // "\\.\mailslot\<name>". Writers open it with CreateFileW and write one datagram per
  // WriteFile. The handle reads with ReadFile, also overlapped (lpOverlapped an OVERLAPPED
  // whose hEvent is signalled when the read completes; ERROR_IO_PENDING while it waits).
  virtual HANDLE CreateMailslotW(LPCWSTR lpName, DWORD nMaxMessageSize, DWORD lReadTimeout,
                                 LPSECURITY_ATTRIBUTES lpSecurityAttributes) = 0;
  // lpNextSize MAILSLOT_NO_MESSAGE when none is queued; any out pointer may be null.
  virtual BOOL GetMailslotInfo(HANDLE hMailslot, LPDWORD lpMaxMessageSize, LPDWORD lpNextSize,
                               LPDWORD lpMessageCount, LPDWORD lpReadTimeout) = 0;
  // Cancels this thread's pending reads on the handle (they end ERROR_OPERATION_ABORTED).
  virtual BOOL CancelIo(HANDLE hFile) = 0;
  virtual BOOL GetOverlappedResult(HANDLE hFile, OVERLAPPED* lpOverlapped,
                                   LPDWORD lpNumberOfBytesTransferred, BOOL bWait) = 0;

  // ---- Folders ----
  // Removes an empty folder (ERROR_DIR_NOT_EMPTY otherwise).
  virtual BOOL RemoveDirectoryW(LPCWSTR lpPathName) = 0;

  // ---- Languages ----
  // The user's preferred UI languages as a double-zero-terminated list of names
  // (MUI_LANGUAGE_NAME), e.g. "de-DE\0en-US\0\0"; a null buffer asks for the size.
  virtual BOOL GetUserPreferredUILanguages(DWORD dwFlags, PULONG pulNumLanguages,
                                           PZZWSTR pwszLanguagesBuffer,
                                           PULONG pcchLanguagesBuffer) = 0;
};

}  // namespace platform
