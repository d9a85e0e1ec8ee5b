// Certificate encoding on Windows: CRYPT32 straight through.
#pragma once

#include "platform/crypt.h"

namespace platform::win32 {

class CWin32Crypt final : public ICrypt {
 public:
  BOOL CryptEncodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType, const void* pvStructInfo,
                         BYTE* pbEncoded, DWORD* pcbEncoded) override;
  BOOL CryptDecodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType, const BYTE* pbEncoded,
                         DWORD cbEncoded, DWORD dwFlags, void* pvStructInfo,
                         DWORD* pcbStructInfo) override;
};

}  // namespace platform::win32
