// The clean-up list: "Cleanup.txt" in the suite's installation folder (HKLM
// "SOFTWARE\Veridane" "VeridanePath"), one line per registry entry the agent may have
// created, for the uninstaller to remove. UTF-16LE with a byte-order mark; a file without
// the mark is started afresh.
//
//   support::AddCleanupLine(plat, L"HKU", L"SOFTWARE\\Veridane\\Applications\\Agent",
//                           support::kCleanupValue, L"ShowUserWizard");
//   // "HKU\tSOFTWARE\\Veridane\\Applications\\Agent\t1\tShowUserWizard\r\n"
//
// Failures (no root or key path: E_INVALIDARG; no folder, no file: the Win32 error) are
// raised as CResultError.
#pragma once

#include "platform/platform.h"

namespace support {

// Kind codes of a line: what the uninstaller removes.
inline constexpr DWORD kCleanupValue = 1;
inline constexpr DWORD kCleanupKeyFlag = 2;  // the password-reset key and Control Panel keys
inline constexpr DWORD kCleanupKey = 4;

inline constexpr const wchar_t* kCleanupFileName = L"Cleanup.txt";

// Appends "<root>\t<keyPath>\t<kind>[\t<valueName>]\r\n"; a given but empty value name is
// written as a single space. `valueName` null: no value column.
void AddCleanupLine(platform::IPlatform& plat, const wchar_t* root, const wchar_t* keyPath,
                    DWORD kind, const wchar_t* valueName = nullptr);

// Appends every settings value and key of the agent, in the uninstaller's order. Stops at
// the first failure (raised).
void AddAgentSettingsToCleanupList(platform::IPlatform& plat);

}  // namespace support
