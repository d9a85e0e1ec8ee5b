#include "kiosk/unlock_script.h"

#include <cwchar>
#include <vector>

#include "kiosk/temp_file.h"
#include "platform/handles.h"
#include "support/registry_read.h"
#include "support/trace/trace.h"

namespace KIOSK {

namespace {

constexpr const wchar_t* kPolicyKey = L"SOFTWARE\\Policies\\Veridane\\Lumera";
constexpr const wchar_t* kScriptSubfolder = L"VDScripts\\KioskUnlock";
constexpr const wchar_t* kCscript = L"cscript.exe";
// The scripts run on the interactive desktop of the agent's session.
constexpr const wchar_t* kScriptDesktop = L"winsta0\\default";
constexpr DWORD kErrorEnvVarNotFound = 203;  // ERROR_ENVVAR_NOT_FOUND
constexpr DWORD kScriptCreationFlags = CREATE_UNICODE_ENVIRONMENT | NORMAL_PRIORITY_CLASS;

HRESULT LastErrorResult(platform::IKernel& k) {
  const DWORD err = k.GetLastError();
  return err ? HRESULT_FROM_WIN32(err) : E_FAIL;
}

// The computer's DNS domain; empty outside a domain or when it cannot be read.
std::wstring DnsDomain(platform::IKernel& k) {
  std::vector<wchar_t> buf(256, L'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    DWORD size = static_cast<DWORD>(buf.size());
    if (k.GetComputerNameExW(ComputerNameDnsDomain, buf.data(), &size))
      return std::wstring(buf.data(), size < buf.size() ? size : buf.size() - 1);
    if (k.GetLastError() != ERROR_MORE_DATA || size <= buf.size()) break;
    buf.assign(size + 1, L'\0');
  }
  return {};
}

std::wstring SystemDirectory(platform::IKernel& k) {
  std::vector<wchar_t> buf(MAX_PATH + 1, L'\0');
  UINT n = k.GetSystemDirectoryW(buf.data(), static_cast<UINT>(buf.size()));
  if (n >= buf.size()) {
    buf.assign(n + 1, L'\0');
    n = k.GetSystemDirectoryW(buf.data(), static_cast<UINT>(buf.size()));
    if (n >= buf.size()) return {};
  }
  return std::wstring(buf.data(), n);
}

DWORD SessionId(platform::IPlatform& plat) {
  DWORD session = 0;
  plat.Sessions().ProcessIdToSessionId(plat.Kernel().GetCurrentProcessId(), &session);
  return session;
}

// The copy of an existing script runs against the clock: one that is still going after
// the limit is cancelled, and the previous copy stays.
struct RefreshClock {
  platform::IKernel* kernel;
  DWORD startTick;
};

DWORD CALLBACK RefreshProgress(LARGE_INTEGER, LARGE_INTEGER, LARGE_INTEGER, LARGE_INTEGER, DWORD,
                               DWORD, HANDLE, HANDLE, LPVOID data) {
  const auto* clock = static_cast<const RefreshClock*>(data);
  // Unsigned difference: correct across the tick count's wrap.
  const DWORD elapsed = clock->kernel->GetTickCount() - clock->startTick;
  return elapsed >= kScriptRefreshLimitMs ? PROGRESS_CANCEL : PROGRESS_CONTINUE;
}

// Starts a script process as the agent's user on its desktop; the handles go to `pi`.
BOOL StartScript(platform::IKernel& k, LPCWSTR application, LPWSTR commandLine,
                 const std::wstring& workDir, PROCESS_INFORMATION* pi) {
  std::wstring desktop = kScriptDesktop;  // the call may write to it
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  si.lpDesktop = desktop.data();
  *pi = PROCESS_INFORMATION{};
  return k.CreateProcessW(application, commandLine, nullptr, nullptr, FALSE, kScriptCreationFlags,
                          nullptr, workDir.empty() ? nullptr : workDir.c_str(), &si, pi);
}

}  // namespace

std::optional<std::wstring> GetUnlockScript(platform::IPlatform& plat) {
  VDTraceNS::CScope ts("GetUnlockScript");
  auto& reg = plat.Registry();
  platform::UniqueHKey key(reg);
  LSTATUS st = reg.RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPolicyKey, 0,
                                 KEY_READ | support::SuiteView(reg), key.put());
  if (st != ERROR_SUCCESS) {
    ts.Result("RegOpenKeyExW", HRESULT_FROM_WIN32(st));
    return std::nullopt;
  }
  // One unit more than the value may fill, so that a terminator always follows it.
  wchar_t buf[kMaxUnlockScriptChars + 2] = {};
  DWORD type = REG_NONE;
  DWORD size = (kMaxUnlockScriptChars + 1) * sizeof(wchar_t);
  st = reg.RegQueryValueExW(key.get(), L"KioskUnlockScript", nullptr, &type,
                            reinterpret_cast<BYTE*>(buf), &size);
  if (st != ERROR_SUCCESS) {
    ts.Result("RegQueryValueExW", HRESULT_FROM_WIN32(st));
    return std::nullopt;
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) {
    ts.Msg("KioskUnlockScript is not a string (type %u)", static_cast<unsigned>(type));
    return std::nullopt;
  }
  std::wstring value(buf, size / sizeof(wchar_t));
  while (!value.empty() && value.back() == L'\0') value.pop_back();
  // Stored without its terminator, a value that fills the 260 units has none in the buffer
  // a Windows caller would give: refused like a longer one.
  if (value.size() > kMaxUnlockScriptChars) {
    ts.Msg("KioskUnlockScript is too long (%u characters)", static_cast<unsigned>(value.size()));
    return std::nullopt;
  }
  const size_t nul = value.find(L'\0');
  if (nul != std::wstring::npos) value.resize(nul);
  if (value.empty()) {
    ts.Msg("KioskUnlockScript is empty");
    return std::nullopt;
  }
  return value;
}

bool IsFullScriptPath(const std::wstring& value) {
  return value.size() > 2 && value[0] == L'\\' && value[1] == L'\\';
}

std::optional<std::wstring> UnlockScriptSource(platform::IPlatform& plat,
                                               const std::wstring& value) {
  if (IsFullScriptPath(value)) return value;
  const std::wstring domain = DnsDomain(plat.Kernel());
  // "\\\sysvol\\scripts\x" names nothing; asking the network for it would only wait.
  if (domain.empty()) return std::nullopt;
  return L"\\\\" + domain + L"\\sysvol\\" + domain + L"\\scripts\\" + value;
}

std::optional<std::wstring> UnlockScriptFolder(platform::IPlatform& plat) {
  auto& k = plat.Kernel();
  const wchar_t* const kTemp = L"%TEMP%";
  std::vector<wchar_t> buf(MAX_PATH + 1, L'\0');
  DWORD n = k.ExpandEnvironmentStringsW(kTemp, buf.data(), static_cast<DWORD>(buf.size()));
  if (n > buf.size()) {
    buf.assign(n, L'\0');
    n = k.ExpandEnvironmentStringsW(kTemp, buf.data(), static_cast<DWORD>(buf.size()));
  }
  if (n == 0 || n > buf.size()) return std::nullopt;
  std::wstring temp(buf.data());
  // An unset variable is left as it was written.
  if (temp.empty() || temp == kTemp) return std::nullopt;
  if (temp.back() != L'\\') temp += L'\\';
  return temp + kScriptSubfolder + L"\\";
}

HRESULT CopyScriptFile(platform::IPlatform& plat, const std::wstring& source,
                       std::wstring* localPath) {
  VDTraceNS::CScope ts("CopyScriptFile");
  if (localPath) localPath->clear();
  if (source.empty() || !localPath) return ts.Result("CopyScriptFile", E_INVALIDARG);
  auto& k = plat.Kernel();

  const size_t slash = source.find_last_of(L"\\/");
  const std::wstring name = slash == std::wstring::npos ? source : source.substr(slash + 1);
  ts.Msg("File Name is %ls", name.c_str());
  if (name.empty()) return ts.Result("CopyScriptFile", E_INVALIDARG);
  const auto folder = UnlockScriptFolder(plat);
  if (!folder)
    return ts.Result("ExpandEnvironmentStringsW", HRESULT_FROM_WIN32(kErrorEnvVarNotFound));
  const std::wstring local = *folder + name;
  ts.Msg("Local path is %ls", local.c_str());

  CVDTempFile previous(k, local);
  if (FAILED(previous.Status())) return previous.Status();

  if (previous.Existed()) {
    ts.Msg("File exists, trying to refresh quickly...");
    RefreshClock clock{&k, k.GetTickCount()};
    if (k.CopyFileExW(source.c_str(), local.c_str(), &RefreshProgress, &clock, nullptr, 0)) {
      previous.Commit();
      ts.Msg("Local copy has been refreshed successfully.");
    } else {
      // The guard puts the previous copy back when it ends, before the caller runs it.
      ts.Result("CopyFileExW", LastErrorResult(k));
    }
    *localPath = local;
    return S_OK;
  }

  ts.Msg("File does not exist...");
  std::wstring dir = *folder;
  dir.pop_back();
  const int made = plat.Shell().SHCreateDirectoryExW(nullptr, dir.c_str(), nullptr);
  if (made != ERROR_SUCCESS && made != ERROR_ALREADY_EXISTS && made != ERROR_FILE_EXISTS)
    ts.Msg("Cannot create directory %ls. Error is 0x%X", dir.c_str(),
           static_cast<unsigned>(HRESULT_FROM_WIN32(static_cast<DWORD>(made))));
  if (!k.CopyFileExW(source.c_str(), local.c_str(), nullptr, nullptr, nullptr, 0))
    // Nothing to run: there never was a copy here.
    return ts.Result("CopyFileExW", LastErrorResult(k));
  *localPath = local;
  return S_OK;
}

void RunUnlockScript(platform::IPlatform& plat) {
  VDTraceNS::CScope ts("RunUnlockScript");
  const auto value = GetUnlockScript(plat);
  if (!value) return;
  ts.Msg("Start script %ls on session %d.", value->c_str(), static_cast<int>(SessionId(plat)));
  const auto source = UnlockScriptSource(plat, *value);
  if (!source) {
    ts.Msg("The computer has no DNS domain to fetch script %ls from", value->c_str());
    return;
  }
  if (IsFullScriptPath(*value))
    ts.Msg("Full path script!!!");
  else
    ts.Msg("Script file path is %ls", source->c_str());
  std::wstring local;
  if (FAILED(CopyScriptFile(plat, *source, &local))) return;

  auto& k = plat.Kernel();
  const std::wstring systemDir = SystemDirectory(k);
  PROCESS_INFORMATION pi{};
  if (!StartScript(k, local.c_str(), nullptr, systemDir, &pi)) {
    ts.Msg("Error happened 0x%X", static_cast<unsigned>(LastErrorResult(k)));
    // Not a program (a .vbs or .js): the script host runs it, without its window.
    const std::wstring cscript = systemDir + L"\\" + kCscript;
    std::vector<wchar_t> command(cscript.size() + local.size() + 16, L'\0');
    std::swprintf(command.data(), command.size(), L"%ls \"%ls\" //B", cscript.c_str(),
                  local.c_str());
    ts.Msg("Script path is %ls", command.data());
    if (!StartScript(k, nullptr, command.data(), systemDir, &pi)) {
      ts.Msg("Error happened 0x%X", static_cast<unsigned>(LastErrorResult(k)));
      return;
    }
  }
  platform::UniqueHandle process(k, pi.hProcess);
  platform::UniqueHandle thread(k, pi.hThread);
  if (k.WaitForSingleObject(process.get(), kScriptWaitMs) != WAIT_OBJECT_0)
    ts.Msg("Process cannot be stoped!!!");
}

}  // namespace KIOSK
