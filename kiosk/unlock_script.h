// The kiosk unlock script: a program or script the administrator names in the policy value
// "KioskUnlockScript", copied to the user's TEMP folder and run when a different person
// unlocks the shared session.
//
//   KIOSK::RunUnlockScript(process.Platform());   // blocks up to 20 s for the script
//
// Main window's thread. Failures are traced and end the run; none reaches the session.
#pragma once

#include <optional>
#include <string>

#include "platform/platform.h"

namespace KIOSK {

// The longest value the policy may hold, without its terminator.
inline constexpr DWORD kMaxUnlockScriptChars = 259;
// A refresh of an existing local copy that takes this long is cancelled.
inline constexpr DWORD kScriptRefreshLimitMs = 2000;
// How long the agent waits for the script to end.
inline constexpr DWORD kScriptWaitMs = 20000;

// The policy value; nothing when the key or value is missing, the value is not a string or
// it has no room for a terminator in 260 characters.
std::optional<std::wstring> GetUnlockScript(platform::IPlatform& plat);

// More than two characters starting with "\\": a full path used as it is.
bool IsFullScriptPath(const std::wstring& value);

// Where the script is fetched from: a value of more than two characters that starts with
// "\\" as it is, otherwise "\\<domain>\sysvol\<domain>\scripts\<value>". Nothing when the
// computer has no DNS domain to build the path from.
std::optional<std::wstring> UnlockScriptSource(platform::IPlatform& plat,
                                               const std::wstring& value);

// "<TEMP>\VDScripts\KioskUnlock\" (a backslash added after TEMP when missing); nothing when
// TEMP is not set.
std::optional<std::wstring> UnlockScriptFolder(platform::IPlatform& plat);

// Fetches the script into the local folder and gives the local path. A previous local copy
// is refreshed for at most two seconds and kept when the refresh fails; without one, a
// failed copy fails. E_INVALIDARG for a source without a file name.
HRESULT CopyScriptFile(platform::IPlatform& plat, const std::wstring& source,
                       std::wstring* localPath);

// Fetches and starts the script (as a program, else through cscript) and waits for it.
void RunUnlockScript(platform::IPlatform& plat);

}  // namespace KIOSK
