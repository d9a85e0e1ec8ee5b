// The elements of the launcher table's DER: small value classes over an owned byte blob,
// each encoded and decoded with the system's certificate encoding functions (encoding type
// X509_ASN_ENCODING | PKCS_7_ASN_ENCODING).
//
//   platform::IPlatform& plat = process.Platform();
//   CVDSequenceBlob record;
//   record.Append(CVDGUIDBlob(plat, typeId));
//   record.Append(CVDWStrBlob(plat, L"C:\\Tools\\app.exe"));
//   CCryptBlob der = record.Encode(plat);                // 30 .. 04 10 .. 1E ..
//
//   CVDSequenceBlob read = CVDSequenceBlob::Decode(plat, der);
//   GUID id = CVDGUIDBlob(read.Next()).Value(plat);
//   std::wstring path = CVDWStrBlob(read.Next()).Value(plat);
//
// Every failure is traced in the element's scope and raised as CResultError: the codec's own
// CRYPT_E_ASN1_ code for malformed DER, and for well-formed DER that breaks the table's rules
// CRYPT_E_ASN1_CORRUPT (a GUID that is not 16 bytes, a string that is not text),
// CRYPT_E_ASN1_LARGE (a number of more than 4 bytes) or CRYPT_E_ASN1_EOD (a sequence read
// past its last element). A key whose unsigned value is not exactly one byte reads as 0.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "platform/win_types.h"

// The encoded bytes, owned.
class CCryptBlob {
 public:
  CCryptBlob() = default;
  explicit CCryptBlob(std::vector<BYTE> bytes) : m_bytes(std::move(bytes)) {}
  CCryptBlob(const BYTE* data, DWORD size) : m_bytes(data, data + size) {}

  const BYTE* Data() const { return m_bytes.data(); }
  DWORD Size() const { return static_cast<DWORD>(m_bytes.size()); }
  bool Empty() const { return m_bytes.empty(); }
  const std::vector<BYTE>& Bytes() const { return m_bytes; }

 protected:
  std::vector<BYTE> m_bytes;
};

// An encoded blob with the structure type it was (or is to be) encoded as.
class CVDAnyBlob : public CCryptBlob {
 public:
  CVDAnyBlob(LPCSTR structType, CCryptBlob der)
      : CCryptBlob(std::move(der)), m_structType(structType) {}
  LPCSTR StructType() const { return m_structType; }

  // Encodes `info` as m_structType into the blob; raises the codec's error.
  void EncodeFrom(platform::IPlatform& plat, const void* info);
  // Where a decoded structure lies, with the data it points to: a small inline buffer, or
  // the heap for a larger one. Not movable, as the structure points into it.
  class CDecoded {
   public:
    CDecoded() = default;
    CDecoded(const CDecoded&) = delete;
    CDecoded& operator=(const CDecoded&) = delete;
    template <typename T>
    const T& As() const {
      const void* at = m_heap.empty() ? static_cast<const void*>(m_local) : m_heap.data();
      return *static_cast<const T*>(at);
    }

   private:
    friend class CVDAnyBlob;
    alignas(8) BYTE m_local[256];
    std::vector<unsigned long long> m_heap;
  };
  // Decodes the blob as m_structType into `out`. Raises the codec's error.
  void DecodeTo(platform::IPlatform& plat, CDecoded& out) const;

 protected:
  LPCSTR m_structType;
};

// A GUID: OCTET STRING of its 16 bytes in the order of its text form.
class CVDGUIDBlob : public CVDAnyBlob {
 public:
  CVDGUIDBlob(platform::IPlatform& plat, const GUID& value);
  explicit CVDGUIDBlob(CCryptBlob der) : CVDAnyBlob(X509_OCTET_STRING, std::move(der)) {}
  GUID Value(platform::IPlatform& plat) const;
};

// Text: written as a BMPString; any string value type from 3 up reads back as text (8-bit
// types one character per byte, as ISO 8859-1).
class CVDWStrBlob : public CVDAnyBlob {
 public:
  CVDWStrBlob(platform::IPlatform& plat, const std::wstring& value);
  explicit CVDWStrBlob(CCryptBlob der) : CVDAnyBlob(X509_ANY_STRING, std::move(der)) {}
  std::wstring Value(platform::IPlatform& plat) const;
};

// An unsigned INTEGER; the table's group and slot keys.
class CVDULongBlob : public CVDAnyBlob {
 public:
  CVDULongBlob(platform::IPlatform& plat, ULONG value);
  explicit CVDULongBlob(CCryptBlob der) : CVDAnyBlob(X509_MULTI_BYTE_UINT, std::move(der)) {}
  // The one-byte key; any other width (0 included, as "02 01 00" decodes to no bytes) is 0.
  BYTE Key(platform::IPlatform& plat) const;
};

// A signed 32-bit INTEGER.
class CVDIntBlob : public CVDAnyBlob {
 public:
  CVDIntBlob(platform::IPlatform& plat, LONG value);
  explicit CVDIntBlob(CCryptBlob der) : CVDAnyBlob(X509_MULTI_BYTE_INTEGER, std::move(der)) {}
  LONG Value(platform::IPlatform& plat) const;
};

// A SEQUENCE of already-encoded elements: collected with Append and encoded as one blob, or
// decoded from one and read in order with Next.
class CVDSequenceBlob {
 public:
  CVDSequenceBlob() = default;
  static CVDSequenceBlob Decode(platform::IPlatform& plat, const CCryptBlob& der);

  void Append(const CCryptBlob& element) { m_elements.push_back(element); }
  CCryptBlob Encode(platform::IPlatform& plat) const;

  size_t Count() const { return m_elements.size(); }
  // The element at the read position, which then moves on; raises CRYPT_E_ASN1_EOD past
  // the last one.
  const CCryptBlob& Next();
  // Back to element 0.
  void Reset() { m_next = 0; }

 private:
  std::vector<CCryptBlob> m_elements;
  size_t m_next = 0;
};
