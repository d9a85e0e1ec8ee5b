#include "platform/sim/process_crypt.h"

// Not simulated yet.
namespace sim {

BOOL ProcessCrypt::CryptEncodeObject(DWORD, LPCSTR, const void*, BYTE*, DWORD*) {
  m_process.GetMachine().LastError() = ERROR_CALL_NOT_IMPLEMENTED;
  return FALSE;
}
BOOL ProcessCrypt::CryptDecodeObject(DWORD, LPCSTR, const BYTE*, DWORD, DWORD, void*, DWORD*) {
  m_process.GetMachine().LastError() = ERROR_CALL_NOT_IMPLEMENTED;
  return FALSE;
}

}  // namespace sim
