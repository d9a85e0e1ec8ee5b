#include "platform/win32/win32_crypt.h"

#include <wincrypt.h>

namespace platform::win32 {

BOOL CWin32Crypt::CryptEncodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType,
                                    const void* pvStructInfo, BYTE* pbEncoded, DWORD* pcbEncoded) {
  return ::CryptEncodeObject(dwCertEncodingType, lpszStructType, pvStructInfo, pbEncoded,
                             pcbEncoded);
}

BOOL CWin32Crypt::CryptDecodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType,
                                    const BYTE* pbEncoded, DWORD cbEncoded, DWORD dwFlags,
                                    void* pvStructInfo, DWORD* pcbStructInfo) {
  return ::CryptDecodeObject(dwCertEncodingType, lpszStructType, pbEncoded, cbEncoded, dwFlags,
                             pvStructInfo, pcbStructInfo);
}

}  // namespace platform::win32
