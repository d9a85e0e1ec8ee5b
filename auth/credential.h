// The credential that started an action: its type (one bit of the credential-type mask),
// the token GUID the host registers for that type, the data the reader handed over and the
// quick action a contactless tap left pending.
//
//   CCredential finger(VDFP_CRED_FINGERPRINT, capture, -1);   // traces "Fingerprint"
//   CCredential card(CCredential::CardTypeToCredential(cardType), 0, 0);
//   finger.ShareFUSData(api, L"CORP\\alice");   // before the session is handed over
//   CCredential::ClearFUSData(api);                // the hand-over failed
#pragma once

#include <vector>

#include "support/vdfp/vdfp_api.h"
#include "support/vdfp/vdfpapi_types.h"

// Card types the smart-card library reports.
enum VD_CARD_TYPE : DWORD {
  VD_CARD_SMARTCARD = 1,
  VD_CARD_CONTACTLESS = 2,
  VD_CARD_PROXIMITY = 4,
  VD_CARD_NFC = 8,
};

class CCredential {
 public:
  // Every field 0, the all-zero token GUID.
  CCredential() = default;
  // Traces the type's text under "CCredential::CCredential".
  CCredential(ULONGLONG type, DWORD data, LONG pendingAction);

  ULONGLONG Type() const { return m_uType; }
  const GUID& TokenType() const { return m_tokenType; }
  // A fingerprint's completed-capture value; 0 for cards.
  DWORD Data() const { return m_dwData; }
  // -1 for fingerprints, 0 for cards, or the quick action a contactless tap completes on
  // card removal.
  LONG PendingAction() const { return m_nPendingAction; }
  void SetPendingAction(LONG action) { m_nPendingAction = action; }

  // The fast-user-switch record for the logon side, little-endian: version 2, this
  // credential's data, then the account name in UTF-16 with its NUL (a null name is a single
  // NUL): 8 + 2 x (n + 1) bytes.
  std::vector<BYTE> FUSRecord(const wchar_t* accountName) const;
  // Writes the record to the protected-data slot "VD_FUS_DATA" (flags 2 on Windows 6.0 and
  // later, 0 before). Traces the library's answer.
  HRESULT ShareFUSData(CVDFPApi& api, const wchar_t* accountName) const;
  // Empties the slot, so that no stale record is handed to the next logon.
  static HRESULT ClearFUSData(CVDFPApi& api);

  // "Password", "Fingerprint", ...; "Unknown" for 0, combinations and anything not listed.
  static const wchar_t* CredentialTypeName(ULONGLONG type);
  // The token GUID of a single credential type; all zero for Face and anything unknown.
  static GUID TokenTypeOf(ULONGLONG type);
  // "Smartcard", "Contactless", "Proximity", "NFC", "Unknown".
  static const wchar_t* CardTypeName(DWORD cardType);
  // The credential type a card of that kind stands for; 0 for unknown kinds.
  static ULONGLONG CardTypeToCredential(DWORD cardType);

 private:
  ULONGLONG m_uType = 0;
  GUID m_tokenType{};
  DWORD m_dwData = 0;
  LONG m_nPendingAction = 0;
};
