// The agent works from its own folder: relative paths of the suite's files resolve there.
//
//   core::SetCurrDirToOwnDir(plat);                 // at window creation
//   core::ModuleFolder(L"C:\\VdAgent.exe");         // L"C:\\"
#pragma once

#include <string>

#include "platform/platform.h"

namespace core {

// The folder of a module path: the path without its file part. At a root the backslash
// stays ("C:\", "\\server\share\", "\\?\C:\"), since "C:" names the current folder of drive
// C, not its root. Empty when the path names no folder.
std::wstring ModuleFolder(const std::wstring& path);

// Sets the current directory to the executable's folder, logging the old and new ones.
void SetCurrDirToOwnDir(platform::IPlatform& plat);

}  // namespace core
