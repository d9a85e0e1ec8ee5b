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
    if (!it->second->pinned && --it->second->refs == 0) m_loaded.erase(it);
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

namespace sim {

namespace {
constexpr wchar_t kSystemFolder[] = L"C:\\Windows\\system32\\";

std::wstring FileNameOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}
}  // namespace

HMODULE ProcessModules::Pin(const std::wstring& path, ModuleTable::Image image) {
  std::lock_guard lk(m_mu);
  auto& loaded = m_loaded[Lower(path)];
  if (!loaded) {
    loaded = std::make_unique<Loaded>();
    loaded->path = path;
    loaded->image = std::move(image);
    loaded->refs = 1;
  }
  loaded->pinned = true;
  return reinterpret_cast<HMODULE>(loaded.get());
}

HMODULE ProcessModules::GetModuleHandleW(LPCWSTR lpModuleName) {
  Machine& m = m_process.GetMachine();
  const std::wstring& exe = m_process.ExePath();
  // The executable is loaded from the start and stays until the end.
  auto exeModule = [&] { return Pin(exe, m.Modules().Find(exe).value_or(ModuleTable::Image{})); };
  if (!lpModuleName) return exeModule();

  std::wstring name = lpModuleName;
  // A name without an extension means a DLL; a trailing dot means no extension at all.
  const std::wstring file = FileNameOf(name);
  if (file.find(L'.') == std::wstring::npos) {
    name += L".dll";
  } else if (!file.empty() && file.back() == L'.') {
    name.pop_back();
  }

  const bool hasFolder = name.find_first_of(L"\\/") != std::wstring::npos;
  if (hasFolder) {
    if (Lower(name) == Lower(exe)) return exeModule();
    std::lock_guard lk(m_mu);
    if (auto it = m_loaded.find(Lower(name)); it != m_loaded.end())
      return reinterpret_cast<HMODULE>(it->second.get());
  } else {
    if (Lower(name) == Lower(FileNameOf(exe))) return exeModule();
    if (HMODULE h = LoadedModule(name)) return h;
  }
  // Libraries of the system folder are mapped into every process at its start.
  const std::wstring system = hasFolder ? name : kSystemFolder + name;
  const std::wstring lower = Lower(system), folder = Lower(kSystemFolder);
  if (lower.rfind(folder, 0) == 0 && lower.find(L'\\', folder.size()) == std::wstring::npos) {
    if (auto image = m.Modules().Find(system)) return Pin(system, std::move(*image));
  }
  m.LastError() = ERROR_MOD_NOT_FOUND;
  return nullptr;
}

}  // namespace sim
