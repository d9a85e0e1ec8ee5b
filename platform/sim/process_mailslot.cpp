// Mailslots of a simulated process: not offered yet.
#include "platform/sim/process_kernel.h"

namespace sim {

HANDLE ProcessKernel::CreateMailslotW(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES) {
  return Fail(ERROR_CALL_NOT_IMPLEMENTED, INVALID_HANDLE_VALUE);
}
BOOL ProcessKernel::GetMailslotInfo(HANDLE, LPDWORD, LPDWORD, LPDWORD, LPDWORD) {
  return Fail(ERROR_CALL_NOT_IMPLEMENTED, FALSE);
}
BOOL ProcessKernel::CancelIo(HANDLE) { return Fail(ERROR_CALL_NOT_IMPLEMENTED, FALSE); }
BOOL ProcessKernel::GetOverlappedResult(HANDLE, OVERLAPPED*, LPDWORD, BOOL) {
  return Fail(ERROR_CALL_NOT_IMPLEMENTED, FALSE);
}

}  // namespace sim
