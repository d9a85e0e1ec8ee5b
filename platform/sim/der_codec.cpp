#include "platform/sim/der_codec.h"

#include <cstring>
#include <cwchar>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

namespace sim::der {

namespace {

using Bytes = std::vector<BYTE>;

constexpr DWORD Err(HRESULT hr) { return static_cast<DWORD>(hr); }

constexpr BYTE kTagInteger = 0x02;
constexpr BYTE kTagOctetString = 0x04;
constexpr BYTE kTagUtf8String = 0x0C;
constexpr BYTE kTagSequence = 0x30;
constexpr BYTE kTagBmpString = 0x1E;

enum class Kind { kUint, kInteger, kOctets, kAnyString, kSequence, kUnknown };

Kind KindOf(LPCSTR structType) {
  const auto id = reinterpret_cast<std::uintptr_t>(structType);
  // Dotted OID texts name installable codecs; none is installed here.
  if (id >> 16) return Kind::kUnknown;
  if (structType == X509_MULTI_BYTE_UINT) return Kind::kUint;
  if (structType == X509_MULTI_BYTE_INTEGER) return Kind::kInteger;
  if (structType == X509_OCTET_STRING) return Kind::kOctets;
  if (structType == X509_ANY_STRING) return Kind::kAnyString;
  if (structType == X509_SEQUENCE_OF_ANY) return Kind::kSequence;
  return Kind::kUnknown;
}

// Either half of the encoding type may name ASN.1; other bits of the other half are ignored.
bool IsAsn1(DWORD encodingType) {
  return (encodingType & 0x0000FFFFu) == X509_ASN_ENCODING ||
         (encodingType & 0xFFFF0000u) == PKCS_7_ASN_ENCODING;
}

// ---- Text ----------------------------------------------------------------------------------

constexpr char32_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// The caller's characters as code points. A surrogate pair (what a 2-byte WCHAR holds) joins
// into one; a lone surrogate stays as it is, as CRYPT32 passes UTF-16 units through.
std::u32string CodePoints(const WCHAR* s, size_t n) {
  std::u32string out;
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    const auto c = static_cast<char32_t>(static_cast<std::make_unsigned_t<WCHAR>>(s[i]));
    if (IsHighSurrogate(c) && i + 1 < n) {
      const auto next = static_cast<char32_t>(static_cast<std::make_unsigned_t<WCHAR>>(s[i + 1]));
      if (IsLowSurrogate(next)) {
        out.push_back(0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00));
        ++i;
        continue;
      }
    }
    out.push_back(c);
  }
  return out;
}

void AppendUtf16Be(Bytes& out, char32_t c) {
  if (c > 0x10FFFF) c = kReplacement;
  const auto unit = [&](char32_t u) {
    out.push_back(static_cast<BYTE>(u >> 8));
    out.push_back(static_cast<BYTE>(u));
  };
  if (c >= 0x10000) {
    unit(0xD800 + ((c - 0x10000) >> 10));
    unit(0xDC00 + ((c - 0x10000) & 0x3FF));
  } else {
    unit(c);
  }
}

void AppendUtf8(Bytes& out, char32_t c) {
  if (c > 0x10FFFF || IsHighSurrogate(c) || IsLowSurrogate(c)) c = kReplacement;
  if (c < 0x80) {
    out.push_back(static_cast<BYTE>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<BYTE>(0xC0 | (c >> 6)));
    out.push_back(static_cast<BYTE>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<BYTE>(0xE0 | (c >> 12)));
    out.push_back(static_cast<BYTE>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<BYTE>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<BYTE>(0xF0 | (c >> 18)));
    out.push_back(static_cast<BYTE>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<BYTE>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<BYTE>(0x80 | (c & 0x3F)));
  }
}

// One code point in the host's WCHAR: a pair where WCHAR has two bytes, one unit otherwise.
void AppendWide(std::wstring& out, char32_t c) {
  if constexpr (sizeof(WCHAR) == 2) {
    if (c >= 0x10000) {
      out.push_back(static_cast<WCHAR>(0xD800 + ((c - 0x10000) >> 10)));
      out.push_back(static_cast<WCHAR>(0xDC00 + ((c - 0x10000) & 0x3FF)));
      return;
    }
  }
  out.push_back(static_cast<WCHAR>(c));
}

// BMPString content: big-endian UTF-16, pairs joined where the host's WCHAR can hold them.
std::wstring FromUtf16Be(const BYTE* p, DWORD n) {
  std::wstring out;
  for (DWORD i = 0; i + 1 < n; i += 2) {
    char32_t c = static_cast<char32_t>((p[i] << 8) | p[i + 1]);
    if (IsHighSurrogate(c) && i + 3 < n) {
      const auto next = static_cast<char32_t>((p[i + 2] << 8) | p[i + 3]);
      if (IsLowSurrogate(next)) {
        c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
        i += 2;
      }
    }
    AppendWide(out, c);
  }
  return out;
}

// UTF-8 content; each byte that starts no valid sequence becomes U+FFFD, as the system's
// converter does.
std::wstring FromUtf8(const BYTE* p, DWORD n) {
  std::wstring out;
  DWORD i = 0;
  while (i < n) {
    const BYTE b = p[i];
    DWORD more = 0;
    char32_t c = 0;
    char32_t min = 0;
    if (b < 0x80) {
      c = b;
    } else if ((b & 0xE0) == 0xC0) {
      more = 1, c = b & 0x1F, min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
      more = 2, c = b & 0x0F, min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
      more = 3, c = b & 0x07, min = 0x10000;
    } else {
      AppendWide(out, kReplacement);
      ++i;
      continue;
    }
    bool ok = i + more < n;
    for (DWORD k = 1; ok && k <= more; ++k) {
      ok = (p[i + k] & 0xC0) == 0x80;
      if (ok) c = (c << 6) | (p[i + k] & 0x3F);
    }
    if (!ok || c < min || c > 0x10FFFF || IsHighSurrogate(c) || IsLowSurrogate(c)) {
      AppendWide(out, kReplacement);
      ++i;
      continue;
    }
    AppendWide(out, c);
    i += more + 1;
  }
  return out;
}

// ---- Encoding -----------------------------------------------------------------------------

// Tag, minimal length and content. Fails when the whole would not fit a DWORD count.
DWORD Tlv(BYTE tag, const Bytes& content, Bytes* out) {
  const std::uint64_t n = content.size();
  if (n > 0xFFFFFFFFull - 6) return Err(CRYPT_E_ASN1_LARGE);
  out->clear();
  out->push_back(tag);
  if (n < 0x80) {
    out->push_back(static_cast<BYTE>(n));
  } else {
    BYTE lenBytes = 1;
    while (lenBytes < 4 && (n >> (8 * lenBytes)) != 0) ++lenBytes;
    out->push_back(static_cast<BYTE>(0x80 | lenBytes));
    for (int i = lenBytes - 1; i >= 0; --i) out->push_back(static_cast<BYTE>(n >> (8 * i)));
  }
  out->insert(out->end(), content.begin(), content.end());
  return 0;
}

// CRYPT32 keeps integers little-endian; DER wants them big-endian and minimal.
Bytes BigEndian(const BYTE* le, DWORD n) {
  return Bytes(std::make_reverse_iterator(le + n), std::make_reverse_iterator(le));
}

DWORD EncodeUint(const CRYPT_INTEGER_BLOB& v, Bytes* out) {
  Bytes content;
  if (v.cbData > 0) {
    DWORD n = v.cbData;
    while (n > 1 && v.pbData[n - 1] == 0) --n;
    // The top bit would read as a sign: an unsigned value keeps a zero in front.
    if (v.pbData[n - 1] & 0x80) content.push_back(0);
    const Bytes be = BigEndian(v.pbData, n);
    content.insert(content.end(), be.begin(), be.end());
  }
  return Tlv(kTagInteger, content, out);
}

DWORD EncodeInteger(const CRYPT_INTEGER_BLOB& v, Bytes* out) {
  Bytes content;
  if (v.cbData > 0) {
    DWORD n = v.cbData;
    // Drop a leading 0xFF (negative) or 0x00 (positive) byte while the next byte carries the
    // same sign; an all-0xFF value ends as the single byte FF (-1).
    const BYTE fill = (v.pbData[n - 1] & 0x80) ? 0xFF : 0x00;
    while (n > 1 && v.pbData[n - 1] == fill && (v.pbData[n - 2] & 0x80) == (fill & 0x80)) --n;
    content = BigEndian(v.pbData, n);
  }
  return Tlv(kTagInteger, content, out);
}

DWORD EncodeAnyString(const CERT_NAME_VALUE& v, Bytes* out) {
  const auto* chars = reinterpret_cast<const WCHAR*>(v.Value.pbData);
  // Wide values: cbData counts bytes; 0 with a pointer means a zero-terminated text.
  const size_t count = v.Value.cbData ? v.Value.cbData / sizeof(WCHAR)
                       : chars        ? std::wcslen(chars)
                                      : 0;
  Bytes content;
  switch (v.dwValueType) {
    case kBmpString:
      for (char32_t c : CodePoints(chars, count)) AppendUtf16Be(content, c);
      return Tlv(kTagBmpString, content, out);
    case kUtf8String:
      for (char32_t c : CodePoints(chars, count)) AppendUtf8(content, c);
      return Tlv(kTagUtf8String, content, out);
    case kOctetString:
      content.assign(v.Value.pbData, v.Value.pbData + v.Value.cbData);
      return Tlv(kTagOctetString, content, out);
    case kEncodedBlob:  // already DER: passed through untouched
      out->assign(v.Value.pbData, v.Value.pbData + v.Value.cbData);
      return 0;
    case 0:  // CERT_RDN_ANY_TYPE names no encoding
      return Err(E_INVALIDARG);
    default:
      // The 8-bit string types need CRYPT32's character checks (each has its own
      // CRYPT_E_INVALID_ code); the agent never writes them, so they are not simulated.
      if (v.dwValueType <= kUniversalString) return ERROR_CALL_NOT_IMPLEMENTED;
      return kAsn1Choice;
  }
}

DWORD EncodeSequence(const CRYPT_SEQUENCE_OF_ANY& v, Bytes* out) {
  if (v.cValue > 0 && !v.rgValue) return ERROR_INVALID_PARAMETER;
  Bytes content;
  for (DWORD i = 0; i < v.cValue; ++i) {
    const CRYPT_DER_BLOB& e = v.rgValue[i];
    if (e.cbData > 0xFFFFFFFFull - content.size()) return Err(CRYPT_E_ASN1_LARGE);
    // The elements are the caller's DER and are not checked, as in CRYPT32.
    content.insert(content.end(), e.pbData, e.pbData + e.cbData);
  }
  return Tlv(kTagSequence, content, out);
}

// ---- Decoding -----------------------------------------------------------------------------

// What a decoded structure needs: its size in the output, and how to lay it out there.
struct Decoded {
  std::uint64_t size = 0;  // checked against the DWORD range once, by Decode
  std::function<void(BYTE* out)> write;
};

template <typename T>
T* At(BYTE* out) {
  return reinterpret_cast<T*>(out);
}

DWORD DecodeIntegerBlob(const BYTE* c, DWORD n, bool isUnsigned, Decoded* d) {
  // The size counts the whole content even where one byte is left out, as CRYPT32 does.
  d->size = sizeof(CRYPT_INTEGER_BLOB) + n;
  // An unsigned value loses its leading zero (only that one byte).
  const DWORD skip = isUnsigned && n > 0 && c[0] == 0 ? 1 : 0;
  d->write = [c, n, skip](BYTE* out) {
    auto* blob = At<CRYPT_INTEGER_BLOB>(out);
    blob->pbData = out + sizeof(CRYPT_INTEGER_BLOB);
    blob->cbData = n - skip;
    for (DWORD i = 0; i < n - skip; ++i) blob->pbData[i] = c[n - 1 - i];
  };
  return 0;
}

DWORD DecodeOctets(const BYTE* c, DWORD n, Decoded* d) {
  d->size = sizeof(CRYPT_DATA_BLOB) + n;
  d->write = [c, n](BYTE* out) {
    auto* blob = At<CRYPT_DATA_BLOB>(out);
    blob->pbData = out + sizeof(CRYPT_DATA_BLOB);
    blob->cbData = n;
    if (n) std::memcpy(blob->pbData, c, n);
  };
  return 0;
}

DWORD StringValueType(BYTE tag) {
  switch (tag) {
    case kTagOctetString:
      return kOctetString;
    case 0x12:
      return kNumericString;
    case 0x13:
      return kPrintableString;
    case 0x14:
      return kTeletexString;
    case 0x15:
      return kVideotexString;
    case 0x16:
      return kIa5String;
    case 0x19:
      return kGraphicString;
    case 0x1A:
      return kVisibleString;
    case 0x1B:
      return kGeneralString;
    case kTagBmpString:
      return kBmpString;
    case kTagUtf8String:
      return kUtf8String;
    // UniversalString (0x1C) is refused like any other tag, as CRYPT32 does.
    default:
      return 0;
  }
}

DWORD DecodeAnyString(BYTE tag, const BYTE* c, DWORD n, Decoded* d) {
  const DWORD type = StringValueType(tag);
  if (type == 0) return Err(CRYPT_E_ASN1_BADTAG);
  if (type == kBmpString || type == kUtf8String) {
    // Half a character cannot be stored in the caller's WCHARs.
    if (type == kBmpString && n % 2) return Err(CRYPT_E_ASN1_CORRUPT);
    auto text =
        std::make_shared<std::wstring>(type == kBmpString ? FromUtf16Be(c, n) : FromUtf8(c, n));
    const std::uint64_t bytes = text->size() * sizeof(WCHAR);
    d->size = sizeof(CERT_NAME_VALUE) + bytes;
    d->write = [type, text, bytes](BYTE* out) {
      auto* v = At<CERT_NAME_VALUE>(out);
      v->dwValueType = type;
      v->Value.cbData = static_cast<DWORD>(bytes);
      v->Value.pbData = bytes ? out + sizeof(CERT_NAME_VALUE) : nullptr;
      if (bytes) std::memcpy(v->Value.pbData, text->data(), bytes);
    };
    return 0;
  }
  d->size = sizeof(CERT_NAME_VALUE) + n;
  d->write = [type, c, n](BYTE* out) {
    auto* v = At<CERT_NAME_VALUE>(out);
    v->dwValueType = type;
    v->Value.cbData = n;
    v->Value.pbData = n ? out + sizeof(CERT_NAME_VALUE) : nullptr;
    if (n) std::memcpy(v->Value.pbData, c, n);
  };
  return 0;
}

DWORD DecodeSequence(const BYTE* c, DWORD n, Decoded* d) {
  struct Element {
    const BYTE* p;
    DWORD size;
  };
  auto elements = std::make_shared<std::vector<Element>>();
  std::uint64_t size = sizeof(CRYPT_SEQUENCE_OF_ANY);
  for (DWORD at = 0; at < n;) {
    // Each element must end inside the sequence, not merely inside the input.
    Header h;
    if (const DWORD e = ReadHeader(c + at, n - at, &h)) return e;
    const DWORD whole = h.headerLength + h.contentLength;
    elements->push_back({c + at, whole});
    size += sizeof(CRYPT_DER_BLOB) + whole;
    at += whole;
  }
  d->size = size;
  d->write = [elements](BYTE* out) {
    auto* seq = At<CRYPT_SEQUENCE_OF_ANY>(out);
    seq->cValue = static_cast<DWORD>(elements->size());
    seq->rgValue = At<CRYPT_DER_BLOB>(out + sizeof(CRYPT_SEQUENCE_OF_ANY));
    BYTE* data = out + sizeof(CRYPT_SEQUENCE_OF_ANY) + elements->size() * sizeof(CRYPT_DER_BLOB);
    for (size_t i = 0; i < elements->size(); ++i) {
      const Element& e = (*elements)[i];
      seq->rgValue[i].cbData = e.size;
      seq->rgValue[i].pbData = data;
      std::memcpy(data, e.p, e.size);
      data += e.size;
    }
  };
  return 0;
}

}  // namespace

DWORD ReadHeader(const BYTE* p, DWORD avail, Header* out) {
  if (avail < 2) return Err(CRYPT_E_ASN1_CORRUPT);
  const BYTE first = p[1];
  std::uint64_t length = 0;
  DWORD headerLength = 2;
  if (first < 0x80) {
    length = first;
  } else if (first == 0x80) {
    return Err(CRYPT_E_ASN1_CORRUPT);  // indefinite length: not DER
  } else {
    const DWORD lenBytes = first & 0x7Fu;
    if (lenBytes > 4) return Err(CRYPT_E_ASN1_LARGE);
    if (avail - 2 < lenBytes) return Err(CRYPT_E_ASN1_CORRUPT);
    for (DWORD i = 0; i < lenBytes; ++i) length = (length << 8) | p[2 + i];
    headerLength += lenBytes;
  }
  if (length > avail - headerLength) return Err(CRYPT_E_ASN1_EOD);
  out->tag = p[0];
  out->headerLength = headerLength;
  out->contentLength = static_cast<DWORD>(length);
  return 0;
}

DWORD Encode(DWORD dwCertEncodingType, LPCSTR lpszStructType, const void* pvStructInfo,
             BYTE* pbEncoded, DWORD* pcbEncoded) {
  if (!pcbEncoded) return ERROR_INVALID_PARAMETER;
  const Kind kind = KindOf(lpszStructType);
  if (!IsAsn1(dwCertEncodingType) || kind == Kind::kUnknown) return ERROR_FILE_NOT_FOUND;
  if (!pvStructInfo) return ERROR_INVALID_PARAMETER;

  Bytes der;
  DWORD err = 0;
  switch (kind) {
    case Kind::kUint:
      err = EncodeUint(*static_cast<const CRYPT_INTEGER_BLOB*>(pvStructInfo), &der);
      break;
    case Kind::kInteger:
      err = EncodeInteger(*static_cast<const CRYPT_INTEGER_BLOB*>(pvStructInfo), &der);
      break;
    case Kind::kOctets: {
      const auto& v = *static_cast<const CRYPT_DATA_BLOB*>(pvStructInfo);
      err = Tlv(kTagOctetString, Bytes(v.pbData, v.pbData + v.cbData), &der);
      break;
    }
    case Kind::kAnyString:
      err = EncodeAnyString(*static_cast<const CERT_NAME_VALUE*>(pvStructInfo), &der);
      break;
    case Kind::kSequence:
      err = EncodeSequence(*static_cast<const CRYPT_SEQUENCE_OF_ANY*>(pvStructInfo), &der);
      break;
    case Kind::kUnknown:
      break;
  }
  if (err) return err;
  const auto needed = static_cast<DWORD>(der.size());
  if (pbEncoded && *pcbEncoded < needed) {
    *pcbEncoded = needed;
    return ERROR_MORE_DATA;
  }
  if (pbEncoded && needed) std::memcpy(pbEncoded, der.data(), needed);
  *pcbEncoded = needed;
  return 0;
}

DWORD Decode(DWORD dwCertEncodingType, LPCSTR lpszStructType, const BYTE* pbEncoded,
             DWORD cbEncoded, DWORD /*dwFlags*/, void* pvStructInfo, DWORD* pcbStructInfo) {
  if (!pcbStructInfo) return ERROR_INVALID_PARAMETER;
  const Kind kind = KindOf(lpszStructType);
  if (!IsAsn1(dwCertEncodingType) || kind == Kind::kUnknown) return ERROR_FILE_NOT_FOUND;
  if (cbEncoded == 0) return Err(CRYPT_E_ASN1_CORRUPT);
  if (!pbEncoded) return ERROR_INVALID_PARAMETER;

  const BYTE tag = pbEncoded[0];
  const BYTE wanted = kind == Kind::kOctets      ? kTagOctetString
                      : kind == Kind::kSequence  ? kTagSequence
                      : kind == Kind::kAnyString ? tag  // checked against the value types
                                                 : kTagInteger;
  if (tag != wanted) return Err(CRYPT_E_ASN1_BADTAG);
  Header h;
  if (const DWORD e = ReadHeader(pbEncoded, cbEncoded, &h)) return e;
  // Bytes after the first value are not looked at.
  const BYTE* content = pbEncoded + h.headerLength;

  Decoded d;
  DWORD err = 0;
  switch (kind) {
    case Kind::kUint:
      err = DecodeIntegerBlob(content, h.contentLength, true, &d);
      break;
    case Kind::kInteger:
      err = DecodeIntegerBlob(content, h.contentLength, false, &d);
      break;
    case Kind::kOctets:
      err = DecodeOctets(content, h.contentLength, &d);
      break;
    case Kind::kAnyString:
      err = DecodeAnyString(tag, content, h.contentLength, &d);
      break;
    case Kind::kSequence:
      err = DecodeSequence(content, h.contentLength, &d);
      break;
    case Kind::kUnknown:
      break;
  }
  if (err) return err;
  if (d.size > 0xFFFFFFFFull) return Err(CRYPT_E_ASN1_LARGE);
  const auto needed = static_cast<DWORD>(d.size);
  if (pvStructInfo && *pcbStructInfo < needed) {
    *pcbStructInfo = needed;
    return ERROR_MORE_DATA;
  }
  if (pvStructInfo) d.write(static_cast<BYTE*>(pvStructInfo));
  *pcbStructInfo = needed;
  return 0;
}

}  // namespace sim::der
