#include "platform/win32/win32_kernel.h"

#include <vector>

namespace platform::win32 {

DWORD CWin32Kernel::GetLastError() { return ::GetLastError(); }

void CWin32Kernel::SetLastError(DWORD dwErrCode) { ::SetLastError(dwErrCode); }

HANDLE CWin32Kernel::CreateMutexW(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner,
                                  LPCWSTR lpName) {
  return ::CreateMutexW(lpMutexAttributes, bInitialOwner, lpName);
}

BOOL CWin32Kernel::ReleaseMutex(HANDLE hMutex) { return ::ReleaseMutex(hMutex); }

HANDLE CWin32Kernel::CreateEventW(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset,
                                  BOOL bInitialState, LPCWSTR lpName) {
  return ::CreateEventW(lpEventAttributes, bManualReset, bInitialState, lpName);
}

HANDLE CWin32Kernel::OpenEventW(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCWSTR lpName) {
  return ::OpenEventW(dwDesiredAccess, bInheritHandle, lpName);
}

BOOL CWin32Kernel::SetEvent(HANDLE hEvent) { return ::SetEvent(hEvent); }

BOOL CWin32Kernel::ResetEvent(HANDLE hEvent) { return ::ResetEvent(hEvent); }

DWORD CWin32Kernel::WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  return ::WaitForSingleObject(hHandle, dwMilliseconds);
}

BOOL CWin32Kernel::CloseHandle(HANDLE hObject) { return ::CloseHandle(hObject); }

BOOL CWin32Kernel::RegisterWaitForSingleObject(PHANDLE phNewWaitObject, HANDLE hObject,
                                               WAITORTIMERCALLBACK Callback, PVOID Context,
                                               ULONG dwMilliseconds, ULONG dwFlags) {
  return ::RegisterWaitForSingleObject(phNewWaitObject, hObject, Callback, Context, dwMilliseconds,
                                       dwFlags);
}

BOOL CWin32Kernel::UnregisterWaitEx(HANDLE WaitHandle, HANDLE CompletionEvent) {
  return ::UnregisterWaitEx(WaitHandle, CompletionEvent);
}

BOOL CWin32Kernel::CreateTimerQueueTimer(PHANDLE phNewTimer, HANDLE TimerQueue,
                                         WAITORTIMERCALLBACK Callback, PVOID Parameter,
                                         DWORD DueTime, DWORD Period, ULONG Flags) {
  return ::CreateTimerQueueTimer(phNewTimer, TimerQueue, Callback, Parameter, DueTime, Period,
                                 Flags);
}

BOOL CWin32Kernel::ChangeTimerQueueTimer(HANDLE TimerQueue, HANDLE Timer, ULONG DueTime,
                                         ULONG Period) {
  return ::ChangeTimerQueueTimer(TimerQueue, Timer, DueTime, Period);
}

BOOL CWin32Kernel::DeleteTimerQueueTimer(HANDLE TimerQueue, HANDLE Timer, HANDLE CompletionEvent) {
  return ::DeleteTimerQueueTimer(TimerQueue, Timer, CompletionEvent);
}

DWORD CWin32Kernel::GetTickCount() { return ::GetTickCount(); }

ULONGLONG CWin32Kernel::GetTickCount64() { return ::GetTickCount64(); }

void CWin32Kernel::GetSystemTime(SYSTEMTIME* lpSystemTime) { ::GetSystemTime(lpSystemTime); }

void CWin32Kernel::GetLocalTime(SYSTEMTIME* lpSystemTime) { ::GetLocalTime(lpSystemTime); }

void CWin32Kernel::GetSystemTimeAsFileTime(FILETIME* lpSystemTimeAsFileTime) {
  ::GetSystemTimeAsFileTime(lpSystemTimeAsFileTime);
}

void CWin32Kernel::Sleep(DWORD dwMilliseconds) { ::Sleep(dwMilliseconds); }

DWORD CWin32Kernel::GetCurrentProcessId() { return ::GetCurrentProcessId(); }

DWORD CWin32Kernel::GetCurrentThreadId() { return ::GetCurrentThreadId(); }

DWORD CWin32Kernel::GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
  return ::GetModuleFileNameW(hModule, lpFilename, nSize);
}

UINT CWin32Kernel::GetSystemDirectoryW(LPWSTR lpBuffer, UINT uSize) {
  return ::GetSystemDirectoryW(lpBuffer, uSize);
}

BOOL CWin32Kernel::GetComputerNameW(LPWSTR lpBuffer, LPDWORD nSize) {
  return ::GetComputerNameW(lpBuffer, nSize);
}

DWORD CWin32Kernel::ExpandEnvironmentStringsW(LPCWSTR lpSrc, LPWSTR lpDst, DWORD nSize) {
  return ::ExpandEnvironmentStringsW(lpSrc, lpDst, nSize);
}

int CWin32Kernel::CompareStringOrdinal(LPCWCH lpString1, int cchCount1, LPCWCH lpString2,
                                       int cchCount2, BOOL bIgnoreCase) {
  return ::CompareStringOrdinal(lpString1, cchCount1, lpString2, cchCount2, bIgnoreCase);
}

HANDLE CWin32Kernel::CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                                 LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                                 DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                                 HANDLE hTemplateFile) {
  return ::CreateFileW(lpFileName, dwDesiredAccess, dwShareMode, lpSecurityAttributes,
                       dwCreationDisposition, dwFlagsAndAttributes, hTemplateFile);
}

BOOL CWin32Kernel::ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                            LPDWORD lpNumberOfBytesRead, void* lpOverlapped) {
  return ::ReadFile(hFile, lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead,
                    static_cast<LPOVERLAPPED>(lpOverlapped));
}

BOOL CWin32Kernel::WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                             LPDWORD lpNumberOfBytesWritten, void* lpOverlapped) {
  return ::WriteFile(hFile, lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten,
                     static_cast<LPOVERLAPPED>(lpOverlapped));
}

BOOL CWin32Kernel::SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove,
                                    LARGE_INTEGER* lpNewFilePointer, DWORD dwMoveMethod) {
  return ::SetFilePointerEx(hFile, liDistanceToMove, lpNewFilePointer, dwMoveMethod);
}

BOOL CWin32Kernel::GetFileSizeEx(HANDLE hFile, LARGE_INTEGER* lpFileSize) {
  return ::GetFileSizeEx(hFile, lpFileSize);
}

BOOL CWin32Kernel::DeleteFileW(LPCWSTR lpFileName) { return ::DeleteFileW(lpFileName); }

DWORD CWin32Kernel::GetFileAttributesW(LPCWSTR lpFileName) {
  return ::GetFileAttributesW(lpFileName);
}

BOOL CWin32Kernel::CreateDirectoryW(LPCWSTR lpPathName,
                                    LPSECURITY_ATTRIBUTES lpSecurityAttributes) {
  return ::CreateDirectoryW(lpPathName, lpSecurityAttributes);
}

DWORD CWin32Kernel::GetCurrentDirectoryW(DWORD nBufferLength, LPWSTR lpBuffer) {
  return ::GetCurrentDirectoryW(nBufferLength, lpBuffer);
}

BOOL CWin32Kernel::SetCurrentDirectoryW(LPCWSTR lpPathName) {
  return ::SetCurrentDirectoryW(lpPathName);
}

}  // namespace platform::win32

namespace platform::win32 {

namespace {

// A function of a system DLL that older systems (or Wine) may lack, found by name.
template <typename Fn>
Fn SystemProc(const wchar_t* dll, const char* name) {
  HMODULE mod = ::GetModuleHandleW(dll);
  if (!mod) mod = ::LoadLibraryExW(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  FARPROC proc = mod ? ::GetProcAddress(mod, name) : nullptr;
  // Through void(*)(): the one function-pointer type any other converts to without a warning.
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(proc));
}

}  // namespace

HRESULT CWin32Kernel::SetCurrentThreadDescription(LPCWSTR lpThreadDescription) {
  if (!lpThreadDescription) return E_INVALIDARG;
  // Windows 10 1607 and later only.
  using Fn = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  auto fn = SystemProc<Fn>(L"kernel32.dll", "SetThreadDescription");
  if (!fn) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
  return fn(::GetCurrentThread(), lpThreadDescription);
}

BOOL CWin32Kernel::GetVersionExW(OSVERSIONINFOEXW* info) {
  // GetVersionExW lies to programs whose manifest does not list the running system;
  // RtlGetVersion always tells the truth.
  if (!info) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  using Fn = LONG(WINAPI*)(OSVERSIONINFOEXW*);
  auto fn = SystemProc<Fn>(L"ntdll.dll", "RtlGetVersion");
  if (fn && fn(info) == 0) return TRUE;
  return ::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(info));
}

BOOL CWin32Kernel::GetFileVersion(LPCWSTR lpFileName, WORD parts[4]) {
  // Version.dll is loaded on demand: most runs of the agent never need it.
  HMODULE ver = ::LoadLibraryExW(L"version.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!ver) return FALSE;
  struct Unload {
    HMODULE h;
    ~Unload() { ::FreeLibrary(h); }
  } unload{ver};
  auto proc = [&](const char* name) {
    return reinterpret_cast<void (*)()>(::GetProcAddress(ver, name));
  };
  using SizeFn = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
  using InfoFn = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
  using QueryFn = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);
  auto size = reinterpret_cast<SizeFn>(proc("GetFileVersionInfoSizeW"));
  auto info = reinterpret_cast<InfoFn>(proc("GetFileVersionInfoW"));
  auto query = reinterpret_cast<QueryFn>(proc("VerQueryValueW"));
  if (!size || !info || !query) {
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return FALSE;
  }
  DWORD ignored = 0;
  const DWORD n = size(lpFileName, &ignored);
  if (n == 0) return FALSE;
  std::vector<BYTE> block(n);
  if (!info(lpFileName, 0, n, block.data())) return FALSE;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT len = 0;
  if (!query(block.data(), L"\\", reinterpret_cast<LPVOID*>(&fixed), &len) || !fixed ||
      len < sizeof(VS_FIXEDFILEINFO)) {
    ::SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return FALSE;
  }
  parts[0] = HIWORD(fixed->dwFileVersionMS);
  parts[1] = LOWORD(fixed->dwFileVersionMS);
  parts[2] = HIWORD(fixed->dwFileVersionLS);
  parts[3] = LOWORD(fixed->dwFileVersionLS);
  return TRUE;
}

}  // namespace platform::win32

namespace platform::win32 {

BOOL CWin32Kernel::GetComputerNameExW(COMPUTER_NAME_FORMAT NameType, LPWSTR lpBuffer,
                                      LPDWORD nSize) {
  return ::GetComputerNameExW(NameType, lpBuffer, nSize);
}

BOOL CWin32Kernel::CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine,
                                  LPSECURITY_ATTRIBUTES lpProcessAttributes,
                                  LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles,
                                  DWORD dwCreationFlags, LPVOID lpEnvironment,
                                  LPCWSTR lpCurrentDirectory, LPSTARTUPINFOW lpStartupInfo,
                                  LPPROCESS_INFORMATION lpProcessInformation) {
  return ::CreateProcessW(lpApplicationName, lpCommandLine, lpProcessAttributes,
                          lpThreadAttributes, bInheritHandles, dwCreationFlags, lpEnvironment,
                          lpCurrentDirectory, lpStartupInfo, lpProcessInformation);
}

BOOL CWin32Kernel::GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
  return ::GetExitCodeProcess(hProcess, lpExitCode);
}

HANDLE CWin32Kernel::CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, SIZE_T dwStackSize,
                                  LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                                  DWORD dwCreationFlags, LPDWORD lpThreadId) {
  if (dwCreationFlags != 0) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return ::CreateThread(lpThreadAttributes, dwStackSize, lpStartAddress, lpParameter, 0,
                        lpThreadId);
}

BOOL CWin32Kernel::CreateWellKnownSid(WELL_KNOWN_SID_TYPE WellKnownSidType, PSID DomainSid,
                                      PSID pSid, DWORD* cbSid) {
  return ::CreateWellKnownSid(WellKnownSidType, DomainSid, pSid, cbSid);
}

BOOL CWin32Kernel::CheckTokenMembership(HANDLE TokenHandle, PSID SidToCheck, PBOOL IsMember) {
  return ::CheckTokenMembership(TokenHandle, SidToCheck, IsMember);
}

BOOL CWin32Kernel::CopyFileExW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName,
                               LPPROGRESS_ROUTINE lpProgressRoutine, LPVOID lpData,
                               LPBOOL pbCancel, DWORD dwCopyFlags) {
  return ::CopyFileExW(lpExistingFileName, lpNewFileName, lpProgressRoutine, lpData, pbCancel,
                       dwCopyFlags);
}

BOOL CWin32Kernel::MoveFileExW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName,
                               DWORD dwFlags) {
  return ::MoveFileExW(lpExistingFileName, lpNewFileName, dwFlags);
}

}  // namespace platform::win32

namespace platform::win32 {

HANDLE CWin32Kernel::CreateMailslotW(LPCWSTR lpName, DWORD nMaxMessageSize, DWORD lReadTimeout,
                                     LPSECURITY_ATTRIBUTES lpSecurityAttributes) {
  return ::CreateMailslotW(lpName, nMaxMessageSize, lReadTimeout, lpSecurityAttributes);
}

BOOL CWin32Kernel::GetMailslotInfo(HANDLE hMailslot, LPDWORD lpMaxMessageSize, LPDWORD lpNextSize,
                                   LPDWORD lpMessageCount, LPDWORD lpReadTimeout) {
  return ::GetMailslotInfo(hMailslot, lpMaxMessageSize, lpNextSize, lpMessageCount, lpReadTimeout);
}

BOOL CWin32Kernel::CancelIo(HANDLE hFile) { return ::CancelIo(hFile); }

BOOL CWin32Kernel::GetOverlappedResult(HANDLE hFile, OVERLAPPED* lpOverlapped,
                                       LPDWORD lpNumberOfBytesTransferred, BOOL bWait) {
  return ::GetOverlappedResult(hFile, lpOverlapped, lpNumberOfBytesTransferred, bWait);
}

BOOL CWin32Kernel::RemoveDirectoryW(LPCWSTR lpPathName) { return ::RemoveDirectoryW(lpPathName); }

BOOL CWin32Kernel::GetUserPreferredUILanguages(DWORD dwFlags, PULONG pulNumLanguages,
                                               PZZWSTR pwszLanguagesBuffer,
                                               PULONG pcchLanguagesBuffer) {
  return ::GetUserPreferredUILanguages(dwFlags, pulNumLanguages, pwszLanguagesBuffer,
                                       pcchLanguagesBuffer);
}

}  // namespace platform::win32
