// Known folders, path canonicalisation, folder removal and task memory: not offered yet.
#include "platform/sim/process_com.h"
#include "platform/sim/process_kernel.h"
#include "platform/sim/process_shell.h"

namespace sim {

BOOL ProcessKernel::RemoveDirectoryW(LPCWSTR) { return Fail(ERROR_CALL_NOT_IMPLEMENTED, FALSE); }

HRESULT ProcessShell::SHGetKnownFolderPath(REFKNOWNFOLDERID, DWORD, HANDLE, PWSTR* ppszPath) {
  if (ppszPath) *ppszPath = nullptr;
  return E_NOTIMPL;
}
BOOL ProcessShell::PathCanonicalizeW(LPWSTR, LPCWSTR) {
  m_machine.LastError() = ERROR_CALL_NOT_IMPLEMENTED;
  return FALSE;
}
void ProcessCom::CoTaskMemFree(LPVOID) {}

}  // namespace sim
