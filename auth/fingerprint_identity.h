// What a completed fingerprint capture says about a person: whether it is a given user's
// finger, whose finger it is, and an authentication operation proving it to the host.
//
//   CCredential finger(VDFP_CRED_FINGERPRINT, capture, -1);
//   if (!CFingerprintIdentity::VerifyUser(api, user, finger))
//     user = CFingerprintIdentity::IdentifyUser(api, finger);          // the empty user: nobody
//   CVDFPAuthentication op(api, CFingerprintIdentity::Authenticate(api, user, finger));
//
// Window thread. Every library buffer and reply is released on every path; the caller owns
// the handle Authenticate returns.
#pragma once

#include <vector>

#include "auth/credential.h"
#include "auth/user.h"
#include "support/vdfp/vdfp_api.h"

class CFingerprintIdentity {
 public:
  // True exactly when the library says the capture is `user`'s finger (S_OK alone).
  static bool VerifyUser(CVDFPApi& api, const CUser& user, const CCredential& credential);
  // The owner of the finger, or the empty user (traced with 0x80070525 when nobody matches,
  // 0x80070523 when the library's name makes no valid user).
  static CUser IdentifyUser(CVDFPApi& api, const CCredential& credential);
  // An authentication operation for `user` proven by the capture, or null. A reply that is
  // not a sequence of exactly two unsigned INTEGERs fails (the operation is destroyed).
  static HVDFPAUTHENTICATION Authenticate(CVDFPApi& api, const CUser& user,
                                          const CCredential& credential);

  // The DER request of a fingerprint authentication: SEQUENCE { INTEGER 1, INTEGER capture }
  // through the platform's encoder. Empty when encoding fails (the reason is traced).
  static std::vector<BYTE> EncodeRequest(platform::ICrypt& crypt, DWORD capture);
  // True when `reply` is a DER sequence of exactly two unsigned INTEGERs.
  static bool IsValidReply(platform::ICrypt& crypt, const BYTE* reply, DWORD size);
};
