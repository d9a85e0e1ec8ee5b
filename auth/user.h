// One Windows account, named by its SID and/or by an account name in one of the library's
// name formats. What is missing is translated through the authentication library when first
// asked for and kept; a failed translation leaves the field empty and is tried again at the
// next call. The empty user (no SID, no name, format 0) is the "no user" every failed lookup
// gives.
//
//   CUser user = CUser::FromWindows(plat, api);       // "VDSIM-PC\alice", SAM (3)
//   if (user.IsValid()) sid = user.Sid();             // asks the library once
//   if (user != kioskUser) ...                         // SIDs compared without case
//
// Every operation runs on the main window's thread; no exception leaves the type.
#pragma once

#include <string>

#include "platform/platform.h"
#include "support/vdfp/vdfp_api.h"

class CUser {
 public:
  // The empty user.
  CUser() = default;
  // A user named in a format; traces "User <text form>", which resolves the SID.
  CUser(CVDFPApi& api, std::wstring accountName, DWORD nameFormat);
  // A user known by SID; `nameFormat` is the form its account name is wanted in.
  static CUser FromSid(CVDFPApi& api, std::wstring sid, DWORD nameFormat = VDFP_NAME_NONE);

  // The signed-in Windows user, SAM-compatible (format 3).
  static CUser FromWindows(platform::IPlatform& plat, CVDFPApi& api);
  // The kiosk user recorded for this session, when kiosk logon is enabled.
  static CUser FromKiosk(platform::IPlatform& plat, CVDFPApi& api, bool kioskLogonEnabled);
  // The user of an authentication operation.
  static CUser FromOperation(CVDFPApi& api, HVDFPAUTHENTICATION operation);
  // The person the kiosk logon component identified (its protected-data record).
  static CUser FromKioskSharedMemory(CVDFPApi& api);

  // A SID, or an account name with a format.
  bool IsValid() const;
  // The SID, translated from the account name on first need. May be empty.
  std::wstring Sid() const;
  // The account name, translated from the SID into this user's format when it has none.
  std::wstring AccountName() const;
  DWORD NameFormat() const { return m_dwNameFormat; }
  // "'<account name>' (<format>), SID=<sid>".
  std::wstring ToString() const;

  // Users differ unless the left one's SID matches the right one's (without case); a left
  // user without SID compares its name (without case) and format; an invalid left user
  // differs from everything, itself included. "Without case" is Windows' ordinal match
  // (CompareStringOrdinal ignoring case), in every script.
  bool operator!=(const CUser& other) const;
  bool operator==(const CUser& other) const { return !(*this != other); }

  // The trace text of a name format: "NETBIOS" ... "VD", "Unknown".
  static const wchar_t* NameFormatName(DWORD nameFormat);

 private:
  bool HasUsableName() const { return !m_sAccountName.empty() && m_dwNameFormat != 0; }

  CVDFPApi* m_api = nullptr;  // the process's library; null for the empty user
  // Filled lazily by Sid() and AccountName().
  mutable std::wstring m_sSid;
  mutable std::wstring m_sAccountName;
  DWORD m_dwNameFormat = VDFP_NAME_NONE;
};
