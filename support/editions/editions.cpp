#include "support/editions/editions.h"

#include <cwctype>
#include <string>

#include "platform/handles.h"
#include "support/registry_read.h"

namespace EDITIONS {

namespace {

bool EqualsNoCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::towlower(static_cast<wint_t>(a[i])) != std::towlower(static_cast<wint_t>(b[i])))
      return false;
  return true;
}

// A library loaded as data for its resources, freed when the owner goes.
class CResourceModule {
 public:
  CResourceModule(platform::IModules& mods, const std::wstring& path)
      : m_mods(mods),
        m_module(mods.LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {}
  ~CResourceModule() {
    if (m_module) m_mods.FreeLibrary(m_module);
  }
  CResourceModule(const CResourceModule&) = delete;
  CResourceModule& operator=(const CResourceModule&) = delete;

  HMODULE get() const { return m_module; }

 private:
  platform::IModules& m_mods;
  HMODULE m_module;
};

constexpr UINT kInstalledProductString = 1102;

// The installed product's key name from the branding module, or empty.
std::wstring InstalledProductName(platform::IPlatform& plat) {
  auto dll = support::ReadString(plat.Registry(), HKEY_LOCAL_MACHINE,
                                 L"SOFTWARE\\Veridane\\Branding\\Common", L"DLLPath",
                                 support::SuiteView(plat.Registry()), MAX_PATH);
  if (!dll || dll->empty()) return L"";
  CResourceModule module(plat.Modules(), *dll);
  if (!module.get()) return L"";
  wchar_t name[MAX_PATH] = {};
  const int n = plat.Modules().LoadStringW(module.get(), kInstalledProductString, name, MAX_PATH);
  return std::wstring(name, n > 0 ? static_cast<size_t>(n) : 0);
}

bool ReadInstalled(platform::IRegistry& reg, const wchar_t* editionKey) {
  // No view flag: a 32-bit agent on 64-bit Windows looks in the 32-bit view, as the
  // installer of a 32-bit edition writes there.
  platform::UniqueHKey key(reg);
  if (reg.RegOpenKeyExW(HKEY_LOCAL_MACHINE, editionKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS)
    return false;
  WCHAR version[MAX_PATH] = {};
  DWORD type = 0;
  DWORD size = sizeof(version);
  if (reg.RegQueryValueExW(key.get(), L"Version", nullptr, &type, reinterpret_cast<BYTE*>(version),
                           &size) != ERROR_SUCCESS)
    return false;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
  // A whole number of characters, at least one of them; an odd size is a damaged value.
  if (size == 0 || size % sizeof(WCHAR) != 0) return false;
  return version[0] != L'\0';
}

// Asks one question about one edition through the process's caches.
template <typename Ask>
bool Cached(const CEditionQuery& editions, CEditionCaches::Question question,
            const wchar_t* editionKey, Ask ask) {
  TriState cache = editions.caches.Get(question, editionKey);
  if (cache) return *cache;
  const bool answer = ask(editions.plat, editionKey, cache);
  editions.caches.Set(question, editionKey, answer);
  return answer;
}

}  // namespace

bool IsInstalledProduct(platform::IPlatform& plat, const wchar_t* editionKey, TriState& cache) {
  if (cache) return *cache;
  const std::wstring name = InstalledProductName(plat);
  cache = !name.empty() && EqualsNoCase(std::wstring(kProductsKey) + name, editionKey);
  return *cache;
}

bool IsInstalled(platform::IPlatform& plat, const wchar_t* editionKey, TriState& cache) {
  if (cache) return *cache;
  cache = ReadInstalled(plat.Registry(), editionKey);
  return *cache;
}

bool IsInstalledProduct(const CEditionQuery& editions, const wchar_t* editionKey) {
  return Cached(editions, CEditionCaches::kIsInstalledProduct, editionKey,
                [](platform::IPlatform& plat, const wchar_t* key, TriState& cache) {
                  return IsInstalledProduct(plat, key, cache);
                });
}

bool IsInstalled(const CEditionQuery& editions, const wchar_t* editionKey) {
  return Cached(editions, CEditionCaches::kIsInstalled, editionKey,
                [](platform::IPlatform& plat, const wchar_t* key, TriState& cache) {
                  return IsInstalled(plat, key, cache);
                });
}

bool IsLumeraADFamilyInstalled(const CEditionQuery& editions) {
  return IsInstalledProduct(editions, kLumeraADWorkstation) ||
         IsInstalledProduct(editions, kLumeraADKiosk) ||
         IsInstalledProduct(editions, kLumeraADServer);
}

bool IsLumeraFamilyInstalled(const CEditionQuery& editions) {
  return IsInstalledProduct(editions, kLumeraWorkstation) ||
         IsInstalledProduct(editions, kLumeraKiosk) ||
         IsInstalledProduct(editions, kLumeraMobileEnrollment) ||
         IsInstalledProduct(editions, kLumeraLite) || IsInstalledProduct(editions, kLumeraServer);
}

std::wstring GetApplicationId(const CEditionQuery& editions) {
  if (IsInstalledProduct(editions, kLumeraMobileEnrollment)) return kMobileEnrollmentAppId;
  if (IsLumeraFamilyInstalled(editions) || IsLumeraADFamilyInstalled(editions)) return kLumeraAppId;
  // The OEM edition gets no identifier of its own, but its answer is settled here too, so
  // later OEM checks in this process find it cached.
  IsInstalledProduct(editions, kOemlineSecurityManager);
  return L"";
}

}  // namespace EDITIONS
