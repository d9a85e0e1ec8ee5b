#include "core/own_dir.h"

#include "support/trace/trace.h"

namespace core {

namespace {

// The length of the root of `path` with its closing backslash, or 0 when it has none that
// a folder can be cut back to: "C:\" is 3, "\\server\share\" ends after "share\".
size_t RootLength(const std::wstring& path) {
  size_t start = 0;
  bool unc = false;
  if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) {
    start = 8;
    unc = true;
  } else if (path.rfind(L"\\\\?\\", 0) == 0 || path.rfind(L"\\\\.\\", 0) == 0) {
    start = 4;
  } else if (path.rfind(L"\\\\", 0) == 0) {
    start = 2;
    unc = true;
  }
  if (unc) {
    // server\share\ : the second backslash after the server name closes the root.
    const size_t server = path.find(L'\\', start);
    if (server == std::wstring::npos) return 0;
    const size_t share = path.find(L'\\', server + 1);
    return share == std::wstring::npos ? 0 : share + 1;
  }
  if (path.size() >= start + 3 && path[start + 1] == L':' && path[start + 2] == L'\\')
    return start + 3;
  return 0;
}

}  // namespace

std::wstring ModuleFolder(const std::wstring& path) {
  const size_t slash = path.find_last_of(L'\\');
  if (slash == std::wstring::npos) return L"";
  const size_t root = RootLength(path);
  if (root != 0 && slash + 1 <= root) return path.substr(0, root);
  return path.substr(0, slash);
}

void SetCurrDirToOwnDir(platform::IPlatform& plat) {
  VDTraceNS::CScope ts("SetCurrDirToOwnDir");
  auto& k = plat.Kernel();
  wchar_t dir[MAX_PATH + 1] = {};
  k.GetCurrentDirectoryW(MAX_PATH, dir);
  ts.Msg("CurrDir was: %ls", dir);

  wchar_t path[MAX_PATH + 1] = {};
  const DWORD n = k.GetModuleFileNameW(nullptr, path, MAX_PATH);
  // A cut path (n == MAX_PATH) names no real folder: stay where we are.
  const std::wstring folder = n > 0 && n < MAX_PATH ? ModuleFolder(std::wstring(path, n)) : L"";
  if (!folder.empty()) k.SetCurrentDirectoryW(folder.c_str());

  k.GetCurrentDirectoryW(MAX_PATH, dir);
  ts.Msg("CurrDir is: %ls", dir);
}

}  // namespace core
