// Where each effective setting comes from: the reader's record of the layer that answered,
// and the report built on it (rows, text table, JSON).
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "support/result_error.h"
#include "support/settings/settings_report.h"
#include "support/settings/settings_section.h"
#include "support/trace/trace_text.h"
#include "tests/support/faulty_registry.h"
#include "tests/support/settings_test_util.h"

namespace {

using settings_report::CReportRow;
using settingstest::SimSettingsTest;
namespace Kw = SettingNames::KwAppSettings;
namespace Pol = SettingNames::Policies;

const CReportRow& RowOf(const std::vector<CReportRow>& rows, const std::wstring& group,
                        const std::wstring& name) {
  for (const auto& r : rows)
    if (r.group == group && r.setting->name == name) return r;
  ADD_FAILURE() << "no row " << VDTraceNS::WideToUtf8(group) << " / "
                << VDTraceNS::WideToUtf8(name);
  static const CReportRow none{};
  return none;
}

std::string Source(SettingSource s) { return VDTraceNS::WideToUtf8(ToString(s)); }

class SettingsSourceTest : public SimSettingsTest {
 protected:
  std::vector<CReportRow> Report() { return settings_report::Build(Agent()); }
};

// ---- Every layer, seeded on its own -------------------------------------------------------

TEST_F(SettingsSourceTest, EachLayerIsNamedWhenItAnswersAndOnlyThen) {
  // Every layer holds a different value; they are taken away from the top, so each read
  // must name the highest layer left and give its value.
  Reg().SetDword(PoliciesKey(), L"LogonCount", 1);
  LibraryNumber(L"LogonCount", S_OK, VDVAR_UINT32, 2);
  Reg().SetDword(HkcuSection(), L"LogonCount", 3);
  Reg().SetDword(HklmSection(), L"LogonCount", 4);
  Reg().SetDword(Hklm32Section(), L"LogonCount", 5);

  struct Step {
    std::function<void()> removeAbove;
    SettingSource source;
    DWORD value;
  } steps[] = {
      {[] {}, SettingSource::PolicyKey, 1},
      {[&] { ASSERT_TRUE(Reg().DeleteValue(PoliciesKey(), L"LogonCount")); },
       SettingSource::LibraryPolicy, 2},
      // Status S_FALSE turns the library's value into the last resort below the registry.
      {[&] { LibraryNumber(L"LogonCount", S_FALSE, VDVAR_UINT32, 6); }, SettingSource::Hkcu, 3},
      {[&] { ASSERT_TRUE(Reg().DeleteValue(HkcuSection(), L"LogonCount")); }, SettingSource::Hklm,
       4},
      {[&] { ASSERT_TRUE(Reg().DeleteValue(HklmSection(), L"LogonCount")); }, SettingSource::Hklm32,
       5},
      {[&] { ASSERT_TRUE(Reg().DeleteValue(Hklm32Section(), L"LogonCount")); },
       SettingSource::LibraryDefault, 6},
      {[&] { Host().RemovePolicySetting(L"LogonCount"); }, SettingSource::BuiltInDefault,
       Kw::kLogonCount.def},
  };
  for (const auto& s : steps) {
    s.removeAbove();
    SCOPED_TRACE("expected " + Source(s.source));
    // The reader itself, as the agent uses it...
    CKwAppSettings kw(Agent());
    DWORD v = 99;
    const HRESULT hr = kw.GetDword(L"LogonCount", v);
    EXPECT_EQ(Source(kw.Reader().LastSource()), Source(s.source));
    EXPECT_EQ(hr, s.source == SettingSource::BuiltInDefault ? S_FALSE : S_OK);
    // ...and the report's row.
    const auto rows = Report();
    const CReportRow& row = RowOf(rows, Kw::kSection, L"LogonCount");
    EXPECT_EQ(Source(row.source), Source(s.source));
    EXPECT_EQ(row.number, s.value);
  }
}

TEST_F(SettingsSourceTest, TheSourceBelongsToTheLastReadOfTheObject) {
  // One section object reads several values; a stale record would name the layer of an
  // earlier value for one found nowhere.
  Reg().SetDword(HklmSection(), L"LogonCount", 4);
  CKwAppSettings kw(Agent());
  DWORD n = 0;
  ASSERT_EQ(kw.GetDword(L"LogonCount", n), S_OK);
  EXPECT_EQ(kw.Reader().LastSource(), SettingSource::Hklm);
  bool b = false;
  ASSERT_EQ(kw.GetBool(L"SoundFeedback", b), S_FALSE);
  EXPECT_EQ(kw.Reader().LastSource(), SettingSource::BuiltInDefault);
}

TEST_F(SettingsSourceTest, AValueOfTheWrongTypeIsPassedOverForTheNextLayer) {
  // A string where a number belongs, in the policies key and in HKCU.
  Reg().SetString(PoliciesKey(), L"LogonCount", L"7");
  Reg().SetString(HkcuSection(), L"LogonCount", L"3");
  Reg().SetDword(HklmSection(), L"LogonCount", 4);
  // A number where a string belongs, from the library with status S_OK.
  LibraryNumber(L"OpenSecurityManager", S_OK, VDVAR_UINT32, 5);
  Reg().SetString(Hklm32Section(), L"OpenSecurityManager", L"Ctrl+Alt+K");
  // Only 8 bytes of REG_BINARY count for the tokens: 4 bytes in HKCU, a REG_QWORD in HKLM.
  Reg().SetBinary(HkcuSection(), SettingNames::kLastLogonPolicyTokens, {1, 2, 3, 4});
  Reg().SetValue(HklmSection(), SettingNames::kLastLogonPolicyTokens, REG_QWORD,
                 {9, 0, 0, 0, 0, 0, 0, 0});
  Reg().SetBinary(Hklm32Section(), SettingNames::kLastLogonPolicyTokens,
                  {0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01});
  // A bool of the library's other reader that accepts only type 4.
  LibraryNumber(Pol::kCredentialsSelfEnrollment, S_OK, VDVAR_BOOL, 0);

  const auto rows = Report();
  const CReportRow& count = RowOf(rows, Kw::kSection, L"LogonCount");
  EXPECT_EQ(Source(count.source), "HKLM");
  EXPECT_EQ(count.number, 4u);
  const CReportRow& hotkey = RowOf(rows, Kw::kSection, L"OpenSecurityManager");
  EXPECT_EQ(Source(hotkey.source), "HKLM32");
  EXPECT_EQ(hotkey.text, L"Ctrl+Alt+K");
  const CReportRow& tokens = RowOf(rows, Kw::kSection, SettingNames::kLastLogonPolicyTokens);
  EXPECT_EQ(Source(tokens.source), "HKLM32");
  EXPECT_EQ(settings_report::ValueText(tokens), L"0x0102030405060708");
  const CReportRow& self =
      RowOf(rows, settings_report::kPoliciesGroup, Pol::kCredentialsSelfEnrollment);
  EXPECT_EQ(Source(self.source), "Default");
  EXPECT_EQ(self.number, 1u) << "the reader's default: allowed";
}

TEST_F(SettingsSourceTest, LibraryOnlyPoliciesNameTheStatusTheLibraryGave) {
  LibraryNumber(Pol::kDisableRegistrationAtLogon, S_OK, VDVAR_BOOL, 1);
  LibraryNumber(Pol::kStandaloneMode, S_FALSE, VDVAR_UINT32, 3);
  LibraryNumber(Pol::kLockUponSmartcardRemoval, E_FAIL, VDVAR_UINT32, 1);
  LibraryString(Pol::kUserNaggingPeriodReminder, S_OK, L"3");
  // The registry is no layer of these: an HKCU policy value must not show.
  Reg().SetDword(PoliciesKey(), Pol::kStandaloneMode, 0);

  const auto rows = Report();
  struct Expect {
    const wchar_t* name;
    const char* source;
    ULONGLONG value;
  } expected[] = {
      {Pol::kDisableRegistrationAtLogon, "LibraryPolicy", 1},
      {Pol::kStandaloneMode, "LibraryDefault", 1},
      {Pol::kLockUponSmartcardRemoval, "Default", 0},   // negative status: no value
      {Pol::kUserNaggingPeriodReminder, "Default", 1},  // a string is no number
      {Pol::kMsWinbioCompatibility, "Default", 1},      // not set at all
  };
  for (const auto& e : expected) {
    SCOPED_TRACE(VDTraceNS::WideToUtf8(e.name));
    const CReportRow& r = RowOf(rows, settings_report::kPoliciesGroup, e.name);
    EXPECT_EQ(Source(r.source), e.source);
    EXPECT_EQ(r.number, e.value);
  }
  // Every buffer the library handed out went back.
  EXPECT_EQ(Host().Buffers().Outstanding(), 0u);
}

// Without the library the agent takes the host's machine value for the biometric framework
// policy, and so does the report: the value, from HKLM, or 0 when there is none.
class SettingsWithoutLibraryTest : public SimSettingsTest {
 protected:
  SettingsWithoutLibraryTest()
      : SimSettingsTest({}, {.installLibrary = false, .missingExports = {}}) {}
};

TEST_F(SettingsWithoutLibraryTest, TheFrameworkPolicyFallsBackToTheHostValueAsTheAgentDoes) {
  const CReportRow none = RowOf(settings_report::Build(Agent()), settings_report::kPoliciesGroup,
                                Pol::kMsWinbioCompatibility);
  EXPECT_EQ(Source(none.source), "Default");
  EXPECT_EQ(none.number, 0u) << "no library and no host value: no framework reader";

  Reg().SetDword(L"HKLM\\SOFTWARE\\Veridane\\VDHost", L"WBFDevice", 1);
  const CReportRow set = RowOf(settings_report::Build(Agent()), settings_report::kPoliciesGroup,
                               Pol::kMsWinbioCompatibility);
  EXPECT_EQ(Source(set.source), "HKLM");
  EXPECT_EQ(set.number, 1u);
  // A hand-written string does not pass for a reader.
  Reg().SetString(L"HKLM\\SOFTWARE\\Veridane\\VDHost", L"WBFDevice", L"1");
  EXPECT_EQ(RowOf(settings_report::Build(Agent()), settings_report::kPoliciesGroup,
                  Pol::kMsWinbioCompatibility)
                .number,
            0u);
}

TEST_F(SettingsSourceTest, QuickActionPoliciesAreReadInLayersUnderTheirPrefix) {
  // The status of the finger's quick action lives in the HKCU policies key under its prefix;
  // the user's own choice lives in the "KwAppSettings\QuickActions" sub-key.
  Reg().SetDword(PoliciesKey() + L"\\QuickActions", L"QA_Finger", 1);
  Reg().SetString(HklmSection(L"SOFTWARE\\Veridane\\Applications\\KwAppSettings\\QuickActions"),
                  Kw::kQuickActionCtrl, L"Lock");

  const auto rows = Report();
  const CReportRow& status = RowOf(rows, settings_report::kPoliciesGroup, Pol::kQaFingerStatus);
  EXPECT_EQ(Source(status.source), "PolicyKey");
  EXPECT_EQ(status.number, 1u);
  const CReportRow& ctrl = RowOf(rows, Kw::kQuickActionsSection, Kw::kQuickActionCtrl);
  EXPECT_EQ(Source(ctrl.source), "HKLM");
  EXPECT_EQ(ctrl.text, L"Lock");
  const CReportRow& finger = RowOf(rows, Kw::kQuickActionsSection, Kw::kQuickActionFinger);
  EXPECT_EQ(Source(finger.source), "Default");
  EXPECT_EQ(finger.text, L"KwI");
}

TEST_F(SettingsSourceTest, AFailedReadShowsTheDefaultAndItsFailure) {
  const HRESULT failure = HRESULT_FROM_WIN32(ERROR_KEY_DELETED);
  Reg().SetDword(HkcuSection(), L"LogonCount", 3);
  settingstest::FaultyPlatform plat(Agent());
  plat.Reg().beforeQuery = [failure] { throw CResultError(failure); };

  const auto rows = settings_report::Build(plat);
  const CReportRow& count = RowOf(rows, Kw::kSection, L"LogonCount");
  EXPECT_EQ(count.result, failure);
  EXPECT_EQ(Source(count.source), "Default");
  EXPECT_EQ(count.number, Kw::kLogonCount.def);
  EXPECT_NE(settings_report::FormatText(rows).find("read failed 0x800703FA"), std::string::npos);
}

TEST_F(SettingsSourceTest, TheReportChangesNothing) {
  // A section object opens (creating) the user's key for writing; the report must not.
  const std::wstring kwKey = HkcuSection();
  const std::wstring agentKey = HkcuSection(L"SOFTWARE\\Veridane\\Applications\\Agent");
  ASSERT_FALSE(Reg().KeyExists(kwKey));
  (void)Report();
  EXPECT_FALSE(Reg().KeyExists(kwKey));
  EXPECT_FALSE(Reg().KeyExists(agentKey));
}

// ---- Completeness and output --------------------------------------------------------------

// The declarations of settings_names.h, namespace by namespace, as written in the source.
std::map<std::string, std::set<std::string>> DeclaredSettings() {
  std::ifstream in(VD_SETTINGS_NAMES_H);
  std::stringstream text;
  text << in.rdbuf();
  std::map<std::string, std::set<std::string>> out;
  std::string ns;
  std::istringstream lines(text.str());
  const std::regex nsRe(R"(^namespace (\w+) \{)");
  const std::regex settingRe(R"(C(Bool|Dword|String)Setting k\w+\{\s*L\"([^\"]+)\")");
  std::string pending;
  for (std::string line; std::getline(lines, line);) {
    std::smatch m;
    if (std::regex_search(line, m, nsRe)) ns = m[1];
    // A declaration may wrap after its brace.
    const std::string joined = pending + line;
    if (std::regex_search(joined, m, settingRe)) {
      out[ns].insert(m[2]);
      pending.clear();
    } else {
      pending = (line.find("Setting k") != std::string::npos) ? line : "";
    }
  }
  return out;
}

template <typename List>
std::set<std::string> NamesOf(const List& list) {
  std::set<std::string> out;
  for (const CAnySetting& s : list) out.insert(VDTraceNS::WideToUtf8(s.name));
  return out;
}

TEST(SettingsTables, EveryDeclaredSettingIsInItsSectionList) {
  const auto declared = DeclaredSettings();
  ASSERT_FALSE(declared.empty()) << "cannot read " << VD_SETTINGS_NAMES_H;
  auto kw = NamesOf(Kw::kAll);
  kw.erase(VDTraceNS::WideToUtf8(SettingNames::kLastLogonPolicyTokens));
  EXPECT_EQ(kw, declared.at("KwAppSettings"));
  EXPECT_EQ(NamesOf(SettingNames::Agent::kAll), declared.at("Agent"));
  // The named policies are plain names: every one declared is listed.
  std::set<std::string> listed;
  for (const auto& p : Pol::kAll) listed.insert(VDTraceNS::WideToUtf8(p.setting.name));
  EXPECT_EQ(listed.size(), std::size(Pol::kAll)) << "a policy is listed twice";
  std::ifstream in(VD_SETTINGS_NAMES_H);
  std::stringstream text;
  text << in.rdbuf();
  const std::string src = text.str();
  const auto polStart = src.find("namespace Policies {");
  const auto polEnd = src.find("enum class PolicyRead", polStart);
  ASSERT_NE(polEnd, std::string::npos);
  const std::string polText = src.substr(polStart, polEnd - polStart);
  const std::regex nameRe(R"(=\s*L\"([^\"]+)\";)");
  std::set<std::string> declaredPolicies;
  for (auto it = std::sregex_iterator(polText.begin(), polText.end(), nameRe);
       it != std::sregex_iterator(); ++it) {
    std::string n = (*it)[1];
    // The source spells a backslash as two.
    for (std::size_t p; (p = n.find("\\\\")) != std::string::npos;) n.erase(p, 1);
    declaredPolicies.insert(n);
  }
  declaredPolicies.erase("QuickActions");  // the section of the quick-action policies
  EXPECT_EQ(listed, declaredPolicies);
}

TEST_F(SettingsSourceTest, TheJsonIsValidAndHoldsEveryTableEntryOnce) {
  // A string that needs escaping, and a value that is not the default.
  Reg().SetString(HkcuSection(), L"OpenSecurityManager", L"a\"b\\c\n\x01");
  Reg().SetDword(HklmSection(L"SOFTWARE\\Veridane\\Applications\\Agent"), L"SaveFeedbackIconX",
                 640);
  const auto rows = Report();
  const nlohmann::json j = nlohmann::json::parse(settings_report::FormatJson(rows));
  const auto& list = j.at("settings");

  std::multiset<std::pair<std::string, std::string>> seen;
  for (const auto& e : list) {
    seen.insert({e.at("group").get<std::string>(), e.at("name").get<std::string>()});
    const std::string type = e.at("type");
    const auto& v = e.at("value");
    SCOPED_TRACE(e.dump());
    if (type == "bool") {
      EXPECT_TRUE(v.is_boolean());
    } else if (type == "dword" || type == "qword") {
      EXPECT_TRUE(v.is_number_unsigned());
    } else {
      EXPECT_EQ(type, "string");
      EXPECT_TRUE(v.is_string());
    }
    EXPECT_EQ(e.at("default").type(), v.type());
    EXPECT_TRUE(e.at("source").is_string());
  }
  std::multiset<std::pair<std::string, std::string>> expected;
  auto add = [&](const std::wstring& group, const CAnySetting& s) {
    expected.insert({VDTraceNS::WideToUtf8(group), VDTraceNS::WideToUtf8(s.name)});
  };
  for (const auto& s : Kw::kAll) add(Kw::kSection, s);
  for (const auto& s : Kw::kQuickActions) add(Kw::kQuickActionsSection, s);
  for (const auto& s : SettingNames::Agent::kAll) add(SettingNames::Agent::kSection, s);
  for (const auto& p : Pol::kAll) add(settings_report::kPoliciesGroup, p.setting);
  EXPECT_EQ(seen, expected);

  for (const auto& e : list) {
    if (e.at("name") == "OpenSecurityManager") {
      EXPECT_EQ(e.at("value"), "a\"b\\c\n\x01");
      EXPECT_EQ(e.at("source"), "HKCU");
      EXPECT_EQ(e.at("default"), "Ctrl+Win+72");
    }
    if (e.at("name") == "SaveFeedbackIconX") {
      EXPECT_EQ(e.at("value"), 640);
      EXPECT_EQ(e.at("source"), "HKLM");
      EXPECT_EQ(e.at("result"), "0x00000000");
    }
  }
}

TEST_F(SettingsSourceTest, TheTextTableAlignsItsColumns) {
  Reg().SetDword(HkcuSection(), L"LogonCount", 2);
  const std::string text = settings_report::FormatText(Report());
  std::istringstream lines(text);
  std::string header;
  std::getline(lines, header);
  const auto sourceCol = header.find("SOURCE");
  ASSERT_NE(sourceCol, std::string::npos);
  bool sawCount = false;
  for (std::string line; std::getline(lines, line);) {
    SCOPED_TRACE(line);
    EXPECT_EQ(line[sourceCol - 1], ' ');
    EXPECT_NE(line[sourceCol], ' ');
    if (line.rfind("KwAppSettings ", 0) == 0 && line.find(" LogonCount ") != std::string::npos) {
      sawCount = true;
      EXPECT_EQ(line.substr(sourceCol), "HKCU");
    }
  }
  EXPECT_TRUE(sawCount);
}

}  // namespace
