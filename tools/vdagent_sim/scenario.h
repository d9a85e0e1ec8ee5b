// A scenario: the simulated machine, the registry as the installer left it, the agent's command
// line and what happens on virtual time, read from JSON.
//
//   {
//     "windows": {"major": 10, "minor": 0, "dnsDomain": "corp.example", "administrator": false,
//                 "shares": ["\\\\corp.example\\sysvol"], "uiLanguages": ["de-DE"]},
//     "machine": { ...the authentication host's machine description... },
//     "suite": { ...the other suite components' description... },
//     "registry": [{"key": "HKLM\\SOFTWARE\\Veridane\\Applications", "name": "BinDir",
//                   "type": "REG_SZ", "value": "C:\\Program Files\\Veridane\\Suite\\"}],
//     "cmdline": "",
//     "hostStartMs": 3000, "limitMs": 120000,
//     "events": [{"at": 8000, "kind": "finger", "user": "alice"},
//                {"after": 4000, "kind": "session", "action": "unlock"}],
//     "expect": {"exitCode": 0,
//                "desktop": [{"kind": "session", "text": "locked"}],   // in this order
//                "trace": ["Locking the workstation (no PM)"],          // in this order
//                "notDesktop": [...], "notTrace": [...]}
//   }
//
// "at" counts from the agent's start, "after" from the event before. Rows that recur are
// written once: {"at": 3600000, "repeat": 40, "everyMs": 600000, "events": [...]} plays the
// rows 40 times, ten minutes apart; inside, "at" counts from the start of each round. Every event kind, its
// fields and what it does are one table (scenario_kinds.h). Anything the reader does not know
// (a member, a kind, a field, a value of the wrong type or out of range) is refused with its
// position, e.g. "events[2].action: expected one of lock, unlock, ...".
#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/win_types.h"

namespace vdsim {

class ScenarioError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct RegistrySeed {
  std::wstring key;  // "HKLM\\...", "HKCU\\..." (the session user's), "HKU\\..."
  std::wstring name;
  DWORD type = 0;
  std::vector<BYTE> data;  // as the simulated registry stores it (strings in WCHAR, with NUL)
};

struct ScenarioEvent {
  std::size_t index = 0;  // position in "events"
  ULONGLONG atMs = 0;     // from the agent's start
  std::string kind;
  nlohmann::json fields;  // the event object, checked against its kind's row
};

struct DesktopExpectation {
  std::optional<std::string> kind;
  std::optional<std::string> text;  // a part of the text
  std::optional<DWORD> session;
};

struct Expectations {
  std::optional<int> exitCode;
  std::vector<DesktopExpectation> desktop;  // in order
  std::vector<std::string> trace;           // record texts containing these, in order
  std::vector<DesktopExpectation> notDesktop;
  std::vector<std::string> notTrace;
};

struct WindowsOptions {
  DWORD major = 10;
  DWORD minor = 0;
  std::wstring dnsDomain;            // empty: not in a domain
  bool administrator = false;        // the agent runs elevated as an administrator
  std::vector<std::wstring> shares;  // network folders, "\\\\server\\share"

  // The user's preferred UI languages, first preferred first; empty: "en-US".
  std::vector<std::wstring> uiLanguages;
};

struct Scenario {
  WindowsOptions windows;
  std::optional<std::string> machineJson;  // the authentication host's description
  std::optional<std::string> suiteJson;    // the other suite components' description
  std::vector<RegistrySeed> registry;
  std::wstring commandLine;
  unsigned hostStartMs = 3000;
  ULONGLONG limitMs = 120000;
  std::vector<ScenarioEvent> events;  // ordered by time, then by position
  Expectations expect;
};

// Throws ScenarioError naming the position of what is wrong.
Scenario ParseScenario(const std::string& text);
// Reads a file (at most 4 MiB) and parses it; errors name the file.
Scenario ReadScenarioFile(const std::string& path);

// ---- Helpers shared with the kinds table ----
// {"key", "name", "type" ("REG_SZ", "REG_EXPAND_SZ", "REG_MULTI_SZ", "REG_DWORD", "REG_QWORD",
// "REG_BINARY"), "value"} (REG_BINARY: a hex string; REG_MULTI_SZ: an array of strings).
// Only "key" and "name" are needed when `needValue` is false.
RegistrySeed ParseRegistryValue(const nlohmann::json& j, const std::string& where,
                                bool needValue = true);
std::wstring Utf8ToWide(const std::string& s);
std::string WideToUtf8(const std::wstring& s);

}  // namespace vdsim
