#include "auth/credential.h"

#include "auth/protected_data.h"
#include "support/trace/trace.h"

namespace {

struct CredentialTypeInfo {
  ULONGLONG bit;
  const wchar_t* text;
  const GUID* token;  // null: none registered
};

constexpr CredentialTypeInfo kCredentialTypes[] = {
    {VDFP_CRED_PASSWORD, L"Password", &VDFP_TOKEN_PASSWORD},
    {VDFP_CRED_FINGERPRINT, L"Fingerprint", &VDFP_TOKEN_FINGERPRINT},
    {VDFP_CRED_SMARTCARD, L"Smartcard", &VDFP_TOKEN_SMARTCARD},
    {VDFP_CRED_SPAREKEY, L"SpareKey", &VDFP_TOKEN_SPAREKEY},
    {VDFP_CRED_FACE, L"Face", nullptr},
    {VDFP_CRED_CONTACTLESS, L"Contactless card", &VDFP_TOKEN_CONTACTLESS},
    {VDFP_CRED_RECOVERY_PASSWORD, L"Recovery password", &VDFP_TOKEN_RECOVERY_PASSWORD},
    {VDFP_CRED_PIN, L"PIN code", &VDFP_TOKEN_PIN},
    {VDFP_CRED_PROXIMITY, L"Proximity card", &VDFP_TOKEN_PROXIMITY},
    {VDFP_CRED_BLUETOOTH, L"BlueTooth", &VDFP_TOKEN_BLUETOOTH},
    {VDFP_CRED_PALM, L"Palm", &VDFP_TOKEN_PALM},
    {VDFP_CRED_RSA_TOKEN, L"RSA token", &VDFP_TOKEN_RSA},
    {VDFP_CRED_VIRTUAL_SMARTCARD, L"Virtual Smartcard", &VDFP_TOKEN_VIRTUAL_SMARTCARD},
    {VDFP_CRED_U2F, L"U2F", &VDFP_TOKEN_U2F},
};

const CredentialTypeInfo* Find(ULONGLONG type) {
  for (const auto& t : kCredentialTypes)
    if (t.bit == type) return &t;
  return nullptr;
}

constexpr DWORD kFUSRecordVersion = 2;

void PutU16(std::vector<BYTE>& out, unsigned unit) {
  out.push_back(static_cast<BYTE>(unit & 0xFF));
  out.push_back(static_cast<BYTE>((unit >> 8) & 0xFF));
}

void PutU32(std::vector<BYTE>& out, DWORD value) {
  PutU16(out, value & 0xFFFF);
  PutU16(out, value >> 16);
}

// The record's flags: the library protects for the machine's system generation.
DWORD ProtectFlags(platform::IKernel& kernel) {
  OSVERSIONINFOEXW info{};
  info.dwOSVersionInfoSize = sizeof(info);
  // A system that cannot tell its version is a current one: every supported system is 6.0+.
  if (!kernel.GetVersionExW(&info)) return VDFP_PROTECT_FLAGS_VISTA;
  return info.dwMajorVersion >= 6 ? VDFP_PROTECT_FLAGS_VISTA : 0;
}

HRESULT WriteFUSSlot(CVDFPApi& api, const std::vector<BYTE>& record) {
  const VDFP_DATA_BLOB entropy = VDProtectedDataEntropy();
  // The library only reads the data.
  const VDFP_DATA_BLOB data{static_cast<DWORD>(record.size()),
                            record.empty() ? nullptr : const_cast<BYTE*>(record.data())};
  return api.VDFPWriteProtectedData(kVDFusDataSlot, &entropy, ProtectFlags(api.Platform().Kernel()),
                                    &data);
}

}  // namespace

CCredential::CCredential(ULONGLONG type, DWORD data, LONG pendingAction)
    : m_uType(type),
      m_tokenType(TokenTypeOf(type)),
      m_dwData(data),
      m_nPendingAction(pendingAction) {
  VDTraceNS::CScope ts("CCredential::CCredential");
  ts.Msg("%ls", CredentialTypeName(type));
}

const wchar_t* CCredential::CredentialTypeName(ULONGLONG type) {
  // Exact matches only, so any of the upper 32 bits or a second bit gives "Unknown".
  const CredentialTypeInfo* t = Find(type);
  return t ? t->text : L"Unknown";
}

GUID CCredential::TokenTypeOf(ULONGLONG type) {
  const CredentialTypeInfo* t = Find(type);
  return t && t->token ? *t->token : GUID{};
}

const wchar_t* CCredential::CardTypeName(DWORD cardType) {
  switch (cardType) {
    case VD_CARD_SMARTCARD:
      return L"Smartcard";
    case VD_CARD_CONTACTLESS:
      return L"Contactless";
    case VD_CARD_PROXIMITY:
      return L"Proximity";
    case VD_CARD_NFC:
      return L"NFC";
    default:
      return L"Unknown";
  }
}

ULONGLONG CCredential::CardTypeToCredential(DWORD cardType) {
  switch (cardType) {
    case VD_CARD_SMARTCARD:
      return VDFP_CRED_SMARTCARD;
    case VD_CARD_CONTACTLESS:
    case VD_CARD_NFC:  // an NFC tag is read as a contactless card
      return VDFP_CRED_CONTACTLESS;
    case VD_CARD_PROXIMITY:
      return VDFP_CRED_PROXIMITY;
    default:
      return 0;
  }
}

std::vector<BYTE> CCredential::FUSRecord(const wchar_t* accountName) const {
  std::vector<BYTE> record;
  PutU32(record, kFUSRecordVersion);
  PutU32(record, m_dwData);
  // UTF-16 whatever the width of wchar_t: the logon side reads Windows' wide strings.
  for (const wchar_t* p = accountName; p && *p; ++p) {
    const auto c = static_cast<unsigned long>(*p);
    if (c > 0xFFFF && c <= 0x10FFFF) {
      PutU16(record, 0xD800 + ((c - 0x10000) >> 10));
      PutU16(record, 0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      PutU16(record, c > 0xFFFF ? 0xFFFD : c);  // no such character: the replacement
    }
  }
  PutU16(record, 0);
  return record;
}

HRESULT CCredential::ShareFUSData(CVDFPApi& api, const wchar_t* accountName) const {
  VDTraceNS::CScope ts("CCredential::ShareFUSData");
  const HRESULT hr = WriteFUSSlot(api, FUSRecord(accountName));
  ts.Msg("VDFPWriteProtectedData: 0x%X", static_cast<unsigned>(hr));
  return ts.Result("VDFPWriteProtectedData", hr);
}

HRESULT CCredential::ClearFUSData(CVDFPApi& api) {
  VDTraceNS::CScope ts("CCredential::ClearFUSData");
  const HRESULT hr = WriteFUSSlot(api, {});
  ts.Msg("VDFPWriteProtectedData: 0x%X", static_cast<unsigned>(hr));
  return ts.Result("VDFPWriteProtectedData", hr);
}
