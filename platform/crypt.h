// Certificate encoding (CRYPT32): DER encoding and decoding of the few ASN.1 shapes the
// agent stores and exchanges, with Win32 meaning and results.
//
//   BYTE one = 1; CRYPT_UINT_BLOB v{1, &one};
//   DWORD cb = 0;
//   crypt.CryptEncodeObject(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, X509_MULTI_BYTE_UINT, &v,
//                           nullptr, &cb);                          // size first
//   std::vector<BYTE> der(cb);
//   crypt.CryptEncodeObject(..., X509_MULTI_BYTE_UINT, &v, der.data(), &cb);  // 02 01 01
//
// Both calls follow the two-call pattern: a null output gives the size needed; a buffer too
// small fails with ERROR_MORE_DATA and the size needed. Integers travel little-endian in
// their blobs, as CRYPT32 keeps them. Decoded structures point into the output buffer.
// Malformed input fails with a CRYPT_E_ASN1_ code as the last error, never reads past
// cbEncoded.
#pragma once

#include "platform/win_types.h"

namespace platform {

class ICrypt {
 public:
  virtual ~ICrypt() = default;

  // Structure types: X509_MULTI_BYTE_UINT and X509_MULTI_BYTE_INTEGER (CRYPT_INTEGER_BLOB),
  // X509_OCTET_STRING (CRYPT_DATA_BLOB), X509_ANY_STRING (CERT_NAME_VALUE),
  // X509_SEQUENCE_OF_ANY (CRYPT_SEQUENCE_OF_ANY). Others fail with ERROR_FILE_NOT_FOUND.
  virtual BOOL CryptEncodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType,
                                 const void* pvStructInfo, BYTE* pbEncoded, DWORD* pcbEncoded) = 0;
  virtual BOOL CryptDecodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType,
                                 const BYTE* pbEncoded, DWORD cbEncoded, DWORD dwFlags,
                                 void* pvStructInfo, DWORD* pcbStructInfo) = 0;
};

}  // namespace platform
