#include "standins/vdfpapi/description.h"

#include <cctype>
#include <climits>
#include <cwchar>
#include <fstream>
#include <nlohmann/json.hpp>

namespace vdfp_standin {

namespace {

using nlohmann::json;

const std::vector<TokenTypeDesc>& KnownTokens() {
  static const std::vector<TokenTypeDesc> kTokens = {
      {L"Password", VDFP_TOKEN_PASSWORD, VDFP_CRED_PASSWORD, 0},
      {L"Fingerprint", VDFP_TOKEN_FINGERPRINT, VDFP_CRED_FINGERPRINT, 10},
      {L"Smartcard", VDFP_TOKEN_SMARTCARD, VDFP_CRED_SMARTCARD, 0},
      {L"SpareKey", VDFP_TOKEN_SPAREKEY, VDFP_CRED_SPAREKEY, 0},
      {L"Contactless card", VDFP_TOKEN_CONTACTLESS, VDFP_CRED_CONTACTLESS, 0},
      {L"Recovery password", VDFP_TOKEN_RECOVERY_PASSWORD, VDFP_CRED_RECOVERY_PASSWORD, 0},
      {L"PIN code", VDFP_TOKEN_PIN, VDFP_CRED_PIN, 0},
      {L"Proximity card", VDFP_TOKEN_PROXIMITY, VDFP_CRED_PROXIMITY, 0},
      {L"BlueTooth", VDFP_TOKEN_BLUETOOTH, VDFP_CRED_BLUETOOTH, 0},
      {L"Palm", VDFP_TOKEN_PALM, VDFP_CRED_PALM, 0},
      {L"RSA token", VDFP_TOKEN_RSA, VDFP_CRED_RSA_TOKEN, 0},
      {L"Virtual Smartcard", VDFP_TOKEN_VIRTUAL_SMARTCARD, VDFP_CRED_VIRTUAL_SMARTCARD, 0},
      {L"U2F", VDFP_TOKEN_U2F, VDFP_CRED_U2F, 0},
  };
  return kTokens;
}

const wchar_t* const kFormatNames[] = {L"",    L"NETBIOS",   L"DNS",     L"SAM", L"Simple",
                                       L"UID", L"Principal", L"Display", L"SID", L"VD"};

[[noreturn]] void Fail(const std::string& what) { throw DescriptionError(what); }

// Session numbers are small on every machine; a derived SID ends in 1000 + session.
constexpr DWORD kMaxSession = 65535;
// A day: far beyond any test's wait, and clear of the 32-bit timer and clock arithmetic.
constexpr ULONGLONG kMaxDelayMs = 24ull * 60 * 60 * 1000;

std::wstring Str(const json& j, const char* what) {
  if (!j.is_string()) Fail(std::string(what) + ": a string was expected");
  return Utf8ToWide(j.get<std::string>());
}

// Numbers are taken only when they are whole and in the field's range: nlohmann would turn
// 1e30 or -1 into some other session, delay or mask without a word.
[[noreturn]] void OutOfRange(const json& j, const char* field, const std::string& range) {
  // Only a number is printed: dumping another value (deeply nested, say) is not bounded.
  const std::string shown = j.is_number() ? j.dump() + " is out of range" : "a number was expected";
  Fail("\"" + std::string(field) + "\": " + shown + " (a whole number from " + range + ")");
}

ULONGLONG Unsigned(const json& j, const char* field, ULONGLONG max = ULLONG_MAX) {
  if (j.is_number_unsigned() && j.get<ULONGLONG>() <= max) return j.get<ULONGLONG>();
  // nlohmann keeps only negative integers signed: nothing signed is in range here.
  OutOfRange(j, field, "0 to " + std::to_string(max));
}

long long Signed(const json& j, const char* field, long long min, long long max) {
  if (j.is_number_unsigned() && j.get<ULONGLONG>() <= static_cast<ULONGLONG>(max))
    return static_cast<long long>(j.get<ULONGLONG>());
  if (j.is_number_integer() && !j.is_number_unsigned() && j.get<long long>() >= min &&
      j.get<long long>() <= max)
    return j.get<long long>();
  OutOfRange(j, field, std::to_string(min) + " to " + std::to_string(max));
}

DWORD Dword(const json& j, const char* field, DWORD max = 0xFFFFFFFF) {
  return static_cast<DWORD>(Unsigned(j, field, max));
}

bool Bool(const json& j, const char* field) {
  if (!j.is_boolean()) Fail("\"" + std::string(field) + "\": true or false was expected");
  return j.get<bool>();
}

ULONGLONG ParseMask(const json& j, const char* field) {
  if (j.is_number()) return Unsigned(j, field);
  const std::wstring s = Str(j, field);
  if (s.size() > 2 && s[0] == L'0' && (s[1] == L'x' || s[1] == L'X')) {
    try {
      return std::stoull(WideToUtf8(s.substr(2)), nullptr, 16);
    } catch (...) {
      Fail("bad credential mask " + WideToUtf8(s));
    }
  }
  ULONGLONG mask = 0;
  std::size_t start = 0;
  while (start <= s.size()) {
    std::size_t plus = s.find(L'+', start);
    if (plus == std::wstring::npos) plus = s.size();
    const std::wstring part = s.substr(start, plus - start);
    const TokenTypeDesc* t = KnownTokenType(part);
    if (!t) Fail("unknown credential type " + WideToUtf8(part));
    mask |= t->mask;
    start = plus + 1;
  }
  return mask;
}

ULONGLONG ParseMaskList(const json& j, const char* field) {
  if (!j.is_array()) return ParseMask(j, field);
  ULONGLONG mask = 0;
  for (const auto& e : j) mask |= ParseMask(e, field);
  return mask;
}

std::vector<ULONGLONG> ParseRules(const json& j, const char* field) {
  if (!j.is_array()) Fail(std::string("\"") + field + "\": a policy is a list of rules");
  std::vector<ULONGLONG> rules;
  for (const auto& r : j) rules.push_back(ParseMask(r, field));
  return rules;
}

std::vector<BYTE> ParseHex(const json& j, const char* what) {
  const std::string s = j.is_string() ? j.get<std::string>() : (Fail(what), std::string());
  std::string digits;
  for (char c : s)
    if (!std::isspace(static_cast<unsigned char>(c))) digits.push_back(c);
  if (digits.size() % 2) Fail(std::string(what) + ": odd number of hex digits");
  std::vector<BYTE> out;
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    try {
      std::size_t used = 0;
      const unsigned v = std::stoul(digits.substr(i, 2), &used, 16);
      if (used != 2) Fail(std::string(what) + ": bad hex");
      out.push_back(static_cast<BYTE>(v));
    } catch (const DescriptionError&) {
      throw;
    } catch (...) {
      Fail(std::string(what) + ": bad hex");
    }
  }
  return out;
}

GUID ParseGuid(const json& j, const char* what) {
  auto g = GuidFromString(Str(j, what));
  if (!g) Fail(std::string(what) + ": bad GUID");
  return *g;
}

TokenTypeDesc ParseToken(const json& j) {
  if (j.is_string()) {
    const TokenTypeDesc* t = KnownTokenType(Str(j, "token"));
    if (!t) Fail("unknown token type " + j.get<std::string>());
    return *t;
  }
  TokenTypeDesc t;
  const std::wstring name = Str(j.at("name"), "token name");
  if (const TokenTypeDesc* known = KnownTokenType(name)) t = *known;
  t.name = name;
  if (j.contains("guid")) t.guid = ParseGuid(j["guid"], "token guid");
  if (j.contains("mask")) t.mask = ParseMask(j["mask"], "mask");
  if (j.contains("maxEnrollments")) t.maxEnrollments = Dword(j["maxEnrollments"], "maxEnrollments");
  if (t.mask == 0) Fail("token " + WideToUtf8(name) + " has no credential mask");
  return t;
}

// Array values hold values: the depth is bounded so that neither this parser nor the
// library's copy of the value into VDVARIANTs recurses without end on hostile input.
constexpr int kMaxPolicyDepth = 64;

PolicyValue ParsePolicyValue(const json& j, int depth = 1) {
  if (depth > kMaxPolicyDepth)
    Fail("policy nested deeper than " + std::to_string(kMaxPolicyDepth) + " levels");
  PolicyValue v;
  v.type = Dword(j.at("type"), "type");
  switch (v.type) {
    case VDVAR_BOOL:
      v.number = j.at("value").is_boolean() ? (j["value"].get<bool>() ? 1 : 0)
                                            : Unsigned(j["value"], "value", 1);
      break;
    case VDVAR_INT32:
      v.number = static_cast<ULONGLONG>(Signed(j.at("value"), "value", INT_MIN, INT_MAX));
      break;
    case VDVAR_UINT32:
      v.number = Unsigned(j.at("value"), "value", UINT_MAX);
      break;
    case VDVAR_INT64:
      v.number = static_cast<ULONGLONG>(Signed(j.at("value"), "value", LLONG_MIN, LLONG_MAX));
      break;
    case VDVAR_UINT64:
      v.number = Unsigned(j.at("value"), "value");
      break;
    case VDVAR_STRING:
      v.text = Str(j.at("value"), "policy string");
      break;
    case VDVAR_BLOB:
      v.blob = ParseHex(j.at("hex"), "policy blob");
      break;
    case VDVAR_ARRAY:
      for (const auto& e : j.at("items")) v.items.push_back(ParsePolicyValue(e, depth + 1));
      break;
    default:
      Fail("unsupported policy value type " + std::to_string(v.type));
  }
  return v;
}

void ParseUser(const json& j, std::size_t index, UserDesc& u) {
  u.name = Str(j.at("name"), "user name");
  if (j.contains("session")) u.session = Dword(j["session"], "session", kMaxSession);
  // Users signed in nowhere get SIDs of their own, clear of the sessions' ones.
  u.sid = j.contains("sid")
              ? Str(j["sid"], "sid")
              : SessionUserSid(u.session ? u.session : 100 + static_cast<DWORD>(index));
  if (j.contains("names")) {
    for (const auto& [key, value] : j["names"].items()) {
      const DWORD format = NameFormatFromText(Utf8ToWide(key));
      if (format == 0) Fail("unknown name format " + key);
      u.names[format] = Str(value, "account name");
    }
  }
  if (j.contains("enrolled")) u.enrolled = ParseMaskList(j["enrolled"], "enrolled");
  if (j.contains("policy")) u.policy = ParseRules(j["policy"], "policy");
}

}  // namespace

// ---- Helpers ------------------------------------------------------------------------------

std::wstring SessionUserSid(DWORD session) {
  return L"S-1-5-21-3623811015-3361044348-30300820-" + std::to_wstring(1000 + session);
}

const TokenTypeDesc* KnownTokenType(ULONGLONG mask) {
  for (const auto& t : KnownTokens())
    if (t.mask == mask) return &t;
  return nullptr;
}

const TokenTypeDesc* KnownTokenType(const std::wstring& name) {
  for (const auto& t : KnownTokens())
    if (EqualNoCase(t.name, name)) return &t;
  return nullptr;
}

DWORD NameFormatFromText(const std::wstring& text) {
  for (DWORD f = 1; f <= 9; ++f)
    if (EqualNoCase(text, kFormatNames[f]) || text == std::to_wstring(f)) return f;
  return 0;
}

std::wstring GuidToString(const GUID& g) {
  wchar_t buf[40];
  std::swprintf(buf, 40, L"{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return buf;
}

std::optional<GUID> GuidFromString(const std::wstring& s) {
  std::wstring t = s;
  if (t.size() == 38 && t.front() == L'{' && t.back() == L'}') t = t.substr(1, 36);
  if (t.size() != 36 || t[8] != L'-' || t[13] != L'-' || t[18] != L'-' || t[23] != L'-')
    return std::nullopt;
  auto hex = [&](std::size_t pos, std::size_t n, unsigned long long& out) {
    out = 0;
    for (std::size_t i = pos; i < pos + n; ++i) {
      const wchar_t c = t[i];
      int d;
      if (c >= L'0' && c <= L'9')
        d = c - L'0';
      else if (c >= L'a' && c <= L'f')
        d = c - L'a' + 10;
      else if (c >= L'A' && c <= L'F')
        d = c - L'A' + 10;
      else
        return false;
      out = out * 16 + static_cast<unsigned>(d);
    }
    return true;
  };
  GUID g{};
  unsigned long long v;
  if (!hex(0, 8, v)) return std::nullopt;
  g.Data1 = static_cast<DWORD>(v);
  if (!hex(9, 4, v)) return std::nullopt;
  g.Data2 = static_cast<WORD>(v);
  if (!hex(14, 4, v)) return std::nullopt;
  g.Data3 = static_cast<WORD>(v);
  const std::size_t pos[8] = {19, 21, 24, 26, 28, 30, 32, 34};
  for (int i = 0; i < 8; ++i) {
    if (!hex(pos[i], 2, v)) return std::nullopt;
    g.Data4[i] = static_cast<BYTE>(v);
  }
  return g;
}

std::wstring Utf8ToWide(const std::string& s) {
  std::u32string cps;
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    char32_t cp;
    std::size_t n;
    if (c < 0x80)
      cp = c, n = 1;
    else if ((c & 0xE0) == 0xC0)
      cp = c & 0x1F, n = 2;
    else if ((c & 0xF0) == 0xE0)
      cp = c & 0x0F, n = 3;
    else if ((c & 0xF8) == 0xF0)
      cp = c & 0x07, n = 4;
    else
      cp = 0xFFFD, n = 1;
    if (i + n > s.size()) {
      cps.push_back(0xFFFD);
      break;
    }
    bool ok = true;
    for (std::size_t k = 1; k < n; ++k) {
      const unsigned char cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    cps.push_back(ok ? cp : 0xFFFD);
    i += ok ? n : 1;
  }
  std::wstring out;
  for (char32_t cp : cps) {
    if constexpr (sizeof(wchar_t) == 2) {
      if (cp >= 0x10000) {
        cp -= 0x10000;
        out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
        continue;
      }
    }
    out.push_back(static_cast<wchar_t>(cp));
  }
  return out;
}

std::string WideToUtf8(const std::wstring& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char32_t cp = static_cast<char32_t>(s[i]);
    if (sizeof(wchar_t) == 2 && cp >= 0xD800 && cp < 0xDC00 && i + 1 < s.size()) {
      const char32_t lo = static_cast<char32_t>(s[i + 1]);
      if (lo >= 0xDC00 && lo < 0xE000) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
        ++i;
      }
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

bool EqualNoCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    // ASCII folding only: account names compare the same on every host locale.
    wchar_t x = a[i], y = b[i];
    if (x >= L'A' && x <= L'Z') x = static_cast<wchar_t>(x - L'A' + L'a');
    if (y >= L'A' && y <= L'Z') y = static_cast<wchar_t>(y - L'A' + L'a');
    if (x != y) return false;
  }
  return true;
}

void CompleteUserNames(UserDesc& u, const std::wstring& computer, const std::wstring& dns) {
  auto fill = [&](DWORD format, std::wstring value) { u.names.try_emplace(format, value); };
  fill(VDFP_NAME_NETBIOS, computer + L"\\" + u.name);
  fill(VDFP_NAME_DNS, dns + L"\\" + u.name);
  fill(VDFP_NAME_SAM, computer + L"\\" + u.name);
  fill(VDFP_NAME_SIMPLE, u.name);
  {
    // A stable GUID from the SID's characters.
    unsigned long long h = 1469598103934665603ull;
    for (wchar_t c : u.sid) h = (h ^ static_cast<unsigned long long>(c)) * 1099511628211ull;
    GUID g{static_cast<DWORD>(h), static_cast<WORD>(h >> 32), static_cast<WORD>(h >> 48), {}};
    for (int i = 0; i < 8; ++i) g.Data4[i] = static_cast<BYTE>(h >> (i * 7));
    fill(VDFP_NAME_UID, GuidToString(g));
  }
  fill(VDFP_NAME_PRINCIPAL, u.name + L"@" + dns);
  fill(VDFP_NAME_DISPLAY, u.name);
  u.names[VDFP_NAME_SID] = u.sid;
}

// ---- The description --------------------------------------------------------------------

namespace {

// The default machine before the derived names are filled in.
VdfpDescription BaseDefault() {
  VdfpDescription d;
  for (ULONGLONG m : {VDFP_CRED_PASSWORD, VDFP_CRED_FINGERPRINT, VDFP_CRED_SMARTCARD,
                      VDFP_CRED_CONTACTLESS, VDFP_CRED_PIN})
    d.tokens.push_back(*KnownTokenType(m));
  UserDesc alice;
  alice.name = L"alice";
  alice.session = 1;
  alice.sid = SessionUserSid(1);
  alice.names[VDFP_NAME_DISPLAY] = L"Alice";
  alice.enrolled = VDFP_CRED_PASSWORD | VDFP_CRED_FINGERPRINT;
  d.users.push_back(std::move(alice));
  d.defaultPolicy = {VDFP_CRED_PASSWORD, VDFP_CRED_FINGERPRINT};
  ReaderDesc reader;
  reader.name = L"Sim Fingerprint Reader";
  reader.id = *GuidFromString(L"{5C3B1F0E-8D2A-4E61-9B7C-2F4A6D8E0B11}");
  d.readers.push_back(std::move(reader));
  d.domains.push_back({L"OS", VDFP_AUTH_DOMAIN_ACTIVE});
  d.dialogs.identifyUser = L"alice";
  return d;
}

void Finish(VdfpDescription& d) {
  for (auto& u : d.users) CompleteUserNames(u, d.computerName, d.dnsDomain);
}

}  // namespace

VdfpDescription VdfpDescription::Default() {
  VdfpDescription d = BaseDefault();
  Finish(d);
  return d;
}

VdfpDescription VdfpDescription::FromJson(const std::string& text) {
  json j;
  try {
    j = json::parse(text);
  } catch (const json::exception& e) {
    Fail(std::string("not JSON: ") + e.what());
  }
  if (!j.is_object()) Fail("the description is a JSON object");
  VdfpDescription d = BaseDefault();
  try {
    if (j.contains("host")) {
      const auto& h = j["host"];
      if (h.contains("running")) d.hostRunning = Bool(h["running"], "running");
      if (h.contains("asyncReplyDelayMs"))
        d.asyncReplyDelayMs = Unsigned(h["asyncReplyDelayMs"], "asyncReplyDelayMs", kMaxDelayMs);
    }
    if (j.contains("computerName")) d.computerName = Str(j["computerName"], "computerName");
    if (j.contains("dnsDomain")) d.dnsDomain = Str(j["dnsDomain"], "dnsDomain");
    if (j.contains("tokens")) {
      d.tokens.clear();
      for (const auto& t : j["tokens"]) d.tokens.push_back(ParseToken(t));
    }
    if (j.contains("users")) {
      d.users.clear();
      for (const auto& ju : j["users"]) {
        UserDesc u;
        ParseUser(ju, d.users.size(), u);
        d.users.push_back(std::move(u));
      }
    }
    if (j.contains("defaultPolicy"))
      d.defaultPolicy = ParseRules(j["defaultPolicy"], "defaultPolicy");
    if (j.contains("readers")) {
      d.readers.clear();
      int n = 0;
      for (const auto& jr : j["readers"]) {
        ReaderDesc r;
        r.name = jr.contains("name") ? Str(jr["name"], "reader name")
                                     : L"Sim Reader " + std::to_wstring(++n);
        if (jr.contains("id")) {
          r.id = ParseGuid(jr["id"], "reader id");
        } else {
          r.id = *GuidFromString(L"{5C3B1F0E-8D2A-4E61-9B7C-2F4A6D8E0B11}");
          r.id.Data4[7] = static_cast<BYTE>(0x11 + d.readers.size());
        }
        if (jr.contains("mask")) r.mask = ParseMask(jr["mask"], "mask");
        if (jr.contains("connected")) r.connected = Bool(jr["connected"], "connected");
        if (jr.contains("reenroll"))
          for (const auto& u : jr["reenroll"]) r.reenroll.push_back(Str(u, "user"));
        d.readers.push_back(std::move(r));
      }
    }
    if (j.contains("domains")) {
      d.domains.clear();
      for (const auto& jd : j["domains"]) {
        DomainDesc dom{Str(jd.at("name"), "domain name"), VDFP_AUTH_DOMAIN_ACTIVE};
        if (jd.contains("state")) dom.state = Dword(jd["state"], "state");
        d.domains.push_back(std::move(dom));
      }
    }
    if (j.contains("protectedData")) {
      for (const auto& js : j["protectedData"]) {
        SlotDesc s;
        s.slot = Str(js.at("slot"), "slot");
        if (js.contains("hex")) s.data = ParseHex(js["hex"], "slot data");
        if (js.contains("entropyHex")) s.entropy = ParseHex(js["entropyHex"], "slot entropy");
        d.protectedData.push_back(std::move(s));
      }
    }
    if (j.contains("policySettings")) {
      for (const auto& jp : j["policySettings"]) {
        PolicySettingDesc p;
        p.name = Str(jp.at("name"), "policy name");
        // Either reading of an HRESULT: signed, or as the unsigned 0x8... it is often written.
        if (jp.contains("status"))
          p.status = static_cast<HRESULT>(
              static_cast<DWORD>(Signed(jp["status"], "status", INT_MIN, UINT_MAX)));
        try {
          p.value = ParsePolicyValue(jp);
        } catch (const DescriptionError& e) {
          Fail("policy setting \"" + WideToUtf8(p.name) + "\": " + e.what());
        }
        d.policySettings.push_back(std::move(p));
      }
    }
    if (j.contains("dialogs")) {
      const auto& jd = j["dialogs"];
      if (jd.contains("identify"))
        d.dialogs.identifyUser = jd["identify"].is_null() ? L"" : Str(jd["identify"], "user");
      if (jd.contains("verify")) d.dialogs.verifyAccepts = Bool(jd["verify"], "verify");
      if (jd.contains("identifyOpenMs"))
        d.identifyOpenMs = Unsigned(jd["identifyOpenMs"], "identifyOpenMs", 0x7FFFFFFF);
    }
  } catch (const json::exception& e) {
    Fail(std::string("bad description: ") + e.what());
  }
  Finish(d);
  return d;
}

std::string ReadDescriptionText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail("cannot read " + path);
  // One byte more than allowed tells a file at the limit from a larger one; a device such as
  // /dev/zero ends here too instead of filling memory.
  std::string text(kMaxDescriptionBytes + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (in.bad()) Fail("cannot read " + path);
  text.resize(static_cast<std::size_t>(in.gcount()));
  if (text.size() > kMaxDescriptionBytes) Fail(path + " is larger than " + kMaxDescriptionSize);
  return text;
}

VdfpDescription VdfpDescription::FromFile(const std::string& path) {
  return FromJson(ReadDescriptionText(path));
}

}  // namespace vdfp_standin
