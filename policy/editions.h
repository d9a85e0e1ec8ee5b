// Which edition of the suite is installed. Answers are cached for the life of the process.
#pragma once

#include "core/agent_process.h"

namespace EDITIONS {

inline constexpr const wchar_t* kPrintvue = L"SOFTWARE\\Veridane\\Products\\Printvue";
inline constexpr const wchar_t* kLumeraLite = L"SOFTWARE\\Veridane\\Products\\Lumera Lite";

// True when `editionKey` ("SOFTWARE\Veridane\Products\...") names the installed product, as
// the branding module's string 1102 tells. A missing module or string answers false.
bool IsInstalledProduct(core::CAgentProcess& process, const wchar_t* editionKey);

}  // namespace EDITIONS
