#include "core/own_dir.h"

#include <string>

#include "support/trace/trace.h"

namespace core {

void SetCurrDirToOwnDir(platform::IPlatform& plat) {
  VDTraceNS::CScope ts("SetCurrDirToOwnDir");
  auto& k = plat.Kernel();
  wchar_t dir[MAX_PATH + 1] = {};
  k.GetCurrentDirectoryW(MAX_PATH, dir);
  ts.Msg("CurrDir was: %ls", dir);

  wchar_t path[MAX_PATH + 1] = {};
  const DWORD n = k.GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, n < MAX_PATH ? n : MAX_PATH);
  const auto slash = folder.find_last_of(L'\\');
  if (slash != std::wstring::npos) folder.resize(slash);
  k.SetCurrentDirectoryW(folder.c_str());

  k.GetCurrentDirectoryW(MAX_PATH, dir);
  ts.Msg("CurrDir is: %ls", dir);
}

}  // namespace core
