#include "standins/plugins/description.h"

#include <nlohmann/json.hpp>

#include <climits>
#include <cstdlib>

namespace plugin_standin {

namespace {

using nlohmann::json;

[[noreturn]] void Fail(const std::string& what) { throw TrayPluginsDescriptionError(what); }

std::wstring Wide(const json& j, const std::string& field) {
  if (!j.is_string()) Fail(field + " must be a string");
  const std::string s = j.get<std::string>();
  std::wstring out;
  // The descriptions are ASCII: CLSIDs, paths and menu texts of the tests.
  for (unsigned char c : s) {
    if (c >= 0x80) Fail(field + " must be ASCII");
    out.push_back(static_cast<wchar_t>(c));
  }
  return out;
}

HRESULT Hresult(const json& j, const std::string& field) {
  if (j.is_string()) {
    const std::string s = j.get<std::string>();
    char* end = nullptr;
    if (s.rfind("0x", 0) != 0) Fail(field + ": bad text");
    const unsigned long long u = std::strtoull(s.c_str() + 2, &end, 16);
    if (*end || u > UINT_MAX) Fail(field + ": bad text");
    return static_cast<HRESULT>(static_cast<unsigned>(u));
  }
  if (!j.is_number_integer()) Fail(field + " must be a number");
  const long long v = j.get<long long>();
  if (v < INT_MIN || v > static_cast<long long>(UINT_MAX)) Fail(field + " is out of range");
  return static_cast<HRESULT>(static_cast<unsigned>(v));
}

TrayPluginDesc Plugin(const json& j, const std::string& where) {
  if (!j.is_object()) Fail(where + " must be an object");
  for (auto it = j.begin(); it != j.end(); ++it) {
    static const char* known[] = {"clsid", "name",   "path",    "installed",      "roles",
                                  "items", "count", "addResult", "execute", "subscribeResult",
                                  "blockCreationMs"};
    bool ok = false;
    for (const char* k : known) ok = ok || it.key() == k;
    if (!ok) Fail(where + ": unknown member " + it.key());
  }
  TrayPluginDesc d;
  if (!j.contains("clsid")) Fail(where + " needs a clsid");
  d.clsid = Wide(j["clsid"], where + ".clsid");
  d.name = j.contains("name") ? Wide(j["name"], where + ".name") : d.clsid;
  d.path = j.contains("path") ? Wide(j["path"], where + ".path")
                              : L"C:\\Program Files\\Veridane\\" + d.name + L".dll";
  if (j.contains("installed")) {
    if (!j["installed"].is_boolean()) Fail(where + ".installed must be true or false");
    d.installed = j["installed"].get<bool>();
  }
  if (j.contains("roles")) {
    if (!j["roles"].is_array()) Fail(where + ".roles must be a list");
    d.menu = false;
    for (const auto& r : j["roles"]) {
      const std::string role = r.is_string() ? r.get<std::string>() : "";
      if (role == "menu") d.menu = true;
      else if (role == "hostAware") d.hostAware = true;
      else if (role == "subscriber") d.subscriber = true;
      else Fail(where + ".roles: unknown role");
    }
  }
  if (j.contains("items")) {
    if (!j["items"].is_array()) Fail(where + ".items must be a list");
    for (const auto& item : j["items"]) d.items.push_back(Wide(item, where + ".items"));
  }
  d.count = static_cast<UINT>(d.items.size());
  if (j.contains("count")) {
    if (!j["count"].is_number_unsigned() || j["count"].get<unsigned long long>() > UINT_MAX)
      Fail(where + ".count must be a whole number");
    d.count = j["count"].get<UINT>();
  }
  if (j.contains("addResult")) d.addResult = Hresult(j["addResult"], where + ".addResult");
  if (j.contains("subscribeResult"))
    d.subscribeResult = Hresult(j["subscribeResult"], where + ".subscribeResult");
  if (j.contains("blockCreationMs")) {
    if (!j["blockCreationMs"].is_number_unsigned() ||
        j["blockCreationMs"].get<unsigned long long>() > 24ULL * 60 * 60 * 1000)
      Fail(where + ".blockCreationMs must be a whole number of ms up to a day");
    d.blockCreationMs = j["blockCreationMs"].get<DWORD>();
  }
  if (j.contains("execute")) {
    const std::string e = j["execute"].is_string() ? j["execute"].get<std::string>() : "";
    if (e == "record") d.execute = ExecuteAction::Record;
    else if (e == "notify") d.execute = ExecuteAction::Notify;
    else if (e == "console") d.execute = ExecuteAction::Console;
    else if (e == "throw") d.execute = ExecuteAction::Throw;
    else Fail(where + ".execute must be record, notify, console or throw");
  }
  return d;
}

}  // namespace

TrayPluginsDescription TrayPluginsDescription::FromJson(const std::string& text) {
  json j;
  try {
    j = json::parse(text);
  } catch (const json::exception& e) {
    Fail(e.what());
  }
  TrayPluginsDescription d;
  if (!j.is_object() || !j.contains("trayPlugins")) return d;
  if (!j["trayPlugins"].is_array()) Fail("trayPlugins must be a list");
  for (std::size_t i = 0; i < j["trayPlugins"].size(); ++i)
    d.plugins.push_back(Plugin(j["trayPlugins"][i], "trayPlugins[" + std::to_string(i) + "]"));
  return d;
}

}  // namespace plugin_standin
