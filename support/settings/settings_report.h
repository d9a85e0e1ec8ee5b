// What an administrator asks of the settings: every value the agent reads, its effective value
// for the current user and the layer it came from. The reads are the agent's own (the section
// objects and the named-policy query), so the report cannot disagree with the agent.
//
//   const auto rows = settings_report::Build(plat);   // in a process of the user's session
//   std::fputs(settings_report::FormatText(rows).c_str(), stdout);
//   std::fputs(settings_report::FormatJson(rows).c_str(), stdout);
//
// The rows follow the tables of settings_names.h: section "KwAppSettings" (kAll), its
// "QuickActions" sub-key, section "Agent" (kAll), then the named policies (Policies::kAll).
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/settings/settings_names.h"
#include "support/settings/user_settings_get.h"

namespace settings_report {

// The group of the named policies in a report.
inline constexpr const wchar_t* kPoliciesGroup = L"Policies";

struct CReportRow {
  std::wstring group;  // the section ("KwAppSettings", "KwAppSettings\QuickActions", "Agent")
                       // or kPoliciesGroup
  const CAnySetting* setting = nullptr;  // name, type and default
  ULONGLONG number = 0;                  // the effective value of Bool, Dword and Qword
  std::wstring text;                     // the effective value of String
  SettingSource source = SettingSource::BuiltInDefault;
  // S_OK a layer answered, S_FALSE the default applies, a failure when the read failed
  // (then the default is shown).
  HRESULT result = S_FALSE;
};

std::vector<CReportRow> Build(platform::IPlatform& plat);

// "bool", "dword", "string", "qword".
const char* TypeName(SettingType t);
// The value as the table shows it: "true", "3", "Ctrl+Win+72", "0x0000000000000004".
std::wstring ValueText(const CReportRow& row);

// One line per row under a header, columns aligned (UTF-8).
std::string FormatText(const std::vector<CReportRow>& rows);
// {"settings": [{"group", "name", "type", "value", "default", "source", "result"}]}, the
// value and default typed as JSON (booleans, numbers, strings), "result" as "0x%08X" (UTF-8).
std::string FormatJson(const std::vector<CReportRow>& rows);

}  // namespace settings_report
