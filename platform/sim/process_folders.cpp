// Known folders, path canonicalisation, folder removal, task memory and the shell's link
// object.
#include <atomic>
#include <cstdlib>
#include <cwchar>
#include <vector>

#include "platform/shell_link.h"
#include "platform/sim/file_system.h"
#include "platform/sim/machine.h"
#include "platform/sim/process_com.h"
#include "platform/sim/process_kernel.h"
#include "platform/sim/process_shell.h"
#include "platform/sim/session_manager.h"
#include "platform/sim/shell_link_object.h"

namespace sim {
namespace {

std::atomic<long> g_taskAllocations{0};

PWSTR TaskString(const std::wstring& s) {
  auto* p = static_cast<PWSTR>(std::malloc((s.size() + 1) * sizeof(wchar_t)));
  if (!p) return nullptr;
  s.copy(p, s.size());
  p[s.size()] = L'\0';
  ++g_taskAllocations;
  return p;
}

}  // namespace

long ProcessCom::LiveTaskAllocations() { return g_taskAllocations.load(); }

BOOL ProcessKernel::RemoveDirectoryW(LPCWSTR lpPathName) {
  if (!lpPathName) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  auto full = Full(lpPathName);
  if (!full) return Fail(ERROR_PATH_NOT_FOUND, FALSE);
  if (DWORD e = m_machine.Files().RemoveDirectory(*full)) return Fail(e, FALSE);
  return TRUE;
}

// The folders of the process's user (its session's), as a fresh Windows profile has them;
// the system's own profile for a process outside a user session.
HRESULT ProcessShell::SHGetKnownFolderPath(REFKNOWNFOLDERID rfid, DWORD dwFlags, HANDLE,
                                           PWSTR* ppszPath) {
  if (!ppszPath) return E_INVALIDARG;
  *ppszPath = nullptr;
  const auto session = m_machine.Sessions().Find(m_process.SessionId());
  const bool user = session && !session->userName.empty();
  const std::wstring profile = user ? L"C:\\Users\\" + session->userName
                                    : L"C:\\Windows\\system32\\config\\systemprofile";
  const std::wstring roaming = profile + L"\\AppData\\Roaming";
  std::wstring path;
  if (rfid == platform::kFolderIdCommonStartMenu)
    path = L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu";
  else if (rfid == platform::kFolderIdStartMenu)
    path = roaming + L"\\Microsoft\\Windows\\Start Menu";
  else if (rfid == platform::kFolderIdPrograms)
    path = roaming + L"\\Microsoft\\Windows\\Start Menu\\Programs";
  else
    return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);  // what Windows answers an unknown id

  auto& files = m_machine.Files();
  if (dwFlags & KF_FLAG_CREATE) {
    // Every missing parent too, as the shell does for a folder it knows.
    for (size_t at = path.find(L'\\', 3); ; at = path.find(L'\\', at + 1)) {
      const DWORD e = files.CreateDirectory(path.substr(0, at));
      if (e != ERROR_SUCCESS && e != ERROR_ALREADY_EXISTS) return HRESULT_FROM_WIN32(e);
      if (at == std::wstring::npos) break;
    }
  } else if (!(dwFlags & KF_FLAG_DONT_VERIFY)) {
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    // However much of it is missing, the answer is the one a missing folder gets.
    if (files.Attributes(path, &attributes) != ERROR_SUCCESS)
      return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  }
  *ppszPath = TaskString(path);
  return *ppszPath ? S_OK : E_OUTOFMEMORY;
}

// As SHLWAPI does it: "." parts go, ".." takes the part before it away but never climbs
// above the root ("C:\", "\\server\share\" or a leading "\"); nothing else changes.
BOOL ProcessShell::PathCanonicalizeW(LPWSTR pszBuf, LPCWSTR pszPath) {
  if (!pszBuf || !pszPath) {
    m_process.Kernel().SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::wstring in = pszPath;
  std::wstring root;
  size_t start = 0;
  if (in.size() >= 2 && in[1] == L':') {
    start = (in.size() >= 3 && in[2] == L'\\') ? 3 : 2;
  } else if (in.rfind(L"\\\\", 0) == 0) {
    const size_t server = in.find(L'\\', 2);
    const size_t share = server == std::wstring::npos ? server : in.find(L'\\', server + 1);
    start = share == std::wstring::npos ? in.size() : share + 1;
  } else if (!in.empty() && in[0] == L'\\') {
    start = 1;
  }
  root = in.substr(0, start);

  std::vector<std::wstring> parts;
  std::wstring lastPart;
  for (size_t pos = start; pos < in.size();) {
    size_t end = in.find(L'\\', pos);
    if (end == std::wstring::npos) end = in.size();
    const std::wstring part = in.substr(pos, end - pos);
    if (!part.empty()) lastPart = part;
    if (part == L"..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != L".") {
      parts.push_back(part);
    }
    pos = end + 1;
  }
  // "C:\a\b\" keeps its final separator; one after a "." or ".." part goes with it.
  const bool trailingSeparator =
      in.size() > start && in.back() == L'\\' && lastPart != L"." && lastPart != L"..";
  std::wstring out = root;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i) out += L'\\';
    out += parts[i];
  }
  if (trailingSeparator && !parts.empty()) out += L'\\';
  if (out.empty()) out = L"\\";
  if (out.size() >= MAX_PATH) {
    m_process.Kernel().SetLastError(ERROR_FILENAME_EXCED_RANGE);
    pszBuf[0] = L'\0';
    return FALSE;
  }
  out.copy(pszBuf, out.size());
  pszBuf[out.size()] = L'\0';
  return TRUE;
}

void ProcessCom::CoTaskMemFree(LPVOID pv) {
  if (!pv) return;
  --g_taskAllocations;
  std::free(pv);
}

HRESULT ProcessCom::CreateSystemObject(REFCLSID rclsid, IUnknown* pUnkOuter, REFIID riid,
                                       LPVOID* ppv) {
  if (!(rclsid == platform::kClsidShellLink)) return REGDB_E_CLASSNOTREG;
  if (pUnkOuter) return CLASS_E_NOAGGREGATION;
  return CreateShellLink(m_process.GetMachine(), m_process.SessionId(), riid, ppv);
}

}  // namespace sim
