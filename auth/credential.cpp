#include "auth/credential.h"

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
