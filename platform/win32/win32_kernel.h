// Kernel services on Windows: KERNEL32 straight through; the few calls absent on older systems
// are looked up by name.
#pragma once

#include "platform/kernel.h"

namespace platform::win32 {

class CWin32Kernel final : public IKernel {
 public:
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
};

}  // namespace platform::win32
