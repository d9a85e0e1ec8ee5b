// The agent works from its own folder: relative paths of the suite's files resolve there.
#pragma once

#include "platform/platform.h"

namespace core {

// Sets the current directory to the executable's folder, logging the old and new ones.
void SetCurrDirToOwnDir(platform::IPlatform& plat);

}  // namespace core
