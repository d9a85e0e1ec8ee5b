#include "platform/sim/process_kernel.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <thread>

#include "platform/sim/file_system.h"
#include "platform/sim/machine.h"
#include "platform/sim/object_manager.h"
#include "platform/sim/registry_store.h"
#include "platform/sim/session_manager.h"
#include "platform/sim/sim_text.h"
#include "platform/sim/thread_pool.h"

namespace sim {

namespace {

// Copies `s` with its terminator when it fits in `size` characters.
bool CopyOut(const std::wstring& s, LPWSTR buffer, size_t size) {
  if (!buffer || size < s.size() + 1) return false;
  std::memcpy(buffer, s.c_str(), (s.size() + 1) * sizeof(wchar_t));
  return true;
}

FILETIME ToFileTime(ULONGLONG ft) {
  return FILETIME{static_cast<DWORD>(ft & 0xFFFFFFFFu), static_cast<DWORD>(ft >> 32)};
}

}  // namespace

ProcessKernel::ProcessKernel(Process& p) : m_process(p), m_machine(p.GetMachine()) {
  BuildEnvironment();
  // The program's own folder exists on a real machine; programs write beside themselves.
  if (auto folder = FileSystem::FullPath(L"C:\\", p.ExePath() + L"\\..")) {
    std::error_code ec;
    std::filesystem::create_directories(m_machine.Files().HostPath(*folder), ec);
  }
}

ProcessKernel::~ProcessKernel() {
  // The process ends: its waits and timers stop (running callbacks finish first), then
  // its handles close, which frees names nobody else holds.
  m_machine.Pool().RemoveProcess(m_process.Pid());
  m_machine.Objects().CloseProcessHandles(m_process.Pid());
}

// ---------------------------------------------------------------------------------------
// Errors and handles

DWORD ProcessKernel::GetLastError() { return m_machine.LastError(); }
void ProcessKernel::SetLastError(DWORD dwErrCode) { m_machine.LastError() = dwErrCode; }

std::shared_ptr<KernelObject> ProcessKernel::Object(HANDLE h) {
  return m_machine.Objects().Lookup(m_process.Pid(), h);
}

BOOL ProcessKernel::CloseHandle(HANDLE hObject) {
  // INVALID_HANDLE_VALUE is also the current-process pseudo-handle, whose close succeeds.
  if (hObject == INVALID_HANDLE_VALUE) return TRUE;
  if (!m_machine.Objects().CloseHandle(m_process.Pid(), hObject))
    return Fail(ERROR_INVALID_HANDLE, FALSE);
  return TRUE;
}

// ---------------------------------------------------------------------------------------
// Mutexes and events

HANDLE ProcessKernel::CreateMutexW(LPSECURITY_ATTRIBUTES, BOOL bInitialOwner, LPCWSTR lpName) {
  DWORD error = 0;
  const DWORD tid = m_machine.CurrentThreadId();
  HANDLE h = m_machine.Objects().CreateMutex(m_process.Pid(), m_process.SessionId(), tid,
                                             bInitialOwner != FALSE, lpName, &error);
  SetLastError(error);
  return h;
}

BOOL ProcessKernel::ReleaseMutex(HANDLE hMutex) {
  auto obj = Object(hMutex);
  if (!obj || obj->GetKind() != KernelObject::Kind::kMutex)
    return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (DWORD e = m_machine.Objects().ReleaseMutex(obj, m_machine.CurrentThreadId()))
    return Fail(e, FALSE);
  return TRUE;
}

HANDLE ProcessKernel::CreateEventW(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState,
                                   LPCWSTR lpName) {
  DWORD error = 0;
  HANDLE h =
      m_machine.Objects().CreateEvent(m_process.Pid(), m_process.SessionId(), bManualReset != FALSE,
                                      bInitialState != FALSE, lpName, &error);
  SetLastError(error);
  return h;
}

HANDLE ProcessKernel::OpenEventW(DWORD, BOOL, LPCWSTR lpName) {
  DWORD error = 0;
  HANDLE h = m_machine.Objects().OpenEvent(m_process.Pid(), m_process.SessionId(), lpName, &error);
  if (!h) SetLastError(error);
  return h;
}

BOOL ProcessKernel::SetEvent(HANDLE hEvent) {
  if (!m_machine.Objects().SetEvent(Object(hEvent))) return Fail(ERROR_INVALID_HANDLE, FALSE);
  return TRUE;
}

BOOL ProcessKernel::ResetEvent(HANDLE hEvent) {
  if (!m_machine.Objects().ResetEvent(Object(hEvent))) return Fail(ERROR_INVALID_HANDLE, FALSE);
  return TRUE;
}

// ---------------------------------------------------------------------------------------
// Waits

DWORD ProcessKernel::WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  auto obj = Object(hHandle);
  if (!obj) return Fail(ERROR_INVALID_HANDLE, WAIT_FAILED);
  return Wait(obj, dwMilliseconds);
}

DWORD ProcessKernel::Wait(const std::shared_ptr<KernelObject>& obj, DWORD ms) {
  ObjectManager& objects = m_machine.Objects();
  const DWORD tid = m_machine.CurrentThreadId();
  if (obj && objects.TryAcquire(obj, tid)) return WAIT_OBJECT_0;
  if (ms == 0) return WAIT_TIMEOUT;
  if (ms == INFINITE || m_machine.Pool().IsWorkerThread()) return BlockingWait(obj, ms);

  // This thread drives the clock: one due item at a time, checking the object after each.
  Clock& clock = m_machine.GetClock();
  const ULONGLONG deadline = clock.NowMs() + ms;
  for (;;) {
    const ULONGLONG now = clock.NowMs();
    if (now >= deadline) return WAIT_TIMEOUT;
    const auto next = clock.NextDue();
    const ULONGLONG target = next && *next < deadline ? std::max(*next, now) : deadline;
    clock.AdvanceTo(target);
    if (obj && objects.TryAcquire(obj, tid)) return WAIT_OBJECT_0;
  }
}

DWORD ProcessKernel::BlockingWait(const std::shared_ptr<KernelObject>& obj, DWORD ms) {
  ObjectManager& objects = m_machine.Objects();
  ThreadPool& pool = m_machine.Pool();
  const auto self = std::this_thread::get_id();
  // Both callbacks run under the object manager's lock, so the flag needs no lock of its own.
  auto blocked = std::make_shared<bool>(false);
  auto w = objects.ArmWait(
      obj, m_machine.CurrentThreadId(), ms,
      [&pool, self, blocked](bool) {
        if (*blocked) pool.MarkWoken(self);
      },
      [&pool, blocked] {
        *blocked = true;
        pool.MarkBlocking();
      });
  m_machine.GetClock().WaitUntil([&] { return objects.IsDone(w); });
  return w->timedOut ? WAIT_TIMEOUT : WAIT_OBJECT_0;
}

void ProcessKernel::Sleep(DWORD dwMilliseconds) {
  if (dwMilliseconds == 0) {
    std::this_thread::yield();
    return;
  }
  if (dwMilliseconds == INFINITE || m_machine.Pool().IsWorkerThread()) {
    BlockingWait(nullptr, dwMilliseconds);
    return;
  }
  Clock& clock = m_machine.GetClock();
  clock.AdvanceTo(clock.NowMs() + dwMilliseconds);
}

// ---------------------------------------------------------------------------------------
// Thread pool

BOOL ProcessKernel::RegisterWaitForSingleObject(PHANDLE phNewWaitObject, HANDLE hObject,
                                                WAITORTIMERCALLBACK Callback, PVOID Context,
                                                ULONG dwMilliseconds, ULONG dwFlags) {
  if (!phNewWaitObject || !Callback) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  auto obj = Object(hObject);
  if (!obj) return Fail(ERROR_INVALID_HANDLE, FALSE);
  *phNewWaitObject = m_machine.Pool().RegisterWait(m_process, std::move(obj), Callback, Context,
                                                   dwMilliseconds, dwFlags);
  return TRUE;
}

// What a completion-event argument asks for: null, return at once; INVALID_HANDLE_VALUE,
// wait for a running callback; an event, signal it when the callback has finished.
bool ProcessKernel::ReadCompletion(HANDLE completionEvent, ThreadPool::Completion* mode,
                                   std::shared_ptr<KernelObject>* event) {
  if (!completionEvent) {
    *mode = ThreadPool::Completion::kNone;
  } else if (completionEvent == INVALID_HANDLE_VALUE) {
    *mode = ThreadPool::Completion::kWait;
  } else {
    *mode = ThreadPool::Completion::kEvent;
    *event = Object(completionEvent);
    if (!*event || (*event)->GetKind() != KernelObject::Kind::kEvent) return false;
  }
  return true;
}

BOOL ProcessKernel::UnregisterWaitEx(HANDLE WaitHandle, HANDLE CompletionEvent) {
  ThreadPool::Completion mode;
  std::shared_ptr<KernelObject> event;
  if (!ReadCompletion(CompletionEvent, &mode, &event)) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (DWORD e = m_machine.Pool().UnregisterWait(m_process.Pid(), WaitHandle, mode, event))
    return Fail(e, FALSE);
  return TRUE;
}

BOOL ProcessKernel::CreateTimerQueueTimer(PHANDLE phNewTimer, HANDLE TimerQueue,
                                          WAITORTIMERCALLBACK Callback, PVOID Parameter,
                                          DWORD DueTime, DWORD Period, ULONG Flags) {
  if (!phNewTimer || !Callback) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  // Only the default queue exists here (nothing creates another).
  if (TimerQueue) return Fail(ERROR_INVALID_HANDLE, FALSE);
  *phNewTimer =
      m_machine.Pool().CreateTimer(m_process, Callback, Parameter, DueTime, Period, Flags);
  return TRUE;
}

BOOL ProcessKernel::ChangeTimerQueueTimer(HANDLE TimerQueue, HANDLE Timer, ULONG DueTime,
                                          ULONG Period) {
  if (TimerQueue) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (DWORD e = m_machine.Pool().ChangeTimer(m_process.Pid(), Timer, DueTime, Period))
    return Fail(e, FALSE);
  return TRUE;
}

BOOL ProcessKernel::DeleteTimerQueueTimer(HANDLE TimerQueue, HANDLE Timer, HANDLE CompletionEvent) {
  if (TimerQueue) return Fail(ERROR_INVALID_HANDLE, FALSE);
  ThreadPool::Completion mode;
  std::shared_ptr<KernelObject> event;
  if (!ReadCompletion(CompletionEvent, &mode, &event)) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (DWORD e = m_machine.Pool().DeleteTimer(m_process.Pid(), Timer, mode, event))
    return Fail(e, FALSE);
  return TRUE;
}

// ---------------------------------------------------------------------------------------
// Clocks

DWORD ProcessKernel::GetTickCount() {
  return static_cast<DWORD>(m_machine.GetClock().NowMs() & 0xFFFFFFFFu);
}
ULONGLONG ProcessKernel::GetTickCount64() { return m_machine.GetClock().NowMs(); }
void ProcessKernel::GetSystemTime(SYSTEMTIME* st) { *st = m_machine.GetClock().UtcSystemTime(); }
void ProcessKernel::GetLocalTime(SYSTEMTIME* st) { *st = m_machine.GetClock().LocalSystemTime(); }
void ProcessKernel::GetSystemTimeAsFileTime(FILETIME* ft) {
  *ft = ToFileTime(m_machine.GetClock().UtcFileTime());
}

// ---------------------------------------------------------------------------------------
// Process facts

DWORD ProcessKernel::GetCurrentProcessId() { return m_process.Pid(); }
DWORD ProcessKernel::GetCurrentThreadId() { return m_machine.CurrentThreadId(); }

HRESULT ProcessKernel::SetCurrentThreadDescription(LPCWSTR lpThreadDescription) {
  if (!lpThreadDescription) return E_INVALIDARG;
  m_machine.Objects().SetThreadDescription(m_machine.CurrentThreadId(), lpThreadDescription);
  return S_OK;
}

DWORD ProcessKernel::GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
  // Only the executable has a file name here; libraries come from the module table.
  if (hModule) return Fail(ERROR_MOD_NOT_FOUND, DWORD{0});
  const std::wstring& path = m_process.ExePath();
  if (nSize == 0 || !lpFilename) return Fail(ERROR_INSUFFICIENT_BUFFER, DWORD{0});
  if (path.size() < nSize) {
    CopyOut(path, lpFilename, nSize);
    return static_cast<DWORD>(path.size());
  }
  // Too small: as on Vista and later, the name is cut to nSize - 1 characters and a zero,
  // the result is nSize and the last error says so.
  std::memcpy(lpFilename, path.c_str(), (nSize - 1) * sizeof(wchar_t));
  lpFilename[nSize - 1] = L'\0';
  return Fail(ERROR_INSUFFICIENT_BUFFER, nSize);
}

UINT ProcessKernel::GetSystemDirectoryW(LPWSTR lpBuffer, UINT uSize) {
  const std::wstring dir = L"C:\\Windows\\system32";
  if (!CopyOut(dir, lpBuffer, uSize)) return static_cast<UINT>(dir.size() + 1);
  return static_cast<UINT>(dir.size());
}

BOOL ProcessKernel::GetComputerNameW(LPWSTR lpBuffer, LPDWORD nSize) {
  if (!nSize) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  const std::wstring name = text::Upper(m_machine.Description().computerName);
  if (!CopyOut(name, lpBuffer, *nSize)) {
    *nSize = static_cast<DWORD>(name.size() + 1);
    return Fail(ERROR_BUFFER_OVERFLOW, FALSE);
  }
  *nSize = static_cast<DWORD>(name.size());
  return TRUE;
}

BOOL ProcessKernel::GetVersionExW(OSVERSIONINFOEXW* info) {
  constexpr DWORD kPlainSize = offsetof(OSVERSIONINFOEXW, wServicePackMajor);
  if (!info || (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOEXW) &&
                info->dwOSVersionInfoSize != kPlainSize))
    return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
  const MachineDescription& d = m_machine.Description();
  const DWORD size = info->dwOSVersionInfoSize;
  info->dwMajorVersion = d.osMajor;
  info->dwMinorVersion = d.osMinor;
  info->dwBuildNumber = d.osBuild;
  info->dwPlatformId = VER_PLATFORM_WIN32_NT;
  std::wmemset(info->szCSDVersion, L'\0', 128);
  std::wcsncpy(info->szCSDVersion, d.servicePack.c_str(), 127);
  if (size == sizeof(OSVERSIONINFOEXW)) {
    WORD sp = 0;
    const std::wstring prefix = L"Service Pack ";
    if (d.servicePack.rfind(prefix, 0) == 0)
      sp = static_cast<WORD>(std::wcstoul(d.servicePack.c_str() + prefix.size(), nullptr, 10));
    info->wServicePackMajor = sp;
    info->wServicePackMinor = 0;
    info->wSuiteMask = VER_SUITE_SINGLEUSERTS;
    info->wProductType = d.productType;
    info->wReserved = 0;
  }
  return TRUE;
}

BOOL ProcessKernel::GetFileVersion(LPCWSTR lpFileName, WORD parts[4]) {
  auto full = Full(lpFileName);
  if (!full) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
  if (auto v = m_machine.Files().FileVersion(*full)) {
    std::copy(v->begin(), v->end(), parts);
    return TRUE;
  }
  // A file without a version resource, or no file at all.
  return Fail(m_machine.Files().Exists(*full) ? static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND)
                                              : static_cast<DWORD>(ERROR_FILE_NOT_FOUND),
              FALSE);
}

// ---------------------------------------------------------------------------------------
// Environment

void ProcessKernel::BuildEnvironment() {
  auto set = [this](const std::wstring& name, const std::wstring& value) {
    m_env[text::Upper(name)] = {name, value};
  };
  RegistryStore& reg = m_machine.Registry();
  // Plain values first, then the expandable ones, so these may refer to any of them.
  auto load = [&](const std::wstring& path) {
    for (DWORD pass : {REG_SZ, REG_EXPAND_SZ})
      for (const auto& name : reg.ValueNames(path)) {
        auto v = reg.GetValue(path, name);
        if (v && v->first == pass)
          if (auto str = reg.GetString(path, name)) set(name, Expand(*str));
      }
  };

  // What Windows computes for each process.
  const MachineDescription& d = m_machine.Description();
  if (d.is64BitWindows) {
    const bool wow = m_process.IsWow64();
    set(L"ProgramFiles", wow ? L"C:\\Program Files (x86)" : L"C:\\Program Files");
    set(L"ProgramFiles(x86)", L"C:\\Program Files (x86)");
    set(L"ProgramW6432", L"C:\\Program Files");
    set(L"CommonProgramFiles",
        wow ? L"C:\\Program Files (x86)\\Common Files" : L"C:\\Program Files\\Common Files");
    set(L"CommonProgramFiles(x86)", L"C:\\Program Files (x86)\\Common Files");
    set(L"CommonProgramW6432", L"C:\\Program Files\\Common Files");
  } else {
    set(L"ProgramFiles", L"C:\\Program Files");
    set(L"CommonProgramFiles", L"C:\\Program Files\\Common Files");
  }
  set(L"COMPUTERNAME", text::Upper(d.computerName));
  const auto session = m_machine.Sessions().Find(m_process.SessionId());
  const bool user = session && !session->userName.empty();
  const std::wstring userName = user ? session->userName : L"SYSTEM";
  const std::wstring profile =
      user ? L"C:\\Users\\" + userName : L"C:\\Windows\\system32\\config\\systemprofile";
  set(L"USERNAME", userName);
  set(L"USERDOMAIN", text::Upper(d.computerName));
  set(L"USERPROFILE", profile);
  set(L"HOMEDRIVE", L"C:");
  set(L"HOMEPATH", profile.substr(2));
  set(L"APPDATA", profile + L"\\AppData\\Roaming");
  set(L"LOCALAPPDATA", profile + L"\\AppData\\Local");

  load(RegistryStore::kMachineEnvironmentPath);
  // A user's own TEMP and TMP (the defaults of a new profile), unless the user key says else.
  set(L"TEMP", profile + L"\\AppData\\Local\\Temp");
  set(L"TMP", profile + L"\\AppData\\Local\\Temp");
  if (session)
    load(L"HKU\\" + m_machine.Sessions().UserSid(m_process.SessionId()) + L"\\Environment");

  // The user's temporary folder exists on a real machine.
  if (auto temp = Environment(L"TEMP")) {
    std::error_code ec;
    std::filesystem::create_directories(m_machine.Files().HostPath(*temp), ec);
  }
}

std::optional<std::wstring> ProcessKernel::Environment(const std::wstring& name) const {
  auto it = m_env.find(text::Upper(name));
  if (it == m_env.end()) return std::nullopt;
  return it->second.second;
}

std::wstring ProcessKernel::Expand(const std::wstring& s) const {
  std::wstring out;
  size_t i = 0;
  while (i < s.size()) {
    if (s[i] != L'%') {
      out.push_back(s[i++]);
      continue;
    }
    const size_t end = s.find(L'%', i + 1);
    if (end == std::wstring::npos) {
      out.append(s, i, std::wstring::npos);
      break;
    }
    const std::wstring name = s.substr(i + 1, end - i - 1);
    auto value = name.empty() ? std::nullopt : Environment(name);
    if (value) {
      out += *value;
      i = end + 1;
    } else {
      // An unknown name stays as written; its closing % may open the next reference.
      out.append(s, i, end - i);
      i = end;
    }
  }
  return out;
}

int ProcessKernel::CompareStringOrdinal(LPCWCH lpString1, int cchCount1, LPCWCH lpString2,
                                        int cchCount2, BOOL bIgnoreCase) {
  if (!lpString1 || !lpString2) return Fail(ERROR_INVALID_PARAMETER, 0);
  const std::wstring_view a =
      cchCount1 < 0 ? std::wstring_view(lpString1) : std::wstring_view(lpString1, cchCount1);
  const std::wstring_view b =
      cchCount2 < 0 ? std::wstring_view(lpString2) : std::wstring_view(lpString2, cchCount2);
  const int order = text::CompareOrdinal(a, b, bIgnoreCase != FALSE);
  return order < 0 ? CSTR_LESS_THAN : order == 0 ? CSTR_EQUAL : CSTR_GREATER_THAN;
}

DWORD ProcessKernel::ExpandEnvironmentStringsW(LPCWSTR lpSrc, LPWSTR lpDst, DWORD nSize) {
  if (!lpSrc) return Fail(ERROR_INVALID_PARAMETER, DWORD{0});
  const std::wstring expanded = Expand(lpSrc);
  const auto needed = static_cast<DWORD>(expanded.size() + 1);
  // Too small: nothing useful is copied and the size needed (with the zero) is returned.
  CopyOut(expanded, lpDst, nSize);
  return needed;
}

// ---------------------------------------------------------------------------------------
// Files

std::optional<std::wstring> ProcessKernel::Full(LPCWSTR path) {
  if (!path) return std::nullopt;
  return FileSystem::FullPath(m_process.CurrentDirectory(), path);
}

HANDLE ProcessKernel::CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD,
                                  LPSECURITY_ATTRIBUTES, DWORD dwCreationDisposition, DWORD,
                                  HANDLE) {
  // Share modes are not enforced (see FileSystem).
  auto full = Full(lpFileName);
  if (!full) return Fail(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);
  std::shared_ptr<FileObject> file;
  bool existed = false;
  if (DWORD e =
          m_machine.Files().Open(*full, dwDesiredAccess, dwCreationDisposition, &file, &existed))
    return Fail(e, INVALID_HANDLE_VALUE);
  HANDLE h = m_machine.Objects().AddHandle(m_process.Pid(), std::move(file));
  const bool reportsExisting =
      dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == OPEN_ALWAYS;
  SetLastError(existed && reportsExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return h;
}

BOOL ProcessKernel::ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                             LPDWORD lpNumberOfBytesRead, void* lpOverlapped) {
  // Files are synchronous here; overlapped reads are not offered.
  if (lpOverlapped || !lpNumberOfBytesRead) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  *lpNumberOfBytesRead = 0;
  auto obj = Object(hFile);
  if (!obj || obj->GetKind() != KernelObject::Kind::kFile) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (DWORD e =
          static_cast<FileObject&>(*obj).Read(lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead))
    return Fail(e, FALSE);
  return TRUE;
}

BOOL ProcessKernel::WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                              LPDWORD lpNumberOfBytesWritten, void* lpOverlapped) {
  if (lpOverlapped || !lpNumberOfBytesWritten) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  *lpNumberOfBytesWritten = 0;
  auto obj = Object(hFile);
  if (!obj || obj->GetKind() != KernelObject::Kind::kFile) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (DWORD e = static_cast<FileObject&>(*obj).Write(lpBuffer, nNumberOfBytesToWrite,
                                                     lpNumberOfBytesWritten))
    return Fail(e, FALSE);
  return TRUE;
}

BOOL ProcessKernel::SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove,
                                     LARGE_INTEGER* lpNewFilePointer, DWORD dwMoveMethod) {
  auto obj = Object(hFile);
  if (!obj || obj->GetKind() != KernelObject::Kind::kFile) return Fail(ERROR_INVALID_HANDLE, FALSE);
  LONGLONG pos = 0;
  if (DWORD e = static_cast<FileObject&>(*obj).Seek(liDistanceToMove.QuadPart, dwMoveMethod, &pos))
    return Fail(e, FALSE);
  if (lpNewFilePointer) lpNewFilePointer->QuadPart = pos;
  return TRUE;
}

BOOL ProcessKernel::GetFileSizeEx(HANDLE hFile, LARGE_INTEGER* lpFileSize) {
  if (!lpFileSize) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  auto obj = Object(hFile);
  if (!obj || obj->GetKind() != KernelObject::Kind::kFile) return Fail(ERROR_INVALID_HANDLE, FALSE);
  LONGLONG size = 0;
  if (DWORD e = static_cast<FileObject&>(*obj).Size(&size)) return Fail(e, FALSE);
  lpFileSize->QuadPart = size;
  return TRUE;
}

BOOL ProcessKernel::DeleteFileW(LPCWSTR lpFileName) {
  auto full = Full(lpFileName);
  if (!full) return Fail(ERROR_PATH_NOT_FOUND, FALSE);
  if (DWORD e = m_machine.Files().Delete(*full)) return Fail(e, FALSE);
  return TRUE;
}

DWORD ProcessKernel::GetFileAttributesW(LPCWSTR lpFileName) {
  auto full = Full(lpFileName);
  if (!full) return Fail(ERROR_PATH_NOT_FOUND, INVALID_FILE_ATTRIBUTES);
  DWORD attributes = INVALID_FILE_ATTRIBUTES;
  if (DWORD e = m_machine.Files().Attributes(*full, &attributes))
    return Fail(e, INVALID_FILE_ATTRIBUTES);
  return attributes;
}

BOOL ProcessKernel::CreateDirectoryW(LPCWSTR lpPathName, LPSECURITY_ATTRIBUTES) {
  auto full = Full(lpPathName);
  if (!full) return Fail(ERROR_PATH_NOT_FOUND, FALSE);
  if (DWORD e = m_machine.Files().CreateDirectory(*full)) return Fail(e, FALSE);
  return TRUE;
}

DWORD ProcessKernel::GetCurrentDirectoryW(DWORD nBufferLength, LPWSTR lpBuffer) {
  const std::wstring dir = m_process.CurrentDirectory();
  // Too small: the size needed, with the zero; otherwise the length copied, without it.
  if (!CopyOut(dir, lpBuffer, nBufferLength)) return static_cast<DWORD>(dir.size() + 1);
  return static_cast<DWORD>(dir.size());
}

BOOL ProcessKernel::SetCurrentDirectoryW(LPCWSTR lpPathName) {
  auto full = Full(lpPathName);
  if (!full) return Fail(ERROR_PATH_NOT_FOUND, FALSE);
  DWORD attributes = INVALID_FILE_ATTRIBUTES;
  if (DWORD e = m_machine.Files().Attributes(*full, &attributes)) return Fail(e, FALSE);
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return Fail(ERROR_DIRECTORY, FALSE);
  m_process.SetCurrentDirectory(*full);
  return TRUE;
}

}  // namespace sim

// Not simulated yet.
namespace sim {

BOOL ProcessKernel::GetComputerNameExW(COMPUTER_NAME_FORMAT, LPWSTR, LPDWORD) {
  m_process.GetMachine().LastError() = ERROR_CALL_NOT_IMPLEMENTED;
  return FALSE;
}
BOOL ProcessKernel::CreateProcessW(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                                   BOOL, DWORD, LPVOID, LPCWSTR, LPSTARTUPINFOW,
                                   LPPROCESS_INFORMATION) {
  m_process.GetMachine().LastError() = ERROR_CALL_NOT_IMPLEMENTED;
  return FALSE;
}
BOOL ProcessKernel::GetExitCodeProcess(HANDLE, LPDWORD) {
  m_process.GetMachine().LastError() = ERROR_CALL_NOT_IMPLEMENTED;
  return FALSE;
}
BOOL ProcessKernel::CreateWellKnownSid(WELL_KNOWN_SID_TYPE, PSID, PSID, DWORD*) {
  m_process.GetMachine().LastError() = ERROR_CALL_NOT_IMPLEMENTED;
  return FALSE;
}
BOOL ProcessKernel::CheckTokenMembership(HANDLE, PSID, PBOOL) {
  m_process.GetMachine().LastError() = ERROR_CALL_NOT_IMPLEMENTED;
  return FALSE;
}
BOOL ProcessKernel::CopyFileExW(LPCWSTR, LPCWSTR, LPPROGRESS_ROUTINE, LPVOID, LPBOOL, DWORD) {
  m_process.GetMachine().LastError() = ERROR_CALL_NOT_IMPLEMENTED;
  return FALSE;
}
BOOL ProcessKernel::MoveFileExW(LPCWSTR, LPCWSTR, DWORD) {
  m_process.GetMachine().LastError() = ERROR_CALL_NOT_IMPLEMENTED;
  return FALSE;
}

}  // namespace sim
