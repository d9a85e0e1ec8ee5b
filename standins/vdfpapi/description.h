// What the stand-in authentication host knows about its machine: accounts and their names,
// token types and who enrolled what, logon policies, readers, authentication domains,
// protected-data slots, policy settings and how the library's dialogs end.
//
// Read from JSON (every member optional; absent members keep the defaults shown; numbers are
// whole and in their field's range, array policy values nest at most 64 levels):
//
//   {
//     "host": {"running": true, "asyncReplyDelayMs": 0},
//     "computerName": "VDSIM-PC", "dnsDomain": "vdsim.local",
//     "tokens": ["Password", "Fingerprint", {"name": "Badge", "guid": "{...}", "mask": 4096}],
//     "users": [{"name": "alice", "sid": "S-1-5-21-...-1001", "session": 1,
//                "names": {"Display": "Alice Anders", "VD": "alice"},
//                "enrolled": ["Password", "Fingerprint"],
//                "policy": ["Password+Fingerprint", "0x4"]}],
//     "defaultPolicy": ["Password", "Fingerprint"],
//     "readers": [{"name": "Sim Fingerprint Reader", "id": "{...}", "connected": true,
//                  "reenroll": ["alice"]}],
//     "domains": [{"name": "OS", "state": 1}],
//     "protectedData": [{"slot": "VD_KIOSK_USERNAME", "hex": "03000000...",
//                        "entropyHex": "..."}],
//     "policySettings": [{"name": "CredentialsSelfEnrollment", "type": 4, "value": 1,
//                         "status": 0}],
//     "dialogs": {"identify": "alice" | null (cancelled), "verify": true,
//                 "identifyOpenMs": 300}
//   }
//
// A credential mask is a number, a "0x" hex string, or credential names joined by '+'
// ("Password+Fingerprint"). Name formats are keyed by their names (NETBIOS, DNS, SAM, Simple,
// UID, Principal, Display, SID, VD) or numbers; names not given are derived from the short
// name: NETBIOS and SAM "<computer>\<name>", DNS "<dnsDomain>\<name>", Simple "<name>", UID a
// GUID from the SID, Principal "<name>@<dnsDomain>", Display "<name>"; VD only when given.
// A seeded slot without "entropyHex" opens with any entropy. A user without "sid" gets the SID
// of the session's user when installed on a simulated machine whose session `session` is
// signed in by the same name; otherwise "S-1-5-21-3623811015-3361044348-30300820-<1000+session>"
// (<1100+index> for users signed in nowhere).
#pragma once

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/vdfp/vdfpapi_types.h"

namespace vdfp_standin {

struct TokenTypeDesc {
  std::wstring name;
  GUID guid{};
  ULONGLONG mask = 0;
  DWORD maxEnrollments = 0;
};

struct UserDesc {
  std::wstring name;  // short name ("alice")
  std::wstring sid;
  bool sidGiven = false;                // false: derived, and the simulated machine may put its own
  DWORD session = 0;                    // the session the user is signed in to, 0: none
  std::map<DWORD, std::wstring> names;  // by name format, complete after parsing (8 = sid)
  ULONGLONG enrolled = 0;
  std::optional<std::vector<ULONGLONG>> policy;  // rules; absent: the default policy
};

struct ReaderDesc {
  std::wstring name;
  GUID id{};
  ULONGLONG mask = VDFP_CRED_FINGERPRINT;
  bool connected = true;
  std::vector<std::wstring> reenroll;  // users whose enrollment on it must be redone
};

struct DomainDesc {
  std::wstring name;
  DWORD state = VDFP_AUTH_DOMAIN_ACTIVE;
};

struct SlotDesc {
  std::wstring slot;
  std::vector<BYTE> data;
  std::optional<std::vector<BYTE>> entropy;  // absent: any entropy opens it
  DWORD flags = 0;
};

struct PolicyValue {
  DWORD type = VDVAR_EMPTY;
  ULONGLONG number = 0;  // bool, 32- and 64-bit types
  std::wstring text;     // VDVAR_STRING
  std::vector<BYTE> blob;
  std::vector<PolicyValue> items;  // VDVAR_ARRAY
};

struct PolicySettingDesc {
  std::wstring name;
  HRESULT status = S_OK;  // S_OK overrides the registry, S_FALSE is a default
  PolicyValue value;
};

struct DialogDesc {
  // The identification dialog identifies this user; empty: the user cancels.
  std::wstring identifyUser;
  // The verification dialog accepts (else the user cancels).
  bool verifyAccepts = true;
};

struct VdfpDescription {
  bool hostRunning = true;  // running when installed; else until started
  ULONGLONG asyncReplyDelayMs = 0;
  std::wstring computerName = L"VDSIM-PC";
  std::wstring dnsDomain = L"vdsim.local";
  std::vector<TokenTypeDesc> tokens;
  std::vector<UserDesc> users;
  std::vector<ULONGLONG> defaultPolicy;
  std::vector<ReaderDesc> readers;
  std::vector<DomainDesc> domains;
  std::vector<SlotDesc> protectedData;
  std::vector<PolicySettingDesc> policySettings;
  DialogDesc dialogs;
  // "dialogs": {"identifyOpenMs"}: how long the identification dialog stays open, running the
  // caller's messages, before it ends; absent: the binding's choice (at once on the simulated
  // machine, a short while in the Windows library).
  std::optional<ULONGLONG> identifyOpenMs;

  // One signed-in user "alice" of session 1 with a fingerprint and a password enrolled,
  // the "OS" domain active, one connected fingerprint reader, a policy of password OR
  // fingerprint.
  static VdfpDescription Default();
  // Throws DescriptionError on malformed input. Members absent from the JSON take the
  // defaults of Default() only where the JSON does not say otherwise: an empty document is
  // the default machine.
  static VdfpDescription FromJson(const std::string& json);
  static VdfpDescription FromFile(const std::string& path);
};

class DescriptionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The largest description read from a file: far above any real machine's, small enough that
// a wrong name (a device, a log file) is refused rather than read without end.
constexpr std::size_t kMaxDescriptionBytes = 4u << 20;
constexpr const char* kMaxDescriptionSize = "4 MiB";
// A description file's text; throws DescriptionError naming the file when it cannot be read
// or is larger than kMaxDescriptionBytes.
std::string ReadDescriptionText(const std::string& path);

// ---- Helpers shared by the stand-in ----
// The user SIDs the simulated sessions use: "S-1-5-21-3623811015-3361044348-30300820-<1000+n>".
std::wstring SessionUserSid(DWORD session);
// The well-known credential types: text and token GUID of a one-bit mask, or of a name.
const TokenTypeDesc* KnownTokenType(ULONGLONG mask);
const TokenTypeDesc* KnownTokenType(const std::wstring& name);
// The name format's number from its text ("SAM", "8", ...), 0 when unknown.
DWORD NameFormatFromText(const std::wstring& text);
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in both directions.
std::wstring GuidToString(const GUID& g);
std::optional<GUID> GuidFromString(const std::wstring& s);
std::wstring Utf8ToWide(const std::string& s);
std::string WideToUtf8(const std::wstring& s);
bool EqualNoCase(const std::wstring& a, const std::wstring& b);
// Fills the names a user has not been given (see above).
void CompleteUserNames(UserDesc& user, const std::wstring& computer, const std::wstring& dns);

}  // namespace vdfp_standin
