#include "auth/fingerprint_identity.h"

#include "support/trace/trace.h"

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr HRESULT kNoSuchUser = HRESULT_FROM_WIN32(1317L);          // ERROR_NO_SUCH_USER
constexpr HRESULT kInvalidAccountName = HRESULT_FROM_WIN32(1315L);  // ERROR_INVALID_ACCOUNT_NAME
constexpr HRESULT kNotAuthenticated = HRESULT_FROM_WIN32(1244L);    // ERROR_NOT_AUTHENTICATED

HRESULT LastCryptError(platform::IPlatform& plat) {
  const DWORD e = plat.Kernel().GetLastError();
  // The codec reports CRYPT_E_ codes as they are, Win32 errors as numbers.
  if (static_cast<HRESULT>(e) < 0) return static_cast<HRESULT>(e);
  return e ? HRESULT_FROM_WIN32(e) : E_FAIL;
}

// Two-call encoding: the size, then the bytes. Empty on failure.
std::vector<BYTE> Encode(platform::ICrypt& crypt, LPCSTR type, const void* info) {
  DWORD cb = 0;
  if (!crypt.CryptEncodeObject(kEncoding, type, info, nullptr, &cb) || cb == 0) return {};
  std::vector<BYTE> out(cb);
  if (!crypt.CryptEncodeObject(kEncoding, type, info, out.data(), &cb)) return {};
  out.resize(cb);
  return out;
}

// Two-call decoding into an aligned buffer (decoded structures point into it).
bool Decode(platform::ICrypt& crypt, LPCSTR type, const BYTE* der, DWORD cb,
            std::vector<ULONGLONG>& storage) {
  DWORD size = 0;
  if (!crypt.CryptDecodeObject(kEncoding, type, der, cb, 0, nullptr, &size) || size == 0)
    return false;
  storage.assign((size + sizeof(ULONGLONG) - 1) / sizeof(ULONGLONG), 0);
  return crypt.CryptDecodeObject(kEncoding, type, der, cb, 0, storage.data(), &size) != FALSE;
}

}  // namespace

bool CFingerprintIdentity::VerifyUser(CVDFPApi& api, const CUser& user,
                                      const CCredential& credential) {
  VDTraceNS::CScope ts("CFingerprintHandler<class CVdAgentMain>::VerifyUser");
  if (!user.IsValid()) return false;
  ts.Msg("Verifying user = %ls", user.ToString().c_str());
  const std::wstring name = user.AccountName();
  const HRESULT hr = api.VDFPIdentifyUser(credential.Data(), name.c_str(), user.NameFormat());
  ts.Result("VDFPIdentifyUser", hr);
  return hr == S_OK;
}

CUser CFingerprintIdentity::IdentifyUser(CVDFPApi& api, const CCredential& credential) {
  VDTraceNS::CScope ts("CFingerprintHandler<class CVdAgentMain>::IdentifyUser");
  CVDFPString name(api);
  DWORD format = VDFP_NAME_NONE;
  const HRESULT hr = api.VDFPIdentify(credential.Data(), name.put(), &format);
  ts.Result("VDFPIdentify", hr);
  if (hr != S_OK || !name) {
    ts.Result("No such user", kNoSuchUser);
    return {};
  }
  CUser user(api, name.get(), format);
  if (!user.IsValid()) {
    ts.Result("Invalid account name", kInvalidAccountName);
    return {};
  }
  return user;
}

std::vector<BYTE> CFingerprintIdentity::EncodeRequest(platform::ICrypt& crypt, DWORD capture) {
  // Each value as a 4-byte little-endian unsigned integer, as CRYPT32 keeps them.
  const DWORD values[2] = {1, capture};
  std::vector<BYTE> elements[2];
  for (int i = 0; i < 2; ++i) {
    BYTE le[4] = {static_cast<BYTE>(values[i]), static_cast<BYTE>(values[i] >> 8),
                  static_cast<BYTE>(values[i] >> 16), static_cast<BYTE>(values[i] >> 24)};
    CRYPT_UINT_BLOB blob{sizeof(le), le};
    elements[i] = Encode(crypt, X509_MULTI_BYTE_UINT, &blob);
    if (elements[i].empty()) return {};
  }
  CRYPT_DER_BLOB der[2] = {{static_cast<DWORD>(elements[0].size()), elements[0].data()},
                           {static_cast<DWORD>(elements[1].size()), elements[1].data()}};
  CRYPT_SEQUENCE_OF_ANY seq{2, der};
  return Encode(crypt, X509_SEQUENCE_OF_ANY, &seq);
}

bool CFingerprintIdentity::IsValidReply(platform::ICrypt& crypt, const BYTE* reply, DWORD size) {
  if (!reply || size == 0) return false;
  std::vector<ULONGLONG> seqStorage;
  if (!Decode(crypt, X509_SEQUENCE_OF_ANY, reply, size, seqStorage)) return false;
  const auto* seq = reinterpret_cast<const CRYPT_SEQUENCE_OF_ANY*>(seqStorage.data());
  if (seq->cValue != 2 || !seq->rgValue) return false;
  for (DWORD i = 0; i < seq->cValue; ++i) {
    const CRYPT_DER_BLOB& e = seq->rgValue[i];
    // An INTEGER whose first content byte keeps the sign bit clear: not negative. The
    // decoder of unsigned values would accept any INTEGER, so the tag is checked here too.
    if (!e.pbData || e.cbData < 3 || e.pbData[0] != 0x02 || (e.pbData[2] & 0x80)) return false;
    std::vector<ULONGLONG> value;
    if (!Decode(crypt, X509_MULTI_BYTE_UINT, e.pbData, e.cbData, value)) return false;
  }
  return true;
}

HVDFPAUTHENTICATION CFingerprintIdentity::Authenticate(CVDFPApi& api, const CUser& user,
                                                       const CCredential& credential) {
  VDTraceNS::CScope ts("CFingerprintHandler<class CVdAgentMain>::Authenticate");
  HRESULT hr = kNotAuthenticated;
  if (!user.IsValid()) {
    ts.Result("Invalid user", kInvalidAccountName);
    return nullptr;
  }
  CVDFPAuthentication operation(api);
  {
    VDTraceNS::CScope cs("CVDFPApiAuthentication::Create");
    const std::wstring name = user.AccountName();
    cs.Msg("User = %ls (%d)", name.c_str(), static_cast<int>(user.NameFormat()));
    hr = api.VDFPCreateAuthentication(name.c_str(), user.NameFormat(), operation.put());
    cs.Result("VDFPCreateAuthentication", hr);
  }
  if (FAILED(hr) || !operation) return nullptr;

  platform::IPlatform& plat = api.Platform();
  const std::vector<BYTE> request = EncodeRequest(plat.Crypt(), credential.Data());
  if (request.empty()) {
    ts.Result("CryptEncodeObject", LastCryptError(plat));
    return nullptr;  // the operation is destroyed on the way out
  }
  CTokenAuthenticateReply reply;
  hr = api.VDFPTokenAuthenticate(CCredential::TokenTypeOf(VDFP_CRED_FINGERPRINT), operation.get(),
                                 static_cast<DWORD>(request.size()), request.data(),
                                 reply.putSize(), reply.put());
  ts.Result("VDFPTokenAuthenticate", hr);
  if (FAILED(hr)) return nullptr;
  if (!IsValidReply(plat.Crypt(), reply.get(), reply.size())) {
    ts.Result("CryptDecodeObject", CRYPT_E_ASN1_CORRUPT);
    return nullptr;
  }
  return operation.release();
}
