// The libraries one simulated process has loaded. A module handle stays valid until its
// last FreeLibrary; the entry points are those installed when it was first loaded.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/modules.h"
#include "platform/sim/module_table.h"

namespace sim {

class Process;

class ProcessModules : public platform::IModules {
 public:
  explicit ProcessModules(Process& p) : m_process(p) {}

  HMODULE LoadLibraryExW(LPCWSTR lpLibFileName, HANDLE hFile, DWORD dwFlags) override;
  FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) override;
  HMODULE GetModuleHandleW(LPCWSTR lpModuleName) override;
  BOOL FreeLibrary(HMODULE hLibModule) override;
  int LoadStringW(HINSTANCE hInstance, UINT uID, LPWSTR lpBuffer, int cchBufferMax) override;

  // The path a loaded module was loaded from; empty for a handle that is not loaded.
  std::wstring PathOf(HMODULE hModule);
  // Dialog template `id` of a loaded module; otherwise null with the error FindResourceW
  // would give (no such module, no dialogs at all, no such dialog).
  std::optional<DialogTemplate> DialogOf(HINSTANCE hInstance, UINT id, DWORD* error);
  // The loaded module whose file name (no folder, any case) is `fileName`, or null.
  HMODULE LoadedModule(const std::wstring& fileName);

 private:
  struct Loaded {
    std::wstring path;
    ModuleTable::Image image;
    int refs = 0;
  };
  Process& m_process;
  std::mutex m_mu;
  std::map<std::wstring, std::unique_ptr<Loaded>> m_loaded;  // by lower-case path
};

}  // namespace sim
