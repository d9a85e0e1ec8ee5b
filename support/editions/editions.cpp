#include "support/editions/editions.h"

#include <cwctype>
#include <string>

#include "platform/handles.h"
#include "support/branding_strings.h"

namespace EDITIONS {

namespace {

bool EqualsNoCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::towlower(static_cast<wint_t>(a[i])) != std::towlower(static_cast<wint_t>(b[i])))
      return false;
  return true;
}

constexpr UINT kInstalledProductString = 1102;

// The installed product's key name from the branding module, or empty. The agent's own
// resource module does not stand in here: it cannot know which edition is installed.
std::wstring InstalledProductName(platform::IPlatform& plat) {
  const std::wstring dll = support::BrandingModulePath(plat.Registry());
  if (dll.empty()) return L"";
  auto& mods = plat.Modules();
  platform::UniqueModule module(
      mods, mods.LoadLibraryExW(dll.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  if (!module) return L"";
  return support::LoadModuleString(mods, module.get(), kInstalledProductString);
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
