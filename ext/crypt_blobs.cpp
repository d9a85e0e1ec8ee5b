#include "ext/crypt_blobs.h"

#include <cstring>

#include "support/result_error.h"
#include "support/trace/trace.h"

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// The codec's last error as a result; a failure that left none is still a failure.
HRESULT CodecError(platform::IPlatform& plat) {
  const HRESULT hr = HRESULT_FROM_WIN32(plat.Kernel().GetLastError());
  return FAILED(hr) ? hr : E_FAIL;
}

[[noreturn]] void Raise(const VDTraceNS::CScope& ts, const char* what, HRESULT hr) {
  throw CResultError(ts.Result(what, hr));
}

}  // namespace

// ---- CVDAnyBlob ------------------------------------------------------------------------------

void CVDAnyBlob::EncodeFrom(platform::IPlatform& plat, const void* info) {
  VDTraceNS::CScope ts("CVDAnyBlob::Encode");
  platform::ICrypt& crypt = plat.Crypt();
  DWORD cb = 0;
  if (!crypt.CryptEncodeObject(kEncoding, m_structType, info, nullptr, &cb))
    Raise(ts, "CryptEncodeObject", CodecError(plat));
  std::vector<BYTE> der(cb);
  if (!crypt.CryptEncodeObject(kEncoding, m_structType, info, der.data(), &cb))
    Raise(ts, "CryptEncodeObject", CodecError(plat));
  der.resize(cb);
  m_bytes = std::move(der);
}

void CVDAnyBlob::DecodeTo(platform::IPlatform& plat, CDecoded& out) const {
  VDTraceNS::CScope ts("CVDAnyBlob::Decode");
  platform::ICrypt& crypt = plat.Crypt();
  // One call where the inline buffer will do; a larger need is reported with
  // ERROR_MORE_DATA and the size, and decoded again on the heap.
  DWORD cb = sizeof(out.m_local);
  if (crypt.CryptDecodeObject(kEncoding, m_structType, Data(), Size(), 0, out.m_local, &cb)) return;
  if (plat.Kernel().GetLastError() != ERROR_MORE_DATA)
    Raise(ts, "CryptDecodeObject", CodecError(plat));
  constexpr DWORD kUnit = sizeof(unsigned long long);
  out.m_heap.assign(cb / kUnit + 1, 0);
  cb = static_cast<DWORD>(out.m_heap.size() * kUnit);
  if (!crypt.CryptDecodeObject(kEncoding, m_structType, Data(), Size(), 0, out.m_heap.data(), &cb))
    Raise(ts, "CryptDecodeObject", CodecError(plat));
}

// ---- CVDGUIDBlob -----------------------------------------------------------------------------

CVDGUIDBlob::CVDGUIDBlob(platform::IPlatform& plat, const GUID& value)
    : CVDAnyBlob(X509_OCTET_STRING, {}) {
  // The order of the text form: each field big-endian, then the last 8 bytes as they are.
  BYTE bytes[16] = {static_cast<BYTE>(value.Data1 >> 24), static_cast<BYTE>(value.Data1 >> 16),
                    static_cast<BYTE>(value.Data1 >> 8),  static_cast<BYTE>(value.Data1),
                    static_cast<BYTE>(value.Data2 >> 8),  static_cast<BYTE>(value.Data2),
                    static_cast<BYTE>(value.Data3 >> 8),  static_cast<BYTE>(value.Data3)};
  std::memcpy(bytes + 8, value.Data4, 8);
  CRYPT_DATA_BLOB blob{sizeof(bytes), bytes};
  EncodeFrom(plat, &blob);
}

GUID CVDGUIDBlob::Value(platform::IPlatform& plat) const {
  VDTraceNS::CScope ts("CVDGUIDBlob::Value");
  CDecoded decoded;
  DecodeTo(plat, decoded);
  const auto& blob = decoded.As<CRYPT_DATA_BLOB>();
  if (blob.cbData != 16) {
    ts.Msg("A GUID of %u bytes", static_cast<unsigned>(blob.cbData));
    Raise(ts, "Decode error", CRYPT_E_ASN1_CORRUPT);
  }
  const BYTE* b = blob.pbData;
  GUID g{};
  g.Data1 = (static_cast<DWORD>(b[0]) << 24) | (static_cast<DWORD>(b[1]) << 16) |
            (static_cast<DWORD>(b[2]) << 8) | b[3];
  g.Data2 = static_cast<WORD>((b[4] << 8) | b[5]);
  g.Data3 = static_cast<WORD>((b[6] << 8) | b[7]);
  std::memcpy(g.Data4, b + 8, 8);
  return g;
}

// ---- CVDWStrBlob -----------------------------------------------------------------------------

CVDWStrBlob::CVDWStrBlob(platform::IPlatform& plat, const std::wstring& value)
    : CVDAnyBlob(X509_ANY_STRING, {}) {
  CERT_NAME_VALUE v{};
  v.dwValueType = CERT_RDN_UNICODE_STRING;
  // A byte count, so an empty text stays empty (0 would ask the codec to measure it).
  v.Value.cbData = static_cast<DWORD>(value.size() * sizeof(WCHAR));
  v.Value.pbData = reinterpret_cast<BYTE*>(const_cast<wchar_t*>(value.data()));
  EncodeFrom(plat, &v);
}

std::wstring CVDWStrBlob::Value(platform::IPlatform& plat) const {
  VDTraceNS::CScope ts("CVDWStrBlob::Value");
  CDecoded decoded;
  DecodeTo(plat, decoded);
  const auto& v = decoded.As<CERT_NAME_VALUE>();
  // Value types 1 (encoded blob) and 2 (octet string) are no text.
  if (v.dwValueType < 3) {
    ts.Msg("Value type %u is no text", static_cast<unsigned>(v.dwValueType));
    Raise(ts, "Decode error", CRYPT_E_ASN1_CORRUPT);
  }
  constexpr DWORD kUniversal = 11, kBmp = 12, kUtf8 = 13;
  if (v.dwValueType == kUniversal || v.dwValueType == kBmp || v.dwValueType == kUtf8) {
    // The codec has turned these into the caller's WCHARs already.
    std::wstring text(v.Value.cbData / sizeof(WCHAR), L'\0');
    if (!text.empty()) std::memcpy(text.data(), v.Value.pbData, text.size() * sizeof(WCHAR));
    return text;
  }
  std::wstring text;
  text.reserve(v.Value.cbData);
  for (DWORD i = 0; i < v.Value.cbData; ++i)
    text.push_back(static_cast<wchar_t>(v.Value.pbData[i]));
  return text;
}

// ---- CVDULongBlob ----------------------------------------------------------------------------

CVDULongBlob::CVDULongBlob(platform::IPlatform& plat, ULONG value)
    : CVDAnyBlob(X509_MULTI_BYTE_UINT, {}) {
  BYTE le[4] = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8),
                static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 24)};
  CRYPT_INTEGER_BLOB blob{sizeof(le), le};
  EncodeFrom(plat, &blob);
}

BYTE CVDULongBlob::Key(platform::IPlatform& plat) const {
  CDecoded decoded;
  DecodeTo(plat, decoded);
  const auto& blob = decoded.As<CRYPT_INTEGER_BLOB>();
  return blob.cbData == 1 ? blob.pbData[0] : 0;
}

// ---- CVDIntBlob ------------------------------------------------------------------------------

CVDIntBlob::CVDIntBlob(platform::IPlatform& plat, LONG value)
    : CVDAnyBlob(X509_MULTI_BYTE_INTEGER, {}) {
  const auto u = static_cast<DWORD>(value);
  BYTE le[4] = {static_cast<BYTE>(u), static_cast<BYTE>(u >> 8), static_cast<BYTE>(u >> 16),
                static_cast<BYTE>(u >> 24)};
  CRYPT_INTEGER_BLOB blob{sizeof(le), le};
  EncodeFrom(plat, &blob);
}

LONG CVDIntBlob::Value(platform::IPlatform& plat) const {
  VDTraceNS::CScope ts("CVDIntBlob::Value");
  CDecoded decoded;
  DecodeTo(plat, decoded);
  const auto& blob = decoded.As<CRYPT_INTEGER_BLOB>();
  if (blob.cbData > 4) {
    ts.Msg("A number of %u bytes", static_cast<unsigned>(blob.cbData));
    Raise(ts, "Decode error", CRYPT_E_ASN1_LARGE);
  }
  if (blob.cbData == 0) return 0;
  // Little-endian two's complement of 1 to 4 bytes, widened with its sign.
  DWORD u = (blob.pbData[blob.cbData - 1] & 0x80) ? 0xFFFFFFFFu : 0;
  for (DWORD i = 0; i < blob.cbData; ++i) {
    u &= ~(0xFFu << (8 * i));
    u |= static_cast<DWORD>(blob.pbData[i]) << (8 * i);
  }
  return static_cast<LONG>(u);
}

// ---- CVDSequenceBlob -------------------------------------------------------------------------

CVDSequenceBlob CVDSequenceBlob::Decode(platform::IPlatform& plat, const CCryptBlob& der) {
  const CVDAnyBlob reader(X509_SEQUENCE_OF_ANY, der);
  CVDAnyBlob::CDecoded decoded;
  reader.DecodeTo(plat, decoded);
  const auto& seq = decoded.As<CRYPT_SEQUENCE_OF_ANY>();
  CVDSequenceBlob out;
  out.m_elements.reserve(seq.cValue);
  for (DWORD i = 0; i < seq.cValue; ++i)
    out.m_elements.emplace_back(seq.rgValue[i].pbData, seq.rgValue[i].cbData);
  return out;
}

CCryptBlob CVDSequenceBlob::Encode(platform::IPlatform& plat) const {
  std::vector<CRYPT_DER_BLOB> values;
  values.reserve(m_elements.size());
  for (const auto& e : m_elements) values.push_back({e.Size(), const_cast<BYTE*>(e.Data())});
  CRYPT_SEQUENCE_OF_ANY seq{static_cast<DWORD>(values.size()), values.data()};
  CVDAnyBlob writer(X509_SEQUENCE_OF_ANY, {});
  writer.EncodeFrom(plat, &seq);
  return writer;
}

const CCryptBlob& CVDSequenceBlob::Next() {
  if (m_next >= m_elements.size()) {
    VDTraceNS::CScope ts("CVDSequenceBlob::Next");
    ts.Msg("Element %u of a sequence of %u", static_cast<unsigned>(m_next),
           static_cast<unsigned>(m_elements.size()));
    Raise(ts, "Decode error", CRYPT_E_ASN1_EOD);
  }
  return m_elements[m_next++];
}
