#include "standins/suite/description.h"

#include <climits>
#include <cstdlib>

#include <nlohmann/json.hpp>

namespace suite_standin {

namespace {

using json = nlohmann::json;

[[noreturn]] void Fail(const std::string& what) { throw SuiteDescriptionError(what); }

bool Bool(const json& j, const char* field) {
  if (!j.is_boolean()) Fail(std::string(field) + " must be true or false");
  return j.get<bool>();
}

ULONGLONG Unsigned(const json& j, const char* field, ULONGLONG max) {
  if (!j.is_number_unsigned() || j.get<ULONGLONG>() > max)
    Fail(std::string(field) + " must be a whole number from 0 to " + std::to_string(max));
  return j.get<ULONGLONG>();
}

// Signed, unsigned or "0x..." text: an HRESULT is written all three ways.
HRESULT Hresult(const json& j, const char* field) {
  long long v = 0;
  if (j.is_string()) {
    const std::string s = j.get<std::string>();
    char* end = nullptr;
    if (s.size() < 3 || s.size() > 10 || s.compare(0, 2, "0x") != 0)
      Fail(std::string(field) + ": bad text");
    v = static_cast<long long>(std::strtoull(s.c_str() + 2, &end, 16));
    if (*end) Fail(std::string(field) + ": bad text");
  } else if (j.is_number_integer()) {
    if (j.is_number_unsigned()) {
      const ULONGLONG u = j.get<ULONGLONG>();
      if (u > UINT_MAX) Fail(std::string(field) + " is out of range");
      v = static_cast<long long>(u);
    } else {
      v = j.get<long long>();
    }
  } else {
    Fail(std::string(field) + " must be a number");
  }
  if (v < INT_MIN || v > static_cast<long long>(UINT_MAX))
    Fail(std::string(field) + " is out of range");
  return static_cast<HRESULT>(static_cast<DWORD>(v));
}

DWORD CommandCode(const std::string& key) {
  char* end = nullptr;
  const unsigned long long v = std::strtoull(key.c_str(), &end, 10);
  if (key.empty() || *end || key[0] == '-' || v > UINT_MAX)
    Fail("command code \"" + key + "\" must be a whole number");
  return static_cast<DWORD>(v);
}

FillInCommandDesc ParseCommand(const json& j) {
  if (!j.is_object()) Fail("a command must be an object");
  FillInCommandDesc c;
  if (j.contains("hr")) c.hr = Hresult(j["hr"], "hr");
  if (j.contains("result"))
    c.result = static_cast<DWORD>(Unsigned(j["result"], "result", UINT_MAX));
  if (j.contains("reply") && !j["reply"].is_null()) {
    const auto& r = j["reply"];
    if (!r.is_array() || r.size() != 2) Fail("reply must be [kind, value]");
    FillInReply reply;
    reply.kind = static_cast<WPARAM>(Unsigned(r[0], "reply kind", UINT_MAX));
    reply.value = static_cast<LPARAM>(Unsigned(r[1], "reply value", INT_MAX));
    if (j.contains("replyAfterMs"))
      reply.afterMs = Unsigned(j["replyAfterMs"], "replyAfterMs", 0x7FFFFFFF);
    c.reply = reply;
  } else if (j.contains("replyAfterMs")) {
    Fail("replyAfterMs without a reply");
  }
  return c;
}

}  // namespace

SuiteDescription SuiteDescription::FromJson(const std::string& text) {
  SuiteDescription d;
  try {
    const json j = json::parse(text);
    if (!j.is_object()) Fail("the description must be an object");
    if (j.contains("fillIn")) {
      const auto& f = j["fillIn"];
      if (!f.is_object()) Fail("fillIn must be an object");
      if (f.contains("installed")) d.fillIn.installed = Bool(f["installed"], "fillIn.installed");
      if (f.contains("commands")) {
        if (!f["commands"].is_object()) Fail("fillIn.commands must be an object");
        for (const auto& [key, value] : f["commands"].items())
          d.fillIn.commands[CommandCode(key)] = ParseCommand(value);
      }
    }
    if (j.contains("passwordManager")) {
      const auto& p = j["passwordManager"];
      if (!p.is_object()) Fail("passwordManager must be an object");
      auto& pm = d.passwordManager;
      if (p.contains("installed")) pm.installed = Bool(p["installed"], "passwordManager.installed");
      if (p.contains("dashboardOpenMs"))
        pm.dashboardOpenMs = Unsigned(p["dashboardOpenMs"], "dashboardOpenMs", 0x7FFFFFFF);
      if (p.contains("showResult")) pm.showResult = Hresult(p["showResult"], "showResult");
      if (p.contains("trainingResult"))
        pm.trainingResult = Hresult(p["trainingResult"], "trainingResult");
    }
    if (j.contains("sounds")) d.sounds = Bool(j["sounds"], "sounds");
    if (j.contains("fastConnect")) d.fastConnect = Bool(j["fastConnect"], "fastConnect");
    if (j.contains("tsClient")) {
      const auto& t = j["tsClient"];
      if (!t.is_object()) Fail("tsClient must be an object");
      if (t.contains("installed"))
        d.tsClient.installed = Bool(t["installed"], "tsClient.installed");
      if (t.contains("registerResult"))
        d.tsClient.registerResult = Hresult(t["registerResult"], "registerResult");
    }
  } catch (const json::exception& e) {
    Fail(std::string("bad description: ") + e.what());
  }
  return d;
}

}  // namespace suite_standin
