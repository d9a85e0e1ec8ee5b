// libFuzzer target for the simulated machine's DER decoder: any bytes decode as a sequence of
// any or fail cleanly, never read outside the input, and a decoded sequence encodes back to
// the same content; each element decoded as an unsigned integer encodes back to its value.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/sim/der_codec.h"

namespace {

constexpr DWORD kAsn = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

// Decodes into a buffer of exactly the size asked for (so ASan sees a write past it; new[]
// aligns it for the structure), after the size call; returns the last-error code.
DWORD Decode(LPCSTR type, const BYTE* p, DWORD n, std::vector<BYTE>* out) {
  DWORD cb = 0;
  if (const DWORD err = sim::der::Decode(kAsn, type, p, n, 0, nullptr, &cb)) return err;
  out->assign(cb, 0);
  DWORD shortBy1 = cb - 1;
  Check(sim::der::Decode(kAsn, type, p, n, 0, out->data(), &shortBy1) == ERROR_MORE_DATA);
  Check(shortBy1 == cb);
  DWORD got = cb;
  Check(sim::der::Decode(kAsn, type, p, n, 0, out->data(), &got) == 0);
  Check(got == cb);
  return 0;
}

std::vector<BYTE> Encode(LPCSTR type, const void* info) {
  DWORD cb = 0;
  Check(sim::der::Encode(kAsn, type, info, nullptr, &cb) == 0);
  std::vector<BYTE> out(cb);
  Check(sim::der::Encode(kAsn, type, info, out.data(), &cb) == 0);
  Check(cb == out.size());
  return out;
}

// The little-endian value without its high zero bytes.
std::vector<BYTE> Value(const CRYPT_INTEGER_BLOB& b) {
  std::vector<BYTE> v(b.pbData, b.pbData + b.cbData);
  while (!v.empty() && v.back() == 0) v.pop_back();
  return v;
}

void CheckUnsigned(const CRYPT_DER_BLOB& element) {
  std::vector<BYTE> first;
  if (Decode(X509_MULTI_BYTE_UINT, element.pbData, element.cbData, &first)) return;
  const auto& value = *reinterpret_cast<const CRYPT_INTEGER_BLOB*>(first.data());
  const std::vector<BYTE> der = Encode(X509_MULTI_BYTE_UINT, &value);
  std::vector<BYTE> again;
  Check(Decode(X509_MULTI_BYTE_UINT, der.data(), static_cast<DWORD>(der.size()), &again) == 0);
  Check(Value(*reinterpret_cast<const CRYPT_INTEGER_BLOB*>(again.data())) == Value(value));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 0xFFFF) return 0;
  // A copy of exactly the input's size, so that a read past it is caught.
  const std::vector<BYTE> input(data, data + size);
  const auto n = static_cast<DWORD>(size);
  std::vector<BYTE> decoded;
  if (Decode(X509_SEQUENCE_OF_ANY, input.data(), n, &decoded)) return 0;

  const auto& seq = *reinterpret_cast<const CRYPT_SEQUENCE_OF_ANY*>(decoded.data());
  sim::der::Header h;
  Check(sim::der::ReadHeader(input.data(), n, &h) == 0);
  // The elements, one after the other, are the sequence's content.
  std::vector<BYTE> joined;
  for (DWORD i = 0; i < seq.cValue; ++i) {
    joined.insert(joined.end(), seq.rgValue[i].pbData,
                  seq.rgValue[i].pbData + seq.rgValue[i].cbData);
    CheckUnsigned(seq.rgValue[i]);
  }
  const BYTE* content = input.data() + h.headerLength;
  Check(joined == std::vector<BYTE>(content, content + h.contentLength));

  // Encoded again it has the same content under a minimal header, and decodes the same.
  const std::vector<BYTE> der = Encode(X509_SEQUENCE_OF_ANY, &seq);
  sim::der::Header h2;
  Check(sim::der::ReadHeader(der.data(), static_cast<DWORD>(der.size()), &h2) == 0);
  Check(h2.headerLength + h2.contentLength == der.size());
  Check(std::vector<BYTE>(der.begin() + h2.headerLength, der.end()) == joined);
  if (h.headerLength == h2.headerLength) {
    Check(std::memcmp(der.data(), input.data(), der.size()) == 0);
  }
  std::vector<BYTE> again;
  Check(Decode(X509_SEQUENCE_OF_ANY, der.data(), static_cast<DWORD>(der.size()), &again) == 0);
  Check(reinterpret_cast<const CRYPT_SEQUENCE_OF_ANY*>(again.data())->cValue == seq.cValue);
  return 0;
}
