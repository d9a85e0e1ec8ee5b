#include "platform/sim/process_modules.h"

#include <algorithm>
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
      auto image = m.Modules().Find(candidate);
      if (!image) continue;
      auto loaded = std::make_unique<Loaded>();
      loaded->path = candidate;
      loaded->image = std::move(*image);
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
    auto& exports = loaded->image.exports;
    auto it = lpProcName ? exports.find(lpProcName) : exports.end();
    if (it == exports.end()) {
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

int ProcessModules::LoadStringW(HINSTANCE hInstance, UINT uID, LPWSTR lpBuffer, int cchBufferMax) {
  Machine& m = m_process.GetMachine();
  std::lock_guard lk(m_mu);
  for (auto& [key, loaded] : m_loaded) {
    if (reinterpret_cast<HINSTANCE>(loaded.get()) != hInstance) continue;
    auto it = loaded->image.strings.find(uID);
    if (it == loaded->image.strings.end() || !lpBuffer || cchBufferMax <= 0) {
      m.LastError() = ERROR_NOT_FOUND;
      return 0;
    }
    const int n = std::min<int>(static_cast<int>(it->second.size()), cchBufferMax - 1);
    it->second.copy(lpBuffer, static_cast<size_t>(n));
    lpBuffer[n] = L'\0';
    return n;
  }
  m.LastError() = ERROR_INVALID_HANDLE;
  return 0;
}

std::optional<DialogTemplate> ProcessModules::DialogOf(HINSTANCE hInstance, UINT id, DWORD* error) {
  std::lock_guard lk(m_mu);
  for (auto& [key, loaded] : m_loaded) {
    if (reinterpret_cast<HINSTANCE>(loaded.get()) != hInstance) continue;
    const auto& dialogs = loaded->image.dialogs;
    if (dialogs.empty()) {
      *error = ERROR_RESOURCE_TYPE_NOT_FOUND;
      return std::nullopt;
    }
    auto it = dialogs.find(id);
    if (it == dialogs.end()) {
      *error = ERROR_RESOURCE_NAME_NOT_FOUND;
      return std::nullopt;
    }
    return it->second;
  }
  *error = ERROR_INVALID_HANDLE;
  return std::nullopt;
}

std::wstring ProcessModules::PathOf(HMODULE hModule) {
  std::lock_guard lk(m_mu);
  for (auto& [key, loaded] : m_loaded) {
    if (reinterpret_cast<HMODULE>(loaded.get()) == hModule) return loaded->path;
  }
  return {};
}

HMODULE ProcessModules::LoadedModule(const std::wstring& fileName) {
  const std::wstring name = Lower(fileName);
  std::lock_guard lk(m_mu);
  for (auto& [key, loaded] : m_loaded) {
    const size_t slash = key.find_last_of(L'\\');
    if (key.substr(slash == std::wstring::npos ? 0 : slash + 1) == name) {
      return reinterpret_cast<HMODULE>(loaded.get());
    }
  }
  return nullptr;
}

}  // namespace sim

// PLACEHOLDER: replaced by the loaded-module lookup.
namespace sim {
HMODULE ProcessModules::GetModuleHandleW(LPCWSTR) { return nullptr; }
}  // namespace sim
