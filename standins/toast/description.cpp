#include "standins/toast/description.h"

#include <climits>
#include <cstdlib>

#include <nlohmann/json.hpp>

namespace toast_standin {

namespace {

using json = nlohmann::json;

[[noreturn]] void Fail(const std::string& what) { throw ToastDescriptionError(what); }

bool Bool(const json& j, const std::string& field) {
  if (!j.is_boolean()) Fail(field + " must be true or false");
  return j.get<bool>();
}

void OnlyMembers(const json& j, const std::string& where,
                 std::initializer_list<const char*> known) {
  for (const auto& item : j.items()) {
    bool ok = false;
    for (const char* k : known) ok = ok || item.key() == k;
    if (!ok) Fail(where + "." + item.key() + " is not known");
  }
}

// A number (either reading of a 32-bit value) or a "0x..." text.
HRESULT Hresult(const json& j, const std::string& field) {
  long long v = 0;
  if (j.is_string()) {
    const std::string s = j.get<std::string>();
    char* end = nullptr;
    if (s.size() < 3 || s.size() > 10 || s.compare(0, 2, "0x") != 0) Fail(field + ": bad text");
    v = static_cast<long long>(std::strtoull(s.c_str() + 2, &end, 16));
    if (*end) Fail(field + ": bad text");
  } else if (j.is_number_integer()) {
    if (j.is_number_unsigned() && j.get<unsigned long long>() > UINT_MAX)
      Fail(field + " is out of range");
    v = j.is_number_unsigned() ? static_cast<long long>(j.get<unsigned long long>())
                               : j.get<long long>();
  } else {
    Fail(field + " must be a number");
  }
  if (v < INT_MIN || v > static_cast<long long>(UINT_MAX)) Fail(field + " is out of range");
  return static_cast<HRESULT>(static_cast<DWORD>(v));
}

ToastAnswer Answer(const json& j, const std::string& where) {
  if (!j.is_object()) Fail(where + " must be an object");
  OnlyMembers(j, where, {"action", "result", "afterMs"});
  ToastAnswer a;
  const bool hasAction = j.contains("action");
  const bool hasResult = j.contains("result");
  if (hasAction == hasResult) Fail(where + " needs either an action or a result");
  if (hasAction) {
    if (!j["action"].is_string()) Fail(where + ".action must be a text");
    a.result = ToastResultOfAction(j["action"].get<std::string>());
    if (a.result < 0) Fail(where + ".action must be click, timeout, button or dismiss");
  } else {
    if (!j["result"].is_number_integer() || j["result"].get<long long>() < INT_MIN ||
        j["result"].get<long long>() > INT_MAX)
      Fail(where + ".result must be a 32-bit number");
    a.result = static_cast<INT32>(j["result"].get<long long>());
  }
  // An action given without a time: the user acts at once, or the toast times out in
  // its own time.
  a.afterMs = a.result == kToastTimedOut ? kToastShowMs : 0;
  if (j.contains("afterMs")) {
    const json& ms = j["afterMs"];
    if (!ms.is_number_unsigned() || ms.get<ULONGLONG>() > 0x7FFFFFFF)
      Fail(where + ".afterMs must be a whole number from 0 to 2147483647");
    a.afterMs = ms.get<ULONGLONG>();
  }
  return a;
}

}  // namespace

INT32 ToastResultOfAction(const std::string& action) {
  if (action == "click") return kToastClicked;
  if (action == "timeout") return kToastTimedOut;
  if (action == "button") return kToastButton;
  if (action == "dismiss") return kToastDismissed;
  return -1;
}

ToastStandInsDescription ToastStandInsDescription::FromJson(const std::string& text) {
  ToastStandInsDescription d;
  try {
    const json j = json::parse(text);
    if (!j.is_object()) Fail("the description must be an object");
    if (j.contains("toast")) {
      const json& t = j["toast"];
      if (!t.is_object()) Fail("toast must be an object");
      OnlyMembers(t, "toast", {"installed", "answers", "otherwise"});
      if (t.contains("installed")) d.toast.installed = Bool(t["installed"], "toast.installed");
      if (t.contains("answers")) {
        if (!t["answers"].is_array()) Fail("toast.answers must be an array");
        for (std::size_t i = 0; i < t["answers"].size(); ++i)
          d.toast.answers.push_back(
              Answer(t["answers"][i], "toast.answers[" + std::to_string(i) + "]"));
      }
      if (t.contains("otherwise")) d.toast.otherwise = Answer(t["otherwise"], "toast.otherwise");
    }
    if (j.contains("quickLinks")) {
      const json& q = j["quickLinks"];
      if (!q.is_object()) Fail("quickLinks must be an object");
      OnlyMembers(q, "quickLinks", {"installed", "hr"});
      if (q.contains("installed"))
        d.quickLinks.installed = Bool(q["installed"], "quickLinks.installed");
      if (q.contains("hr")) d.quickLinks.hr = Hresult(q["hr"], "quickLinks.hr");
    }
  } catch (const json::exception& e) {
    Fail(std::string("bad description: ") + e.what());
  }
  return d;
}

}  // namespace toast_standin
