// The simulated machine's DER codec: CryptEncodeObject and CryptDecodeObject for the few
// structure types the agent uses, with CRYPT32's results and sizes (as Wine's crypt32 gives
// them, byte for byte). Free of any machine state, so the fuzzer links it alone.
//
//   DWORD cb = 0;
//   DWORD err = der::Encode(X509_ASN_ENCODING, X509_MULTI_BYTE_UINT, &blob, nullptr, &cb);
//   std::vector<BYTE> out(cb);
//   err = der::Encode(X509_ASN_ENCODING, X509_MULTI_BYTE_UINT, &blob, out.data(), &cb);
//   if (err != 0) SetLastError(err);
//
// Both calls return 0 on success or the code the caller sets as last error. A null output
// asks for the size; an output smaller than *pcb gives ERROR_MORE_DATA with the size needed.
//
// Strings: the caller's WCHAR is the host's wchar_t (4 bytes on Linux); BMPString content is
// UTF-16 big-endian, so characters beyond the BMP travel as surrogate pairs and come back as
// one character. Decoding never reads outside [pbEncoded, pbEncoded + cbEncoded).
#pragma once

#include <cstdint>

#include "platform/win_types.h"

namespace sim::der {

// String value types of CERT_NAME_VALUE that the decoder reports (CERT_RDN_*).
enum ValueType : DWORD {
  kEncodedBlob = 1,
  kOctetString = 2,
  kNumericString = 3,
  kPrintableString = 4,
  kTeletexString = 5,
  kVideotexString = 6,
  kIa5String = 7,
  kGraphicString = 8,
  kVisibleString = 9,
  kGeneralString = 10,
  kUniversalString = 11,
  kBmpString = 12,
  kUtf8String = 13,
};

// CRYPT_E_ASN1_CHOICE: a value type outside the CERT_RDN_ range.
inline constexpr DWORD kAsn1Choice = 0x8009310Cu;

// One tag-length header. contentLength is within the bytes given to ReadHeader.
struct Header {
  BYTE tag = 0;
  DWORD headerLength = 0;
  DWORD contentLength = 0;
};

// Reads the header at p (avail bytes there). Returns 0 or a CRYPT_E_ASN1_ code: CORRUPT for
// fewer than two bytes, a cut long-form length or an indefinite length; LARGE for a length of
// more than four bytes; EOD for content running past avail. Long forms need not be minimal.
DWORD ReadHeader(const BYTE* p, DWORD avail, Header* out);

DWORD Encode(DWORD dwCertEncodingType, LPCSTR lpszStructType, const void* pvStructInfo,
             BYTE* pbEncoded, DWORD* pcbEncoded);

// dwFlags: CRYPT_DECODE_NOCOPY_FLAG is accepted and ignored; the data are always copied into
// the output, after the structure, and the structure points to them.
DWORD Decode(DWORD dwCertEncodingType, LPCSTR lpszStructType, const BYTE* pbEncoded,
             DWORD cbEncoded, DWORD dwFlags, void* pvStructInfo, DWORD* pcbStructInfo);

}  // namespace sim::der
