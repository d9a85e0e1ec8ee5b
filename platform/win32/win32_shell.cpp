#include "platform/win32/win32_shell.h"

namespace platform::win32 {

BOOL CWin32Shell::ShellExecuteExW(SHELLEXECUTEINFOW* pExecInfo) {
  return ::ShellExecuteExW(pExecInfo);
}

}  // namespace platform::win32
