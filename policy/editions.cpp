#include "policy/editions.h"

#include <cwctype>
#include <string>

#include "support/registry_read.h"

namespace EDITIONS {

namespace {
bool EqualsNoCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::towlower(a[i]) != std::towlower(b[i])) return false;
  return true;
}

// The installed product's name from the branding module, or empty.
std::wstring InstalledProductName(core::CAgentProcess& process) {
  auto& plat = process.Platform();
  auto dll = support::ReadString(plat.Registry(), HKEY_LOCAL_MACHINE,
                                 L"SOFTWARE\\Veridane\\Branding\\Common", L"DLLPath",
                                 support::SuiteView(plat.Registry()), MAX_PATH);
  if (!dll || dll->empty()) return L"";
  auto& mods = plat.Modules();
  HMODULE module = mods.LoadLibraryExW(dll->c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) return L"";
  wchar_t name[MAX_PATH] = {};
  const int n = mods.LoadStringW(module, 1102, name, MAX_PATH);
  mods.FreeLibrary(module);
  return std::wstring(name, n > 0 ? static_cast<size_t>(n) : 0);
}
}  // namespace

bool IsInstalledProduct(core::CAgentProcess& process, const wchar_t* editionKey) {
  auto& cache = process.EditionCache;
  if (auto it = cache.find(editionKey); it != cache.end()) return it->second;
  const std::wstring name = InstalledProductName(process);
  const bool is = !name.empty() && EqualsNoCase(L"SOFTWARE\\Veridane\\Products\\" + name, editionKey);
  cache.emplace(editionKey, is);
  return is;
}

}  // namespace EDITIONS
