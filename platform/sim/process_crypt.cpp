#include "platform/sim/process_crypt.h"

#include "platform/sim/der_codec.h"

namespace sim {

BOOL ProcessCrypt::CryptEncodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType,
                                     const void* pvStructInfo, BYTE* pbEncoded, DWORD* pcbEncoded) {
  const DWORD err =
      der::Encode(dwCertEncodingType, lpszStructType, pvStructInfo, pbEncoded, pcbEncoded);
  if (err == 0) return TRUE;
  m_process.GetMachine().LastError() = err;
  return FALSE;
}

BOOL ProcessCrypt::CryptDecodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType,
                                     const BYTE* pbEncoded, DWORD cbEncoded, DWORD dwFlags,
                                     void* pvStructInfo, DWORD* pcbStructInfo) {
  const DWORD err = der::Decode(dwCertEncodingType, lpszStructType, pbEncoded, cbEncoded, dwFlags,
                                pvStructInfo, pcbStructInfo);
  if (err == 0) return TRUE;
  m_process.GetMachine().LastError() = err;
  return FALSE;
}

}  // namespace sim
