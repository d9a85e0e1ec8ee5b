// Shell on Windows: SHELL32 straight through.
#pragma once

#include "platform/shell.h"

namespace platform::win32 {

class CWin32Shell final : public IShell {
 public:
  BOOL ShellExecuteExW(SHELLEXECUTEINFOW* pExecInfo) override;
};

}  // namespace platform::win32
