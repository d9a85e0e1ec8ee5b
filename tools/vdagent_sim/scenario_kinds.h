// The one table of scenario event kinds: each kind's name, its fields and what it does on the
// simulated machine. Kinds other parts of the agent will need are listed as reserved, so no
// name is ever taken twice; a scenario using one is refused until its row is filled.
//
//   {"at": 8000, "kind": "finger", "user": "alice"}        // a touch on the reader
//   {"after": 500, "kind": "session", "action": "lock"}
#pragma once

#include <nlohmann/json.hpp>

#include <functional>
#include <string>
#include <vector>

#include "platform/win_types.h"

namespace sim {
class Machine;
class Process;
}  // namespace sim
namespace vdfp_standin {
class SimInstallation;
}
namespace suite_standin {
class SimSuiteInstallation;
}
namespace vdsc_standin {
class SimCardInstallation;
}
namespace toast_standin {
class SimToastInstallation;
}

namespace vdsim {

// What an event acts on.
struct ScenarioContext {
  sim::Machine& machine;
  vdfp_standin::SimInstallation& vdfp;
  suite_standin::SimSuiteInstallation& suite;
  vdsc_standin::SimCardInstallation& cards;
  toast_standin::SimToastInstallation& toasts;
  DWORD session;
  sim::Process& sender;               // another program of the session, for its messages
  std::function<HWND()> agentWindow;  // null when the agent has no window (yet or any more)
  std::function<void()> end;          // ends the run: the agent's window goes
};

enum class FieldType {
  String,
  StringOrNull,
  Integer,  // a JSON number, or a string "0x..." for large values
  Boolean,
  Choice,  // a string among `choices`
  StringList,
  Value,  // any JSON value; the action checks it
};

struct FieldSpec {
  const char* name;
  FieldType type;
  bool required = false;
  std::vector<std::string> choices = {};
  long long min = 0;
  long long max = 0x7FFFFFFF;
};

struct KindRow {
  const char* name;
  const char* summary;
  std::vector<FieldSpec> fields;
  // Empty for a reserved kind.
  std::function<void(ScenarioContext&, const nlohmann::json&)> action;
};

const std::vector<KindRow>& ScenarioKinds();
const KindRow* FindKind(const std::string& name);

// Checks an event's members against its row ("at", "after" and "kind" are the event's own);
// throws ScenarioError naming `where` and the member.
void CheckEventFields(const KindRow& row, const nlohmann::json& event, const std::string& where);

// An integer field's value (a number or a "0x..." string), already checked.
long long IntegerField(const nlohmann::json& event, const char* name, long long fallback = 0);

}  // namespace vdsim
