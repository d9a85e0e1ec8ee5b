#include "platform/sim/process_modules.h"

#include <cwctype>
#include <vector>

#include "platform/sim/process.h"

namespace sim {

namespace {
std::wstring Lower(std::wstring s) {
  for (auto& c : s) c = c == L'/' ? L'\\' : static_cast<wchar_t>(std::towlower(c));
  return s;
}
}  // namespace

HMODULE ProcessModules::LoadLibraryExW(LPCWSTR lpLibFileName, HANDLE, DWORD) {
  Machine& m = m_process.GetMachine();
  if (!lpLibFileName || !*lpLibFileName) {
    m.LastError() = ERROR_INVALID_PARAMETER;
    return nullptr;
  }
  std::wstring path = lpLibFileName;
  // A bare file name is looked for beside the executable, then in the system directory.
  std::vector<std::wstring> candidates;
  if (path.find(L'\\') == std::wstring::npos && path.find(L'/') == std::wstring::npos) {
    const std::wstring& exe = m_process.ExePath();
    candidates.push_back(exe.substr(0, exe.find_last_of(L'\\') + 1) + path);
    candidates.push_back(L"C:\\Windows\\system32\\" + path);
  } else {
    candidates.push_back(path);
  }
  for (const auto& candidate : candidates) {
    const std::wstring key = Lower(candidate);
    std::lock_guard lk(m_mu);
    auto it = m_loaded.find(key);
    if (it == m_loaded.end()) {
      auto exports = m.Modules().Find(candidate);
      if (!exports) continue;
      auto loaded = std::make_unique<Loaded>();
      loaded->path = candidate;
      loaded->exports = std::move(*exports);
      it = m_loaded.emplace(key, std::move(loaded)).first;
    }
    ++it->second->refs;
    m.LastError() = ERROR_SUCCESS;
    return reinterpret_cast<HMODULE>(it->second.get());
  }
  m.LastError() = ERROR_MOD_NOT_FOUND;
  return nullptr;
}

FARPROC ProcessModules::GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  Machine& m = m_process.GetMachine();
  std::lock_guard lk(m_mu);
  for (auto& [key, loaded] : m_loaded) {
    if (reinterpret_cast<HMODULE>(loaded.get()) != hModule) continue;
    auto it = lpProcName ? loaded->exports.find(lpProcName) : loaded->exports.end();
    if (it == loaded->exports.end()) {
      m.LastError() = ERROR_PROC_NOT_FOUND;
      return nullptr;
    }
    return it->second;
  }
  m.LastError() = ERROR_INVALID_HANDLE;
  return nullptr;
}

BOOL ProcessModules::FreeLibrary(HMODULE hLibModule) {
  Machine& m = m_process.GetMachine();
  std::lock_guard lk(m_mu);
  for (auto it = m_loaded.begin(); it != m_loaded.end(); ++it) {
    if (reinterpret_cast<HMODULE>(it->second.get()) != hLibModule) continue;
    if (--it->second->refs == 0) m_loaded.erase(it);
    return TRUE;
  }
  m.LastError() = ERROR_INVALID_HANDLE;
  return FALSE;
}

}  // namespace sim
