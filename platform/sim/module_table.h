// Libraries "installed" on the simulated machine: a Windows path and a table of named
// entry points. Stand-ins for the suite's closed libraries install themselves here; a
// test leaves one out (or drops one entry point) to see how the agent copes.
//
//   machine.Modules().Install(L"C:\\Windows\\system32\\VDFPApi.dll",
//                             {{"VDFPInit", reinterpret_cast<FARPROC>(&StandInInit)}, ...});
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "platform/win_types.h"

namespace sim {

class ModuleTable {
 public:
  using Exports = std::map<std::string, FARPROC>;
  using Strings = std::map<UINT, std::wstring>;
  struct Image {
    Exports exports;
    Strings strings;  // string resources by number
  };

  void Install(const std::wstring& path, Exports exports, Strings strings = {});
  void Uninstall(const std::wstring& path);
  // Removes one entry point from an installed library.
  void RemoveExport(const std::wstring& path, const std::string& name);
  // The exports of the library at `path` (compared without regard to case).
  std::optional<Image> Find(const std::wstring& path) const;

 private:
  static std::wstring Key(const std::wstring& path);
  mutable std::mutex m_mu;
  std::map<std::wstring, Image> m_modules;
};

}  // namespace sim
