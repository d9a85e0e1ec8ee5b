// Preferred UI languages and the HTML help viewer: not offered yet.
#include "platform/sim/process_kernel.h"
#include "platform/sim/process_shell.h"

namespace sim {

BOOL ProcessKernel::GetUserPreferredUILanguages(DWORD, PULONG, PZZWSTR, PULONG) {
  return Fail(ERROR_CALL_NOT_IMPLEMENTED, FALSE);
}
HWND ProcessShell::HtmlHelpW(HWND, LPCWSTR, UINT, DWORD_PTR) {
  m_machine.LastError() = ERROR_CALL_NOT_IMPLEMENTED;
  return nullptr;
}

}  // namespace sim
