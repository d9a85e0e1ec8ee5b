// Which edition of the suite is installed. Several parts of the agent adapt to it: the console
// they launch, the menus they show, the prompts they make.
//
//   if (EDITIONS::IsLumeraFamilyInstalled(process.Editions())) ...
//   const std::wstring appId = EDITIONS::GetApplicationId(process.Editions());
//
// An edition is named by its key path under HKLM (`SOFTWARE\Veridane\Products\<edition>`).
// Every answer is cached per edition for the life of the process (see edition_cache.h).
#pragma once

#include <string>

#include "platform/platform.h"
#include "support/editions/edition_cache.h"

namespace EDITIONS {

inline constexpr const wchar_t* kProductsKey = L"SOFTWARE\\Veridane\\Products\\";

inline constexpr const wchar_t* kLumeraADWorkstation =
    L"SOFTWARE\\Veridane\\Products\\Lumera AD Workstation";
inline constexpr const wchar_t* kLumeraADKiosk = L"SOFTWARE\\Veridane\\Products\\Lumera AD Kiosk";
inline constexpr const wchar_t* kLumeraADServer = L"SOFTWARE\\Veridane\\Products\\Lumera AD Server";
inline constexpr const wchar_t* kLumeraWorkstation =
    L"SOFTWARE\\Veridane\\Products\\Lumera Workstation";
inline constexpr const wchar_t* kLumeraKiosk = L"SOFTWARE\\Veridane\\Products\\Lumera Kiosk";
inline constexpr const wchar_t* kLumeraMobileEnrollment =
    L"SOFTWARE\\Veridane\\Products\\Lumera Mobile Enrollment";
inline constexpr const wchar_t* kLumeraLite = L"SOFTWARE\\Veridane\\Products\\Lumera Lite";
inline constexpr const wchar_t* kLumeraServer = L"SOFTWARE\\Veridane\\Products\\Lumera Server";
inline constexpr const wchar_t* kOemlineSecurityManager =
    L"SOFTWARE\\Veridane\\Products\\Oemline Security Manager";
inline constexpr const wchar_t* kClassicHome = L"SOFTWARE\\Veridane\\Products\\Classic Home";
inline constexpr const wchar_t* kPrintvue = L"SOFTWARE\\Veridane\\Products\\Printvue";

// Handed to the console so it opens as the right application.
inline constexpr const wchar_t* kMobileEnrollmentAppId = L"CAEEB336-565A-4BDA-A0F4-219177D2C44A";
inline constexpr const wchar_t* kLumeraAppId = L"B32F2FEA-2A1B-47CA-BFED-0A404B9D6A8A";

// ---- One edition, with the caller's cache ----

// True when `editionKey` names the installed product: the branding module's string 1102
// (the product's key name) appended to kProductsKey equals `editionKey` without regard to
// case. A missing module or string answers false. A known `cache` is returned at once.
bool IsInstalledProduct(platform::IPlatform& plat, const wchar_t* editionKey, TriState& cache);

// True when the edition's key (HKLM, the process's own registry view) holds a non-empty
// "Version" string. A known `cache` is returned at once.
bool IsInstalled(platform::IPlatform& plat, const wchar_t* editionKey, TriState& cache);

// ---- The same with the process's caches ----

// The platform to ask and the caches of the process asking (the per-process object hands
// one out), so these answers need nothing above the platform.
struct CEditionQuery {
  platform::IPlatform& plat;
  CEditionCaches& caches;
};

bool IsInstalledProduct(const CEditionQuery& editions, const wchar_t* editionKey);
bool IsInstalled(const CEditionQuery& editions, const wchar_t* editionKey);

// Any of the three Lumera AD editions is the installed product.
bool IsLumeraADFamilyInstalled(const CEditionQuery& editions);
// Any of Lumera Workstation, Kiosk, Mobile Enrollment, Lite or Server is the installed product.
bool IsLumeraFamilyInstalled(const CEditionQuery& editions);

// kMobileEnrollmentAppId for the mobile-enrollment edition, kLumeraAppId for any other Lumera
// edition (either family), otherwise empty.
std::wstring GetApplicationId(const CEditionQuery& editions);

}  // namespace EDITIONS
