#include "tools/vdagent_sim/scenario.h"

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>

#include "standins/plugins/description.h"
#include "standins/suite/description.h"
#include "standins/toast/description.h"
#include "standins/vdfpapi/description.h"
#include "standins/vdscapi/description.h"
#include "tools/vdagent_sim/scenario_kinds.h"

namespace vdsim {

namespace {

using nlohmann::json;

constexpr std::size_t kMaxScenarioBytes = 4u << 20;
// Far beyond any run worth simulating, small enough that a typo never hangs the simulator.
constexpr long long kMaxTimeMs = 24LL * 3600 * 1000;

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
  throw ScenarioError(where + ": " + what);
}

// Strings as the simulated registry keeps them: in the machine's WCHAR, with the terminator.
void AppendWide(std::vector<BYTE>& out, const std::wstring& s) {
  const auto* p = reinterpret_cast<const BYTE*>(s.c_str());
  out.insert(out.end(), p, p + (s.size() + 1) * sizeof(wchar_t));
}

const std::string& String(const json& j, const std::string& where) {
  if (!j.is_string()) Fail(where, "expected a string");
  return j.get_ref<const std::string&>();
}

long long Number(const json& j, const std::string& where, long long min, long long max) {
  long long v = 0;
  if (j.is_number_integer() || j.is_number_unsigned()) {
    if (j.is_number_unsigned() &&
        j.get<unsigned long long>() > static_cast<unsigned long long>(max))
      Fail(where, "out of range");
    v = j.get<long long>();
  } else if (j.is_string()) {
    const std::string& s = j.get_ref<const std::string&>();
    if (s.size() < 3 || s.size() > 18 || s[0] != '0' || (s[1] != 'x' && s[1] != 'X'))
      Fail(where, "expected a whole number or a \"0x...\" string");
    unsigned long long u = 0;
    for (size_t i = 2; i < s.size(); ++i) {
      const char c = s[i];
      int d = c >= '0' && c <= '9'   ? c - '0'
              : c >= 'a' && c <= 'f' ? c - 'a' + 10
              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                     : -1;
      if (d < 0) Fail(where, "expected a whole number or a \"0x...\" string");
      u = u << 4 | static_cast<unsigned>(d);
    }
    if (u > static_cast<unsigned long long>(max)) Fail(where, "out of range");
    v = static_cast<long long>(u);
  } else {
    Fail(where, "expected a whole number");
  }
  if (v < min || v > max) Fail(where, "out of range");
  return v;
}

void CheckMembers(const json& j, const std::string& where,
                  std::initializer_list<const char*> known) {
  if (!j.is_object()) Fail(where, "expected an object");
  for (const auto& item : j.items()) {
    const std::string& k = item.key();
    if (std::none_of(known.begin(), known.end(), [&](const char* n) { return k == n; }))
      Fail(where + "." + k, "unknown member");
  }
}

DesktopExpectation ParseDesktopExpectation(const json& j, const std::string& where) {
  CheckMembers(j, where, {"kind", "text", "session"});
  DesktopExpectation e;
  if (j.contains("kind")) e.kind = String(j["kind"], where + ".kind");
  if (j.contains("text")) e.text = String(j["text"], where + ".text");
  if (j.contains("session"))
    e.session = static_cast<DWORD>(Number(j["session"], where + ".session", 0, 0xFFFF));
  return e;
}

std::vector<std::string> ParseStrings(const json& j, const std::string& where) {
  if (!j.is_array()) Fail(where, "expected an array of strings");
  std::vector<std::string> out;
  for (std::size_t i = 0; i < j.size(); ++i)
    out.push_back(String(j[i], where + "[" + std::to_string(i) + "]"));
  return out;
}

Expectations ParseExpectations(const json& j) {
  CheckMembers(j, "expect", {"exitCode", "desktop", "trace", "notDesktop", "notTrace"});
  Expectations e;
  if (j.contains("exitCode"))
    e.exitCode =
        static_cast<int>(Number(j["exitCode"], "expect.exitCode", -0x7FFFFFFF, 0x7FFFFFFF));
  auto desktop = [&](const char* name, std::vector<DesktopExpectation>& out) {
    if (!j.contains(name)) return;
    const std::string where = std::string("expect.") + name;
    if (!j[name].is_array()) Fail(where, "expected an array");
    for (std::size_t i = 0; i < j[name].size(); ++i)
      out.push_back(ParseDesktopExpectation(j[name][i], where + "[" + std::to_string(i) + "]"));
  };
  desktop("desktop", e.desktop);
  desktop("notDesktop", e.notDesktop);
  if (j.contains("trace")) e.trace = ParseStrings(j["trace"], "expect.trace");
  if (j.contains("notTrace")) e.notTrace = ParseStrings(j["notTrace"], "expect.notTrace");
  return e;
}

}  // namespace

std::wstring Utf8ToWide(const std::string& s) {
  std::wstring out;
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::uint32_t cp = c;
    std::size_t n = 1;
    if (c >= 0xF0 && i + 3 < s.size()) {
      cp = (c & 0x07u) << 18 | (s[i + 1] & 0x3Fu) << 12 | (s[i + 2] & 0x3Fu) << 6 |
           (s[i + 3] & 0x3Fu);
      n = 4;
    } else if (c >= 0xE0 && i + 2 < s.size()) {
      cp = (c & 0x0Fu) << 12 | (s[i + 1] & 0x3Fu) << 6 | (s[i + 2] & 0x3Fu);
      n = 3;
    } else if (c >= 0xC0 && i + 1 < s.size()) {
      cp = (c & 0x1Fu) << 6 | (s[i + 1] & 0x3Fu);
      n = 2;
    }
    out.push_back(static_cast<wchar_t>(cp));
    i += n;
  }
  return out;
}

std::string WideToUtf8(const std::wstring& w) {
  std::string out;
  for (wchar_t wc : w) {
    const auto c = static_cast<std::uint32_t>(wc);
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | c >> 6));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | c >> 12));
      out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | c >> 18));
      out.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

RegistrySeed ParseRegistryValue(const json& j, const std::string& where, bool needValue) {
  if (!j.is_object()) Fail(where, "expected an object");
  RegistrySeed seed;
  if (!j.contains("key")) Fail(where + ".key", "missing");
  seed.key = Utf8ToWide(String(j["key"], where + ".key"));
  const std::wstring root = seed.key.substr(0, seed.key.find(L'\\'));
  if (root != L"HKLM" && root != L"HKCU" && root != L"HKU" && root != L"HKCR")
    Fail(where + ".key", "expected a key under HKLM, HKCU, HKU or HKCR");
  if (!j.contains("name")) Fail(where + ".name", "missing (\"\" is the default value)");
  seed.name = Utf8ToWide(String(j["name"], where + ".name"));
  if (!needValue) return seed;
  if (!j.contains("type")) Fail(where + ".type", "missing");
  if (!j.contains("value")) Fail(where + ".value", "missing");
  const std::string& type = String(j["type"], where + ".type");
  const json& v = j["value"];
  const std::string vw = where + ".value";
  if (type == "REG_SZ" || type == "REG_EXPAND_SZ") {
    seed.type = type == "REG_SZ" ? REG_SZ : REG_EXPAND_SZ;
    AppendWide(seed.data, Utf8ToWide(String(v, vw)));
  } else if (type == "REG_MULTI_SZ") {
    seed.type = REG_MULTI_SZ;
    for (const auto& s : ParseStrings(v, vw)) AppendWide(seed.data, Utf8ToWide(s));
    seed.data.insert(seed.data.end(), sizeof(wchar_t), 0);
  } else if (type == "REG_DWORD") {
    seed.type = REG_DWORD;
    const auto d = static_cast<std::uint32_t>(Number(v, vw, -0x80000000LL, 0xFFFFFFFFLL));
    for (int i = 0; i < 4; ++i) seed.data.push_back(static_cast<BYTE>(d >> (8 * i)));
  } else if (type == "REG_QWORD") {
    seed.type = REG_QWORD;
    const auto q = static_cast<std::uint64_t>(Number(v, vw, 0, 0x7FFFFFFFFFFFFFFFLL));
    for (int i = 0; i < 8; ++i) seed.data.push_back(static_cast<BYTE>(q >> (8 * i)));
  } else if (type == "REG_BINARY") {
    seed.type = REG_BINARY;
    const std::string& hex = String(v, vw);
    if (hex.size() % 2) Fail(vw, "expected an even number of hex digits");
    for (std::size_t i = 0; i < hex.size(); i += 2) {
      const std::string byte = hex.substr(i, 2);
      if (!std::isxdigit(static_cast<unsigned char>(byte[0])) ||
          !std::isxdigit(static_cast<unsigned char>(byte[1])))
        Fail(vw, "expected hex digits");
      seed.data.push_back(static_cast<BYTE>(std::stoi(byte, nullptr, 16)));
    }
  } else {
    Fail(where + ".type",
         "expected one of REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD, REG_BINARY");
  }
  return seed;
}

Scenario ParseScenario(const std::string& text) {
  json doc;
  try {
    doc = json::parse(text);
  } catch (const json::parse_error& e) {
    throw ScenarioError(std::string("not JSON: ") + e.what());
  }
  CheckMembers(doc, "scenario",
               {"windows", "machine", "suite", "registry", "cmdline", "hostStartMs", "limitMs",
                "events", "expect", "description"});
  Scenario sc;
  if (doc.contains("windows")) {
    const json& w = doc["windows"];
    CheckMembers(w, "windows",
                 {"major", "minor", "dnsDomain", "administrator", "shares", "uiLanguages"});
    if (w.contains("uiLanguages"))
      for (const auto& l : ParseStrings(w["uiLanguages"], "windows.uiLanguages"))
        sc.windows.uiLanguages.push_back(Utf8ToWide(l));
    if (w.contains("shares"))
      for (const auto& share : ParseStrings(w["shares"], "windows.shares")) {
        if (share.rfind("\\\\", 0) != 0 || std::count(share.begin(), share.end(), '\\') != 3)
          Fail("windows.shares", "expected \\\\server\\share, not '" + share + "'");
        sc.windows.shares.push_back(Utf8ToWide(share));
      }
    if (w.contains("major"))
      sc.windows.major = static_cast<DWORD>(Number(w["major"], "windows.major", 5, 10));
    if (w.contains("minor"))
      sc.windows.minor = static_cast<DWORD>(Number(w["minor"], "windows.minor", 0, 3));
    if (w.contains("dnsDomain"))
      sc.windows.dnsDomain = Utf8ToWide(String(w["dnsDomain"], "windows.dnsDomain"));
    if (w.contains("administrator")) {
      if (!w["administrator"].is_boolean()) Fail("windows.administrator", "expected true or false");
      sc.windows.administrator = w["administrator"].get<bool>();
    }
  }
  if (doc.contains("machine")) {
    if (!doc["machine"].is_object()) Fail("machine", "expected an object");
    sc.machineJson = doc["machine"].dump();
    try {
      vdfp_standin::VdfpDescription::FromJson(*sc.machineJson);
      vdsc_standin::CardsDescription::FromJson(*sc.machineJson);
      plugin_standin::TrayPluginsDescription::FromJson(*sc.machineJson);
    } catch (const vdfp_standin::DescriptionError& e) {
      Fail("machine", e.what());
    } catch (const plugin_standin::TrayPluginsDescriptionError& e) {
      Fail("machine", e.what());
    }
  }
  if (doc.contains("suite")) {
    if (!doc["suite"].is_object()) Fail("suite", "expected an object");
    sc.suiteJson = doc["suite"].dump();
    try {
      suite_standin::SuiteDescription::FromJson(*sc.suiteJson);
      toast_standin::ToastStandInsDescription::FromJson(*sc.suiteJson);
    } catch (const suite_standin::SuiteDescriptionError& e) {
      Fail("suite", e.what());
    } catch (const toast_standin::ToastDescriptionError& e) {
      Fail("suite", e.what());
    }
  }
  if (doc.contains("registry")) {
    if (!doc["registry"].is_array()) Fail("registry", "expected an array");
    for (std::size_t i = 0; i < doc["registry"].size(); ++i) {
      const std::string where = "registry[" + std::to_string(i) + "]";
      CheckMembers(doc["registry"][i], where, {"key", "name", "type", "value"});
      sc.registry.push_back(ParseRegistryValue(doc["registry"][i], where));
    }
  }
  if (doc.contains("cmdline")) sc.commandLine = Utf8ToWide(String(doc["cmdline"], "cmdline"));
  if (doc.contains("hostStartMs"))
    sc.hostStartMs =
        static_cast<unsigned>(Number(doc["hostStartMs"], "hostStartMs", 0, kMaxTimeMs));
  if (doc.contains("limitMs"))
    sc.limitMs = static_cast<ULONGLONG>(Number(doc["limitMs"], "limitMs", 1, kMaxTimeMs));
  if (doc.contains("events")) {
    const json& events = doc["events"];
    if (!events.is_array()) Fail("events", "expected an array");
    ULONGLONG previous = 0;
    // One event row: "at" counts from `origin`, "after" from the row before.
    auto parseEvent = [&](const json& e, const std::string& where, std::size_t index,
                          ULONGLONG origin) {
      if (!e.is_object()) Fail(where, "expected an object");
      if (!e.contains("kind")) Fail(where + ".kind", "missing");
      const std::string& kind = String(e["kind"], where + ".kind");
      const KindRow* row = FindKind(kind);
      if (!row) Fail(where + ".kind", "unknown kind '" + kind + "'");
      if (!row->action)
        Fail(where + ".kind", "'" + kind + "' is reserved and not available in this build");
      const bool at = e.contains("at"), after = e.contains("after");
      if (at == after) Fail(where, "needs exactly one of \"at\" and \"after\"");
      ScenarioEvent ev;
      ev.index = index;
      ev.kind = kind;
      if (at) {
        ev.atMs = origin + static_cast<ULONGLONG>(Number(e["at"], where + ".at", 0, kMaxTimeMs));
      } else {
        ev.atMs =
            previous + static_cast<ULONGLONG>(Number(e["after"], where + ".after", 0, kMaxTimeMs));
      }
      if (ev.atMs > static_cast<ULONGLONG>(kMaxTimeMs)) Fail(where, "later than 24 hours");
      CheckEventFields(*row, e, where);
      ev.fields = e;
      previous = ev.atMs;
      sc.events.push_back(std::move(ev));
    };
    for (std::size_t i = 0; i < events.size(); ++i) {
      const std::string where = "events[" + std::to_string(i) + "]";
      const json& e = events[i];
      if (!e.is_object() || !e.contains("repeat")) {
        parseEvent(e, where, i, 0);
        continue;
      }
      // {"at": 3600000, "repeat": 40, "everyMs": 600000, "events": [...]}: the rows play
      // "repeat" times, each time "everyMs" after the one before; in a row, "at" counts
      // from the start of its round.
      CheckMembers(e, where, {"at", "after", "repeat", "everyMs", "events"});
      const bool at = e.contains("at"), after = e.contains("after");
      if (at == after) Fail(where, "needs exactly one of \"at\" and \"after\"");
      const ULONGLONG first =
          at ? static_cast<ULONGLONG>(Number(e["at"], where + ".at", 0, kMaxTimeMs))
             : previous +
                   static_cast<ULONGLONG>(Number(e["after"], where + ".after", 0, kMaxTimeMs));
      const auto count = Number(e["repeat"], where + ".repeat", 1, 10000);
      if (!e.contains("everyMs")) Fail(where + ".everyMs", "missing");
      const auto every =
          static_cast<ULONGLONG>(Number(e["everyMs"], where + ".everyMs", 1, kMaxTimeMs));
      if (!e.contains("events") || !e["events"].is_array() || e["events"].empty())
        Fail(where + ".events", "expected a non-empty array");
      for (long long round = 0; round < count; ++round) {
        const ULONGLONG origin = first + static_cast<ULONGLONG>(round) * every;
        previous = origin;
        for (std::size_t j = 0; j < e["events"].size(); ++j) {
          const json& inner = e["events"][j];
          const std::string innerWhere = where + ".events[" + std::to_string(j) + "]";
          if (inner.is_object() && inner.contains("repeat"))
            Fail(innerWhere, "a repeat inside a repeat");
          parseEvent(inner, innerWhere, i, origin);
        }
      }
    }
    std::stable_sort(
        sc.events.begin(), sc.events.end(),
        [](const ScenarioEvent& a, const ScenarioEvent& b) { return a.atMs < b.atMs; });
  }
  if (doc.contains("expect")) sc.expect = ParseExpectations(doc["expect"]);
  return sc;
}

Scenario ReadScenarioFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ScenarioError(path + ": cannot be read");
  std::string text;
  char buf[65536];
  while (in.read(buf, sizeof buf) || in.gcount() > 0) {
    text.append(buf, static_cast<std::size_t>(in.gcount()));
    if (text.size() > kMaxScenarioBytes) throw ScenarioError(path + ": larger than 4 MiB");
  }
  try {
    return ParseScenario(text);
  } catch (const ScenarioError& e) {
    throw ScenarioError(path + ": " + e.what());
  }
}

}  // namespace vdsim
