#include "support/settings/settings_report.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "support/settings/host_settings.h"
#include "support/settings/policy_library.h"
#include "support/settings/policy_settings.h"
#include "support/settings/settings_section.h"
#include "support/trace/trace.h"
#include "support/trace/trace_text.h"
#include "support/vdfp/vdfp_api.h"

namespace settings_report {
namespace {

using VDTraceNS::WideToUtf8;

CReportRow DefaultRow(std::wstring group, const CAnySetting& s) {
  CReportRow row;
  row.group = std::move(group);
  row.setting = &s;
  row.number = s.number;
  row.text = s.text ? s.text : L"";
  return row;
}

// One value through the section's own reader, which records the layer that answered. The
// reader alone: a whole section object would open (and create) the user's key for writing,
// and a report changes nothing.
CReportRow ReadSectionValue(CUserSettingsGet& get, std::wstring group, const CAnySetting& s) {
  CReportRow row = DefaultRow(std::move(group), s);
  switch (s.type) {
    case SettingType::Bool: {
      bool v = s.number != 0;
      row.result = get.GetBool(s.name, v);
      row.number = v ? 1 : 0;
      break;
    }
    case SettingType::Dword: {
      DWORD v = static_cast<DWORD>(s.number);
      row.result = get.GetDword(s.name, v);
      row.number = v;
      break;
    }
    case SettingType::String:
      row.result = get.GetString(s.name, row.text);
      break;
    case SettingType::Qword:
      // The only 64-bit value; its getter names it itself.
      row.result = get.GetLastLogonPolicyTokens(row.number);
      break;
  }
  row.source = get.LastSource();
  // A failed read leaves the out-variable as it was: show the default it started from.
  if (FAILED(row.result)) {
    row.number = s.number;
    row.text = s.text ? s.text : L"";
  }
  return row;
}

// A named policy read through the library's query alone, as its reader does (GPO::get, or
// a type-4 value only for LibraryUInt32): any non-negative status applies, no registry layer.
CReportRow ReadLibraryPolicy(platform::IPlatform& plat, GPO::IPolicyLibrary& lib,
                             const SettingNames::Policies::CPolicyEntry& e) {
  CReportRow row = DefaultRow(kPoliciesGroup, e.setting);
  GPO::CPolicyItem item(lib, e.setting.name);
  if (FAILED(item.Query())) {
    // No library or no query: the reader's default, or the host's machine value it asks.
    if (e.read == SettingNames::Policies::PolicyRead::LibraryElseWbfDevice) {
      VDTraceNS::CScope ts("settings_report::ReadWBFDevice");
      const auto v = HostSettings::ReadWBFDevice(plat.Registry(), ts);
      row.number = v.value;
      row.result = v.found ? S_OK : S_FALSE;
      if (v.found) row.source = SettingSource::Hklm;
    }
    return row;
  }
  const VDFP_POLICY_ITEM& it = item.Item();
  std::optional<ULONGLONG> v;
  if (e.read == SettingNames::Policies::PolicyRead::LibraryUInt32) {
    if (SUCCEEDED(it.hrStatus) && it.Value.VarType == VDVAR_UINT32) v = it.Value.ulVal != 0;
  } else if (e.setting.type == SettingType::Bool) {
    if (const auto b = GPO::TryGet<bool>(it)) v = *b ? 1 : 0;
  } else if (const auto d = GPO::TryGet<DWORD>(it)) {
    v = *d;
  }
  if (!v) return row;
  row.number = *v;
  row.result = S_OK;
  row.source = it.hrStatus == S_OK ? SettingSource::LibraryPolicy : SettingSource::LibraryDefault;
  return row;
}

void AppendSection(platform::IPlatform& plat, const wchar_t* group, const CAnySetting* begin,
                   const CAnySetting* end, std::vector<CReportRow>& rows) {
  CUserSettingsGet section(plat, CSettingsSection::KeyPath(group));
  for (const CAnySetting* s = begin; s != end; ++s)
    rows.push_back(ReadSectionValue(section, group, *s));
}

std::string JsonString(std::wstring_view text) {
  const std::string utf8 = WideToUtf8(text);
  std::string out = "\"";
  for (const char c : utf8) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
          out += buf;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::string JsonValue(SettingType type, ULONGLONG number, std::wstring_view text) {
  switch (type) {
    case SettingType::Bool:
      return number ? "true" : "false";
    case SettingType::String:
      return JsonString(text);
    case SettingType::Dword:
    case SettingType::Qword:
      break;
  }
  return std::to_string(number);
}

}  // namespace

std::vector<CReportRow> Build(platform::IPlatform& plat) {
  namespace Kw = SettingNames::KwAppSettings;
  namespace Pol = SettingNames::Policies;
  std::vector<CReportRow> rows;
  AppendSection(plat, Kw::kSection, std::begin(Kw::kAll), std::end(Kw::kAll), rows);
  AppendSection(plat, Kw::kQuickActionsSection, std::begin(Kw::kQuickActions),
                std::end(Kw::kQuickActions), rows);
  AppendSection(plat, SettingNames::Agent::kSection, std::begin(SettingNames::Agent::kAll),
                std::end(SettingNames::Agent::kAll), rows);

  // One binding of the library for every library-only policy, as a reader's own binding.
  CVDFPApiWr api(plat);
  auto lib = GPO::PolicyLibrary(api);
  CUserSettingsGet quickActions(plat, CSettingsSection::KeyPath(Pol::kQuickActionsSection));
  for (const auto& e : Pol::kAll) {
    if (e.read == Pol::PolicyRead::Section) {
      CReportRow row = ReadSectionValue(quickActions, kPoliciesGroup, e.setting);
      rows.push_back(std::move(row));
    } else {
      rows.push_back(ReadLibraryPolicy(plat, lib, e));
    }
  }
  return rows;
}

const char* TypeName(SettingType t) {
  switch (t) {
    case SettingType::Bool:
      return "bool";
    case SettingType::Dword:
      return "dword";
    case SettingType::String:
      return "string";
    case SettingType::Qword:
      return "qword";
  }
  return "?";
}

std::wstring ValueText(const CReportRow& row) {
  switch (row.setting->type) {
    case SettingType::Bool:
      return row.number ? L"true" : L"false";
    case SettingType::Dword:
      return std::to_wstring(row.number);
    case SettingType::String:
      return row.text;
    case SettingType::Qword: {
      wchar_t buf[24];
      std::swprintf(buf, 24, L"0x%016llX", static_cast<unsigned long long>(row.number));
      return buf;
    }
  }
  return L"";
}

std::string FormatText(const std::vector<CReportRow>& rows) {
  struct Line {
    std::string cells[5];
  };
  std::vector<Line> lines;
  lines.push_back({{"SECTION", "NAME", "TYPE", "VALUE", "SOURCE"}});
  for (const auto& r : rows) {
    std::string source = WideToUtf8(ToString(r.source));
    if (FAILED(r.result)) {
      char buf[32];
      std::snprintf(buf, sizeof buf, " (read failed 0x%08X)", static_cast<unsigned>(r.result));
      source += buf;
    }
    lines.push_back({{WideToUtf8(r.group), WideToUtf8(r.setting->name), TypeName(r.setting->type),
                      WideToUtf8(ValueText(r)), source}});
  }
  std::size_t width[4] = {};
  for (const auto& l : lines)
    for (int c = 0; c < 4; ++c) width[c] = std::max(width[c], l.cells[c].size());
  std::string out;
  for (const auto& l : lines) {
    for (int c = 0; c < 4; ++c) {
      out += l.cells[c];
      out.append(width[c] - l.cells[c].size() + 2, ' ');
    }
    out += l.cells[4];
    out += '\n';
  }
  return out;
}

std::string FormatJson(const std::vector<CReportRow>& rows) {
  std::string out = "{\"settings\": [";
  bool first = true;
  for (const auto& r : rows) {
    const CAnySetting& s = *r.setting;
    char result[16];
    std::snprintf(result, sizeof result, "0x%08X", static_cast<unsigned>(r.result));
    out += first ? "\n  " : ",\n  ";
    first = false;
    out += "{\"group\": " + JsonString(r.group) + ", \"name\": " + JsonString(s.name) +
           ", \"type\": \"" + TypeName(s.type) +
           "\", \"value\": " + JsonValue(s.type, r.number, r.text) +
           ", \"default\": " + JsonValue(s.type, s.number, s.text ? s.text : L"") +
           ", \"source\": " + JsonString(ToString(r.source)) + ", \"result\": \"" + result + "\"}";
  }
  out += "\n]}\n";
  return out;
}

}  // namespace settings_report
