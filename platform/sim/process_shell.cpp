#include "platform/sim/process_shell.h"

#include <algorithm>
#include <cwchar>
#include <optional>
#include <vector>

#include "platform/handles.h"

#include "platform/sim/file_system.h"
#include "platform/sim/module_table.h"
#include "platform/sim/notification_area.h"
#include "platform/sim/sim_text.h"

namespace sim {

namespace {

// What hInstApp holds: a small number, > 32 when the program started.
HINSTANCE InstApp(INT_PTR code) { return reinterpret_cast<HINSTANCE>(code); }

std::wstring Unquote(std::wstring s) {
  if (s.size() >= 2 && s.front() == L'"' && s.back() == L'"') s = s.substr(1, s.size() - 2);
  return s;
}

BOOL Fail(platform::IKernel& k, SHELLEXECUTEINFOW* info, DWORD error, INT_PTR seError) {
  info->hInstApp = InstApp(seError);
  k.SetLastError(error);
  return FALSE;
}

}  // namespace

ProcessShell::ProcessShell(Process& p) : m_process(p), m_machine(p.GetMachine()) {}

std::wstring ProcessShell::Expand(const std::wstring& s) {
  auto& k = m_process.Kernel();
  const DWORD needed = k.ExpandEnvironmentStringsW(s.c_str(), nullptr, 0);
  if (needed == 0) return s;
  std::vector<wchar_t> buffer(needed);
  k.ExpandEnvironmentStringsW(s.c_str(), buffer.data(), needed);
  return std::wstring(buffer.data());
}

BOOL ProcessShell::ShellExecuteExW(SHELLEXECUTEINFOW* info) {
  if (!info || info->cbSize != sizeof(SHELLEXECUTEINFOW)) {
    m_process.Kernel().SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  ShellExecuteCall call;
  call.owner = info->hwnd;
  call.mask = info->fMask;
  call.show = info->nShow;
  call.verb = info->lpVerb ? info->lpVerb : L"";
  call.file = info->lpFile ? info->lpFile : L"";
  call.parameters = info->lpParameters ? info->lpParameters : L"";
  const BOOL started = Execute(info);
  call.started = started != FALSE;
  std::lock_guard lk(m_mu);
  m_calls.push_back(std::move(call));
  return started;
}

std::vector<ShellExecuteCall> ProcessShell::Calls() const {
  std::lock_guard lk(m_mu);
  return m_calls;
}

std::vector<ShellExecuteCall> ShellExecuteCalls(Process& process) {
  // The simulated process's shell is always this class.
  return static_cast<ProcessShell&>(process.Shell()).Calls();
}

BOOL ProcessShell::Execute(SHELLEXECUTEINFOW* info) {
  auto& k = m_process.Kernel();
  info->hProcess = nullptr;  // no simulated process stands behind a launch
  if (!info->lpFile || !*info->lpFile) return Fail(k, info, ERROR_FILE_NOT_FOUND, SE_ERR_FNF);

  const bool subst = (info->fMask & SEE_MASK_DOENVSUBST) != 0;
  std::wstring file = Unquote(info->lpFile);
  std::wstring folder =
      info->lpDirectory && *info->lpDirectory ? std::wstring(info->lpDirectory) : L"";
  if (subst) {
    file = Expand(file);
    folder = Expand(folder);
  }
  if (folder.empty()) folder = m_process.CurrentDirectory();
  // A web address opens in the user's browser: recorded as a launch of the address.
  const auto startsWith = [&](std::wstring_view scheme) {
    return file.size() > scheme.size() &&
           text::IEquals(std::wstring_view(file).substr(0, scheme.size()), scheme);
  };
  if (startsWith(L"http://") || startsWith(L"https://")) {
    const std::wstring verb = info->lpVerb && *info->lpVerb ? info->lpVerb : L"open";
    m_machine.GetDesktop().Record(m_process.SessionId(), desktop_kind::kLaunch,
                                  verb + L" \"" + file + L"\"");
    info->hInstApp = InstApp(42);
    return TRUE;
  }
  const auto full = FileSystem::FullPath(folder, file);
  DWORD attributes = 0;
  // A missing folder on the way reads as a missing file too: the shell reports both alike.
  if (!full || m_machine.Files().Attributes(*full, &attributes) != ERROR_SUCCESS)
    return Fail(k, info, ERROR_FILE_NOT_FOUND, SE_ERR_FNF);

  // A program understands "open" (the default) and "runas"; other verbs need an association.
  const std::wstring verb = info->lpVerb && *info->lpVerb ? info->lpVerb : L"open";
  if (!text::IEquals(verb, L"open") && !text::IEquals(verb, L"runas"))
    return Fail(k, info, ERROR_NO_ASSOCIATION, SE_ERR_NOASSOC);

  std::wstring record = verb + L" \"" + *full + L"\"";
  if (info->lpParameters && *info->lpParameters) record += L" " + std::wstring(info->lpParameters);
  m_machine.GetDesktop().Record(m_process.SessionId(), desktop_kind::kLaunch, std::move(record));
  info->hInstApp = InstApp(42);
  return TRUE;
}

std::vector<LaunchedProgram> LaunchedPrograms(const Desktop& desktop, DWORD sessionId) {
  std::vector<LaunchedProgram> out;
  for (const auto& e : desktop.Events(sessionId)) {
    if (e.kind != desktop_kind::kLaunch) continue;
    LaunchedProgram p;
    p.timeMs = e.timeMs;
    const auto space = e.text.find(L' ');
    p.verb = e.text.substr(0, space);
    // The path is quoted and cannot hold a quote itself.
    const auto open = e.text.find(L'"', space);
    const auto close = e.text.find(L'"', open + 1);
    p.path = e.text.substr(open + 1, close - open - 1);
    if (close + 1 < e.text.size()) p.arguments = e.text.substr(close + 2);
    out.push_back(std::move(p));
  }
  return out;
}

HINSTANCE ProcessShell::ShellExecuteW(HWND hwnd, LPCWSTR lpOperation, LPCWSTR lpFile,
                                      LPCWSTR lpParameters, LPCWSTR lpDirectory, INT nShowCmd) {
  // The older call is the newer one with no mask; it is recorded the same way.
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  info.hwnd = hwnd;
  info.lpVerb = lpOperation;
  info.lpFile = lpFile;
  info.lpParameters = lpParameters;
  info.lpDirectory = lpDirectory;
  info.nShow = nShowCmd;
  ShellExecuteExW(&info);
  return info.hInstApp;
}

int ProcessShell::SHCreateDirectoryExW(HWND, LPCWSTR pszPath, const SECURITY_ATTRIBUTES*) {
  auto& k = m_process.Kernel();
  auto result = [&](DWORD error) {
    k.SetLastError(error);
    return static_cast<int>(error);
  };
  // Only a rooted path will do ("C:\x", "\\server\share\x", "\x" on the current drive).
  const std::wstring path = pszPath ? pszPath : L"";
  const bool rooted = !path.empty() && (path[0] == L'\\' || (path.size() >= 2 && path[1] == L':'));
  if (!rooted) return result(ERROR_BAD_PATHNAME);
  const auto full = FileSystem::FullPath(m_process.CurrentDirectory(), path);
  if (!full) return result(ERROR_BAD_PATHNAME);

  FileSystem& files = m_machine.Files();
  DWORD attributes = 0;
  const DWORD reach = files.Attributes(*full, &attributes);
  if (reach == ERROR_SUCCESS) return result(ERROR_ALREADY_EXISTS);
  if (reach != ERROR_FILE_NOT_FOUND && reach != ERROR_PATH_NOT_FOUND) return result(reach);

  // Every folder from the volume root down; those already there are passed by.
  const std::wstring volume = FileSystem::VolumeOf(*full);
  DWORD error = ERROR_SUCCESS;
  size_t at = volume.size() + 1;
  while (at <= full->size()) {
    size_t end = full->find(L'\\', at);
    if (end == std::wstring::npos) end = full->size();
    error = files.CreateDirectory(full->substr(0, end));
    if (error != ERROR_SUCCESS && error != ERROR_ALREADY_EXISTS) return result(error);
    at = end + 1;
  }
  return result(error);
}

BOOL ProcessShell::Shell_NotifyIconW(DWORD dwMessage, PNOTIFYICONDATAW lpData) {
  DWORD error = ERROR_SUCCESS;
  const BOOL ok =
      m_machine.GetDesktop().Tray(m_process.SessionId()).NotifyIcon(dwMessage, lpData, &error);
  if (!ok) m_machine.LastError() = error;
  return ok;
}

}  // namespace sim

namespace sim {

// ---- Associations ----

namespace {

#ifndef E_NOT_SUFFICIENT_BUFFER
#define E_NOT_SUFFICIENT_BUFFER HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER)
#endif

struct RegString {
  std::wstring text;
  DWORD type = 0;
};

// The default value of a key, when it is a string.
std::optional<RegString> DefaultString(platform::IRegistry& reg, HKEY root,
                                       const std::wstring& path) {
  platform::UniqueHKey key(reg);
  if (reg.RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS)
    return std::nullopt;
  DWORD type = 0, size = 0;
  if (reg.RegQueryValueExW(key.get(), nullptr, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ))
    return std::nullopt;
  std::vector<wchar_t> buf(size / sizeof(wchar_t) + 1, L'\0');
  if (reg.RegQueryValueExW(key.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buf.data()),
                           &size) != ERROR_SUCCESS)
    return std::nullopt;
  // The stored string need not be terminated; never read past what was returned.
  std::wstring text(buf.data(), std::min<size_t>(size / sizeof(wchar_t), buf.size() - 1));
  text.resize(std::wcslen(text.c_str()));
  return RegString{std::move(text), type};
}

// The program of a command line: its quoted first part, or everything up to the first space.
std::wstring ProgramOf(const std::wstring& command) {
  size_t start = command.find_first_not_of(L" \t");
  if (start == std::wstring::npos) return {};
  if (command[start] == L'"') {
    const size_t end = command.find(L'"', start + 1);
    return command.substr(start + 1, end == std::wstring::npos ? end : end - start - 1);
  }
  const size_t end = command.find_first_of(L" \t", start);
  return command.substr(start, end == std::wstring::npos ? end : end - start);
}

}  // namespace

HRESULT ProcessShell::AssocQueryStringW(ASSOCF flags, ASSOCSTR str, LPCWSTR pszAssoc,
                                        LPCWSTR pszExtra, LPWSTR pszOut, DWORD* pcchOut) {
  if (!pcchOut) return E_POINTER;
  if (!pszAssoc || !*pszAssoc || (str != ASSOCSTR_COMMAND && str != ASSOCSTR_EXECUTABLE))
    return E_INVALIDARG;
  auto& reg = m_process.Registry();
  // Per-user classes come before the machine's, key by key, as HKCR merges them.
  const std::pair<HKEY, std::wstring> hives[] = {{HKEY_CURRENT_USER, L"Software\\Classes\\"},
                                                 {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\"}};
  std::wstring verb = pszExtra ? pszExtra : L"";
  if (verb.empty()) {
    for (const auto& [root, classes] : hives) {
      if (auto def = DefaultString(reg, root, classes + pszAssoc + L"\\shell")) {
        verb = def->text;
        break;
      }
    }
    if (verb.empty()) verb = L"open";
  }
  std::optional<RegString> command;
  for (const auto& [root, classes] : hives) {
    command = DefaultString(reg, root, classes + pszAssoc + L"\\shell\\" + verb + L"\\command");
    if (command) break;
  }
  if (!command || command->text.empty()) return HRESULT_FROM_WIN32(ERROR_NO_ASSOCIATION);
  std::wstring answer = command->type == REG_EXPAND_SZ ? Expand(command->text) : command->text;

  if (str == ASSOCSTR_EXECUTABLE) {
    std::wstring program = ProgramOf(answer);
    if (program.empty()) return HRESULT_FROM_WIN32(ERROR_NO_ASSOCIATION);
    // The program must be there; a bare name is looked for where the shell looks.
    if (program.find_first_of(L"\\/") == std::wstring::npos) {
      if (program.find(L'.') == std::wstring::npos) program += L".exe";
      for (const wchar_t* folder : {L"C:\\Windows\\system32\\", L"C:\\Windows\\"}) {
        if (m_machine.Files().Exists(folder + program)) {
          program = folder + program;
          break;
        }
      }
    }
    if (!m_machine.Files().Exists(program)) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    answer = std::move(program);
  }

  const auto needed = static_cast<DWORD>(answer.size() + 1);
  if (!pszOut) {
    *pcchOut = needed;
    return S_FALSE;
  }
  const DWORD room = *pcchOut;
  *pcchOut = needed;
  if (room < needed) {
    if (flags & ASSOCF_NOTRUNCATE) {
      if (room > 0) pszOut[0] = L'\0';
      return E_POINTER;
    }
    if (room > 0) {
      answer.copy(pszOut, room - 1);
      pszOut[room - 1] = L'\0';
    }
    return E_NOT_SUFFICIENT_BUFFER;
  }
  answer.copy(pszOut, answer.size());
  pszOut[answer.size()] = L'\0';
  return S_OK;
}

// ---- The process's identity ----

HRESULT ProcessShell::SetCurrentProcessExplicitAppUserModelID(PCWSTR AppID) {
  constexpr size_t kMaxAppIdChars = 128;
  if (!AppID || !*AppID || std::wcslen(AppID) > kMaxAppIdChars) return E_INVALIDARG;
  std::lock_guard lk(m_mu);
  m_appUserModelId = AppID;
  return S_OK;
}

std::wstring ProcessShell::AppUserModelId() const {
  std::lock_guard lk(m_mu);
  return m_appUserModelId;
}

std::wstring AppUserModelId(Process& process) {
  return static_cast<ProcessShell&>(process.Shell()).AppUserModelId();
}

// ---- Shell32.dll ----

namespace {

HRESULT WINAPI QueryUserNotificationState(QUERY_USER_NOTIFICATION_STATE* pquns) {
  if (!pquns) return E_INVALIDARG;
  Process* p = CurrentProcess();
  if (!p) return E_UNEXPECTED;  // called from no simulated process at all
  const Desktop& d = p->GetMachine().GetDesktop();
  if (const HRESULT hr = d.NotificationStateFailure(p->SessionId()); hr != 0) return hr;
  *pquns = static_cast<QUERY_USER_NOTIFICATION_STATE>(d.NotificationState(p->SessionId()));
  return S_OK;
}

}  // namespace

void InstallShell32(Machine& machine) {
  using Query = HRESULT(WINAPI*)(QUERY_USER_NOTIFICATION_STATE*);
  const Query query = &QueryUserNotificationState;
  machine.Modules().Install(kShell32Path,
                            {{"SHQueryUserNotificationState",
                              reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(query))}});
}

}  // namespace sim
