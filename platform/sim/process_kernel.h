// Placeholder until the simulated IKernel lands: every operation fails.
#pragma once
#pragma GCC diagnostic ignored "-Wunused-parameter"

#include "platform/kernel.h"
#include "platform/sim/process.h"

namespace sim {

class ProcessKernel : public platform::IKernel {
 public:
  explicit ProcessKernel(Process& p) : m_process(p) {}
  DWORD GetLastError() override { return {}; }
  void SetLastError(DWORD dwErrCode) override {}
  HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCWSTR lpName) override { return {}; }
  BOOL ReleaseMutex(HANDLE hMutex) override { return {}; }
  HANDLE CreateEventW(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState, LPCWSTR lpName) override { return {}; }
  HANDLE OpenEventW(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCWSTR lpName) override { return {}; }
  BOOL SetEvent(HANDLE hEvent) override { return {}; }
  BOOL ResetEvent(HANDLE hEvent) override { return {}; }
  DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) override { return {}; }
  BOOL CloseHandle(HANDLE hObject) override { return {}; }
  BOOL RegisterWaitForSingleObject(PHANDLE phNewWaitObject, HANDLE hObject, WAITORTIMERCALLBACK Callback, PVOID Context, ULONG dwMilliseconds, ULONG dwFlags) override { return {}; }
  BOOL UnregisterWaitEx(HANDLE WaitHandle, HANDLE CompletionEvent) override { return {}; }
  BOOL CreateTimerQueueTimer(PHANDLE phNewTimer, HANDLE TimerQueue, WAITORTIMERCALLBACK Callback, PVOID Parameter, DWORD DueTime, DWORD Period, ULONG Flags) override { return {}; }
  BOOL ChangeTimerQueueTimer(HANDLE TimerQueue, HANDLE Timer, ULONG DueTime, ULONG Period) override { return {}; }
  BOOL DeleteTimerQueueTimer(HANDLE TimerQueue, HANDLE Timer, HANDLE CompletionEvent) override { return {}; }
  DWORD GetTickCount() override { return {}; }
  ULONGLONG GetTickCount64() override { return {}; }
  void GetSystemTime(SYSTEMTIME* lpSystemTime) override {}
  void GetLocalTime(SYSTEMTIME* lpSystemTime) override {}
  void GetSystemTimeAsFileTime(FILETIME* lpSystemTimeAsFileTime) override {}
  void Sleep(DWORD dwMilliseconds) override {}
  DWORD GetCurrentProcessId() override { return {}; }
  DWORD GetCurrentThreadId() override { return {}; }
  HRESULT SetCurrentThreadDescription(LPCWSTR lpThreadDescription) override { return {}; }
  DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) override { return {}; }
  UINT GetSystemDirectoryW(LPWSTR lpBuffer, UINT uSize) override { return {}; }
  BOOL GetComputerNameW(LPWSTR lpBuffer, LPDWORD nSize) override { return {}; }
  BOOL GetVersionExW(OSVERSIONINFOEXW* lpVersionInformation) override { return {}; }
  BOOL GetFileVersion(LPCWSTR lpFileName, WORD parts[4]) override { return {}; }
  DWORD ExpandEnvironmentStringsW(LPCWSTR lpSrc, LPWSTR lpDst, DWORD nSize) override { return {}; }
  HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) override { return {}; }
  BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead, void* lpOverlapped) override { return {}; }
  BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten, void* lpOverlapped) override { return {}; }
  BOOL SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove, LARGE_INTEGER* lpNewFilePointer, DWORD dwMoveMethod) override { return {}; }
  BOOL GetFileSizeEx(HANDLE hFile, LARGE_INTEGER* lpFileSize) override { return {}; }
  BOOL DeleteFileW(LPCWSTR lpFileName) override { return {}; }
  DWORD GetFileAttributesW(LPCWSTR lpFileName) override { return {}; }
  BOOL CreateDirectoryW(LPCWSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes) override { return {}; }
  DWORD GetCurrentDirectoryW(DWORD nBufferLength, LPWSTR lpBuffer) override { return {}; }
  BOOL SetCurrentDirectoryW(LPCWSTR lpPathName) override { return {}; }

 private:
  [[maybe_unused]] Process& m_process;
};

}  // namespace sim
