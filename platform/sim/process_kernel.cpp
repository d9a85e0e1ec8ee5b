#include "platform/sim/process_kernel.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <thread>

#include "platform/sim/file_system.h"
#include "platform/sim/machine.h"
#include "platform/sim/object_manager.h"
#include "platform/sim/program_table.h"
#include "platform/sim/registry_store.h"
#include "platform/sim/session_manager.h"
#include "platform/sim/sim_text.h"
#include "platform/sim/thread_pool.h"
#include "platform/sim/window_manager.h"

namespace sim {

// The mailslot name of a "\\.\mailslot\<name>" path (process_mailslot.cpp).
std::optional<std::wstring> MailslotName(LPCWSTR path);

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
  struct Ended {
    ProcessKernel& k;
    ~Ended() { k.NoteWaitEnded(); }
  } ended{*this};
  if (ms == INFINITE || m_machine.Pool().IsWorkerThread()) return BlockingWait(obj, ms);

  // This thread drives the clock: one due item at a time, checking the object after each.
  Clock& clock = m_machine.GetClock();
  // Threads woken at this instant finish their work first: a thread told to end ends now,
  // not at the next due item.
  clock.AdvanceTo(clock.NowMs());
  if (obj && objects.TryAcquire(obj, tid)) return WAIT_OBJECT_0;
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
  // Meanwhile this thread answers no sent message (see WindowManager::NoteKernelWait).
  struct Noted {
    WindowManager& wm;
    explicit Noted(WindowManager& m) : wm(m) { wm.NoteKernelWait(true); }
    ~Noted() { wm.NoteKernelWait(false); }
  } noted{m_machine.Windows()};
  m_machine.GetClock().WaitUntil([&] { return objects.IsDone(w); });
  return w->timedOut ? WAIT_TIMEOUT : WAIT_OBJECT_0;
}

void ProcessKernel::Sleep(DWORD dwMilliseconds) {
  if (dwMilliseconds == 0) {
    std::this_thread::yield();
    return;
  }
  struct Ended {
    ProcessKernel& k;
    ~Ended() { k.NoteWaitEnded(); }
  } ended{*this};
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
  if (auto slot = MailslotName(lpFileName)) return OpenMailslot(*slot);
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
  if (auto slot = Object(hFile); slot && slot->GetKind() == KernelObject::Kind::kMailslot)
    return ReadMailslot(slot, lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead,
                        static_cast<OVERLAPPED*>(lpOverlapped));
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
  if (auto client = Object(hFile);
      client && client->GetKind() == KernelObject::Kind::kMailslotClient && !lpOverlapped)
    return WriteMailslot(client, lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten);
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

// ---------------------------------------------------------------------------------------
// Computer names

BOOL ProcessKernel::GetComputerNameExW(COMPUTER_NAME_FORMAT NameType, LPWSTR lpBuffer,
                                       LPDWORD nSize) {
  if (!nSize) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  const MachineDescription& d = m_machine.Description();
  std::wstring name;
  switch (NameType) {
    case ComputerNameNetBIOS:
    case ComputerNamePhysicalNetBIOS:
      name = text::Upper(d.computerName);
      break;
    case ComputerNameDnsHostname:
    case ComputerNamePhysicalDnsHostname:
      name = d.computerName;
      break;
    case ComputerNameDnsDomain:
    case ComputerNamePhysicalDnsDomain:
      name = d.dnsDomain;
      break;
    case ComputerNameDnsFullyQualified:
    case ComputerNamePhysicalDnsFullyQualified:
      name = d.dnsDomain.empty() ? d.computerName : d.computerName + L"." + d.dnsDomain;
      break;
    default:
      return Fail(ERROR_INVALID_PARAMETER, FALSE);
  }
  if (!CopyOut(name, lpBuffer, *nSize)) {
    *nSize = static_cast<DWORD>(name.size() + 1);
    return Fail(ERROR_MORE_DATA, FALSE);
  }
  *nSize = static_cast<DWORD>(name.size());
  return TRUE;
}

// ---------------------------------------------------------------------------------------
// Programs

namespace {

bool IsProgramName(const std::wstring& path) {
  const auto slash = path.find_last_of(L'\\');
  const auto dot = path.find_last_of(L'.');
  if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash)) return false;
  const std::wstring ext = text::Upper(path.substr(dot));
  return ext == L".EXE" || ext == L".COM" || ext == L".BAT" || ext == L".CMD";
}

bool HasExtension(const std::wstring& name) {
  const auto slash = name.find_last_of(L"\\/");
  const auto dot = name.find_last_of(L'.');
  return dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash);
}

}  // namespace

DWORD ProcessKernel::FindProgram(const std::wstring& name, bool search, std::wstring* program) {
  FileSystem& files = m_machine.Files();
  auto check = [&](const std::wstring& full) -> DWORD {
    DWORD attributes = 0;
    if (DWORD e = files.Attributes(full, &attributes)) return e;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return ERROR_ACCESS_DENIED;
    if (!IsProgramName(full)) return ERROR_BAD_EXE_FORMAT;
    *program = full;
    return ERROR_SUCCESS;
  };
  if (!search || name.find_first_of(L"\\/:") != std::wstring::npos) {
    auto full = Full(name.c_str());
    return full ? check(*full) : static_cast<DWORD>(ERROR_PATH_NOT_FOUND);
  }
  std::vector<std::wstring> folders = {
      FileSystem::FullPath(L"C:\\", m_process.ExePath() + L"\\..").value_or(L"C:\\"),
      m_process.CurrentDirectory(), L"C:\\Windows\\system32", L"C:\\Windows"};
  if (auto path = Environment(L"PATH")) {
    size_t start = 0;
    while (start <= path->size()) {
      size_t end = path->find(L';', start);
      if (end == std::wstring::npos) end = path->size();
      if (end > start) folders.push_back(path->substr(start, end - start));
      start = end + 1;
    }
  }
  for (const auto& folder : folders) {
    auto full = FileSystem::FullPath(folder, name);
    DWORD attributes = 0;
    if (full && files.Attributes(*full, &attributes) == ERROR_SUCCESS &&
        !(attributes & FILE_ATTRIBUTE_DIRECTORY))
      return check(*full);
  }
  return ERROR_FILE_NOT_FOUND;
}

DWORD ProcessKernel::FindProgramOfCommandLine(const std::wstring& commandLine,
                                              std::wstring* program) {
  size_t at = commandLine.find_first_not_of(L" \t");
  if (at == std::wstring::npos) return ERROR_FILE_NOT_FOUND;
  std::vector<std::wstring> candidates;
  if (commandLine[at] == L'"') {
    const size_t close = commandLine.find(L'"', at + 1);
    candidates.push_back(commandLine.substr(
        at + 1, close == std::wstring::npos ? std::wstring::npos : close - at - 1));
  } else {
    // An unquoted name may hold blanks: Windows tries each longer prefix up to a blank
    // ("C:\Program" before "C:\Program Files\x.exe").
    size_t end = at;
    for (;;) {
      end = commandLine.find_first_of(L" \t", end);
      candidates.push_back(commandLine.substr(at, end == std::wstring::npos ? end : end - at));
      if (end == std::wstring::npos) break;
      end = commandLine.find_first_not_of(L" \t", end);
      if (end == std::wstring::npos) break;
    }
  }
  DWORD error = ERROR_FILE_NOT_FOUND;
  for (auto name : candidates) {
    if (name.empty()) continue;
    if (!HasExtension(name)) name += L".exe";
    error = FindProgram(name, true, program);
    // A file that is there but cannot run ends the search, as on Windows.
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return error;
  }
  return error == ERROR_PATH_NOT_FOUND ? static_cast<DWORD>(ERROR_FILE_NOT_FOUND) : error;
}

BOOL ProcessKernel::CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine,
                                   LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                                   BOOL bInheritHandles, DWORD dwCreationFlags, LPVOID,
                                   LPCWSTR lpCurrentDirectory, LPSTARTUPINFOW lpStartupInfo,
                                   LPPROCESS_INFORMATION lpProcessInformation) {
  const bool hasApp = lpApplicationName && *lpApplicationName;
  const bool hasCommandLine = lpCommandLine && *lpCommandLine;
  if (!lpStartupInfo || !lpProcessInformation || (!hasApp && !hasCommandLine))
    return Fail(ERROR_INVALID_PARAMETER, FALSE);

  std::wstring folder = m_process.CurrentDirectory();
  if (lpCurrentDirectory && *lpCurrentDirectory) {
    auto full = Full(lpCurrentDirectory);
    DWORD attributes = 0;
    if (!full || m_machine.Files().Attributes(*full, &attributes) != ERROR_SUCCESS ||
        !(attributes & FILE_ATTRIBUTE_DIRECTORY))
      return Fail(ERROR_DIRECTORY, FALSE);
    folder = *full;
  }
  std::wstring program;
  // The application name is taken as it is (no extension added, no search but the
  // current folder); the command line's first token is searched for.
  const DWORD error = hasApp ? FindProgram(lpApplicationName, false, &program)
                             : FindProgramOfCommandLine(lpCommandLine, &program);
  if (error) return Fail(error, FALSE);

  ProgramRun run;
  run.parentPid = m_process.Pid();
  run.sessionId = m_process.SessionId();
  run.path = program;
  run.commandLine = hasCommandLine ? lpCommandLine : lpApplicationName;
  run.currentDirectory = folder;
  run.desktop = lpStartupInfo->lpDesktop ? lpStartupInfo->lpDesktop : L"";
  run.creationFlags = dwCreationFlags;
  run.inheritHandles = bInheritHandles != FALSE;
  auto started = m_machine.Programs().Start(std::move(run));
  ObjectManager& objects = m_machine.Objects();
  lpProcessInformation->hProcess = objects.AddHandle(m_process.Pid(), std::move(started.process));
  lpProcessInformation->hThread = objects.AddHandle(m_process.Pid(), std::move(started.thread));
  lpProcessInformation->dwProcessId = started.pid;
  lpProcessInformation->dwThreadId = started.tid;
  return TRUE;
}

BOOL ProcessKernel::GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
  if (!lpExitCode) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  auto obj = Object(hProcess);
  if (!obj || obj->GetKind() != KernelObject::Kind::kProcess)
    return Fail(ERROR_INVALID_HANDLE, FALSE);
  auto code = m_machine.Programs().ExitCode(obj.get());
  if (!code) return Fail(ERROR_INVALID_HANDLE, FALSE);
  *lpExitCode = *code;
  return TRUE;
}

// ---------------------------------------------------------------------------------------
// Threads

// A thread runs as a pool job owned by this process, so the machine's idle wait
// (RunUntilIdle, AdvanceBy) also waits for it, under the pool's busy rules: a thread blocked
// in a platform wait does not count. Its handle is a thread object signalled when the start
// routine returns. The id handed out is a fresh machine-wide one; inside the thread
// GetCurrentThreadId reports the id of the pool worker that runs it.
HANDLE ProcessKernel::CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T,
                                   LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                                   DWORD dwCreationFlags, LPDWORD lpThreadId) {
  if (!lpStartAddress || dwCreationFlags != 0)
    return Fail(ERROR_INVALID_PARAMETER, static_cast<HANDLE>(nullptr));
  ObjectManager& objects = m_machine.Objects();
  auto ended = objects.NewEndObject(KernelObject::Kind::kThread);
  HANDLE h = objects.AddHandle(m_process.Pid(), ended);
  if (lpThreadId) *lpThreadId = m_machine.NewThreadId();
  m_machine.Pool().Queue(&m_process, [&objects, ended, lpStartAddress, lpParameter] {
    lpStartAddress(lpParameter);
    objects.SignalEnded(ended);
  });
  return h;
}

// ---------------------------------------------------------------------------------------
// Security

namespace {

constexpr DWORD kErrorInvalidSid = 1337;  // ERROR_INVALID_SID

// Binary SID: revision 1, sub-authority count, 48-bit authority (big-endian), then the
// sub-authorities (32-bit little-endian).
std::vector<BYTE> SidBytes(BYTE authority, std::initializer_list<DWORD> subAuthorities) {
  std::vector<BYTE> sid = {1, static_cast<BYTE>(subAuthorities.size()), 0, 0, 0, 0, 0, authority};
  for (DWORD sub : subAuthorities)
    for (int i = 0; i < 4; ++i) sid.push_back(static_cast<BYTE>(sub >> (8 * i)));
  return sid;
}

// "S-1-5-32-544" for a valid binary SID; empty otherwise.
std::wstring SidText(const BYTE* sid) {
  if (!sid || sid[0] != 1 || sid[1] > 15) return {};
  ULONGLONG authority = 0;
  for (int i = 2; i < 8; ++i) authority = (authority << 8) | sid[i];
  std::wstring out = L"S-1-" + std::to_wstring(authority);
  for (int n = 0; n < sid[1]; ++n) {
    const BYTE* p = sid + 8 + 4 * n;
    out +=
        L"-" + std::to_wstring(static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) |
                               (static_cast<DWORD>(p[2]) << 16) | (static_cast<DWORD>(p[3]) << 24));
  }
  return out;
}

}  // namespace

BOOL ProcessKernel::CreateWellKnownSid(WELL_KNOWN_SID_TYPE WellKnownSidType, PSID, PSID pSid,
                                       DWORD* cbSid) {
  std::vector<BYTE> sid;
  switch (WellKnownSidType) {
    case WinLocalSystemSid:
      sid = SidBytes(5, {18});
      break;
    case WinBuiltinAdministratorsSid:
      sid = SidBytes(5, {32, 544});
      break;
    default:
      return Fail(ERROR_INVALID_PARAMETER, FALSE);
  }
  if (!cbSid) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  const auto size = static_cast<DWORD>(sid.size());
  if (!pSid || *cbSid < size) {
    *cbSid = size;
    return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
  }
  std::memcpy(pSid, sid.data(), size);
  *cbSid = size;
  return TRUE;
}

std::vector<std::wstring> ProcessKernel::TokenSids() {
  std::vector<std::wstring> sids = {L"S-1-1-0", L"S-1-5-11"};  // Everyone, Authenticated Users
  if (m_process.RunsAsSystem()) {
    sids.push_back(L"S-1-5-18");
  } else {
    sids.push_back(L"S-1-5-32-545");  // Users
    const std::wstring user = m_machine.Sessions().UserSid(m_process.SessionId());
    if (!user.empty()) sids.push_back(text::Upper(user));
  }
  if (m_process.ElevatedAdmin()) sids.push_back(L"S-1-5-32-544");
  return sids;
}

BOOL ProcessKernel::CheckTokenMembership(HANDLE TokenHandle, PSID SidToCheck, PBOOL IsMember) {
  // Only the caller's own token is modelled; no call hands out token handles.
  if (TokenHandle) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (!IsMember) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  const std::wstring sid = SidText(static_cast<const BYTE*>(SidToCheck));
  if (sid.empty()) return Fail(kErrorInvalidSid, FALSE);
  const auto sids = TokenSids();
  *IsMember = std::find(sids.begin(), sids.end(), sid) != sids.end() ? TRUE : FALSE;
  return TRUE;
}

// ---------------------------------------------------------------------------------------
// Copies and moves

void ProcessKernel::PassTime(ULONGLONG ms) {
  if (ms == 0) return;
  Sleep(static_cast<DWORD>(std::min<ULONGLONG>(ms, INFINITE - 1)));
}

BOOL ProcessKernel::CopyFileExW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName,
                                LPPROGRESS_ROUTINE lpProgressRoutine, LPVOID lpData,
                                LPBOOL pbCancel, DWORD dwCopyFlags) {
  constexpr DWORD kChunk = 64 * 1024;
  FileSystem& files = m_machine.Files();
  auto from = Full(lpExistingFileName);
  auto to = Full(lpNewFileName);
  if (!from || !to) return Fail(ERROR_PATH_NOT_FOUND, FALSE);

  std::shared_ptr<FileObject> source;
  std::shared_ptr<FileObject> target;
  bool existed = false;
  if (DWORD e = files.Open(*from, GENERIC_READ, OPEN_EXISTING, &source, &existed))
    return Fail(e, FALSE);
  if (files.HostPath(*from) == files.HostPath(*to)) return Fail(ERROR_SHARING_VIOLATION, FALSE);
  const DWORD disposition = (dwCopyFlags & COPY_FILE_FAIL_IF_EXISTS) ? CREATE_NEW : CREATE_ALWAYS;
  if (DWORD e = files.Open(*to, GENERIC_WRITE, disposition, &target, &existed))
    return Fail(e, FALSE);

  // The routine gets handles of this process to both files, valid during the copy.
  ObjectManager& objects = m_machine.Objects();
  HANDLE sourceHandle = objects.AddHandle(m_process.Pid(), source);
  HANDLE targetHandle = objects.AddHandle(m_process.Pid(), target);
  auto finish = [&](DWORD error) -> BOOL {
    objects.CloseHandle(m_process.Pid(), sourceHandle);
    objects.CloseHandle(m_process.Pid(), targetHandle);
    target.reset();
    if (!error) return TRUE;
    // Nothing half-copied stays behind, not even the file it replaced.
    files.Delete(*to);
    return Fail(error, FALSE);
  };

  LONGLONG total = 0;
  if (DWORD e = source->Size(&total)) return finish(e);
  bool quiet = lpProgressRoutine == nullptr;
  // False when the routine or the flag asks to stop.
  auto report = [&](DWORD reason, LONGLONG done) {
    if (!quiet) {
      LARGE_INTEGER size{};
      LARGE_INTEGER moved{};
      size.QuadPart = total;
      moved.QuadPart = done;
      const DWORD answer = lpProgressRoutine(size, moved, size, moved, 1, reason, sourceHandle,
                                             targetHandle, lpData);
      if (answer == PROGRESS_CANCEL || answer == PROGRESS_STOP) return false;
      if (answer == PROGRESS_QUIET) quiet = true;
    }
    return !(pbCancel && *pbCancel);
  };

  const ULONGLONG speed = files.CopySpeed();
  const ULONGLONG latency = std::max(files.LatencyOf(*from), files.LatencyOf(*to));
  Clock& clock = m_machine.GetClock();
  const ULONGLONG start = clock.NowMs();
  PassTime(latency);
  if (!report(CALLBACK_STREAM_SWITCH, 0)) return finish(ERROR_REQUEST_ABORTED);

  std::vector<char> buffer(kChunk);
  LONGLONG done = 0;
  DWORD read = 0;
  do {
    const auto want = static_cast<DWORD>(std::min<LONGLONG>(kChunk, total - done));
    if (DWORD e = source->Read(buffer.data(), want, &read)) return finish(e);
    DWORD written = 0;
    if (DWORD e = target->Write(buffer.data(), read, &written)) return finish(e);
    done += read;
    // Counted from the start so that rounding does not add up over the chunks.
    const ULONGLONG due = start + latency + static_cast<ULONGLONG>(done) / speed;
    if (due > clock.NowMs()) PassTime(due - clock.NowMs());
    if (!report(CALLBACK_CHUNK_FINISHED, done)) return finish(ERROR_REQUEST_ABORTED);
  } while (done < total && read > 0);
  return finish(ERROR_SUCCESS);
}

BOOL ProcessKernel::MoveFileExW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, DWORD dwFlags) {
  // Without a new name Windows would delete at the next restart, which no one here sees.
  if (!lpNewFileName) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  auto from = Full(lpExistingFileName);
  auto to = Full(lpNewFileName);
  if (!from || !to) return Fail(ERROR_PATH_NOT_FOUND, FALSE);
  const bool replace = (dwFlags & MOVEFILE_REPLACE_EXISTING) != 0;
  DWORD e = m_machine.Files().Move(*from, *to, replace);
  if (e == ERROR_NOT_SAME_DEVICE && (dwFlags & MOVEFILE_COPY_ALLOWED)) {
    // Another volume: a copy and a delete, as Windows does.
    if (!CopyFileExW(from->c_str(), to->c_str(), nullptr, nullptr, nullptr,
                     replace ? 0 : COPY_FILE_FAIL_IF_EXISTS)) {
      return FALSE;
    }
    e = m_machine.Files().Delete(*from);
  }
  if (e) return Fail(e, FALSE);
  return TRUE;
}

}  // namespace sim
