// The layered settings read and the per-user writer on the simulated machine, with the
// stand-in authentication library answering the policy query.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/settings/logon_settings.h"
#include "support/settings/settings_section.h"
#include "tests/support/settings_test_util.h"

namespace {

using settingstest::kKwPath;
using settingstest::SimSettingsTest;
namespace Kw = SettingNames::KwAppSettings;

class SettingsReadTest : public SimSettingsTest {
 protected:
  // One read of a 32-bit number with a fresh section object, as the handlers do.
  DWORD ReadDword(const wchar_t* name, DWORD def, HRESULT* hr = nullptr) {
    CKwAppSettings kw(Agent());
    DWORD v = def;
    const HRESULT r = kw.GetDword(name, v);
    if (hr) *hr = r;
    return v;
  }
  std::wstring ReadString(const wchar_t* name, const wchar_t* def, HRESULT* hr = nullptr) {
    CKwAppSettings kw(Agent());
    std::wstring v = def;
    const HRESULT r = kw.GetString(name, v);
    if (hr) *hr = r;
    return v;
  }
  unsigned PolicyQueries() { return Host().CallCount("VDFPGetPolicySettingsEx"); }
};

// ---- Precedence ----------------------------------------------------------------------------

TEST_F(SettingsReadTest, AnOverridingPolicyBeatsEveryRegistrySource) {
  Reg().SetDword(HkcuSection(), L"LogonCount", 3);
  Reg().SetDword(HklmSection(), L"LogonCount", 4);
  Reg().SetDword(Hklm32Section(), L"LogonCount", 5);
  LibraryNumber(L"LogonCount", S_OK, VDVAR_UINT32, 2);
  Reg().SetDword(PoliciesKey(), L"LogonCount", 1);

  // The HKCU policies key answers first, and then the library is not even asked.
  HRESULT hr = E_FAIL;
  const unsigned before = PolicyQueries();
  EXPECT_EQ(ReadDword(L"LogonCount", 99, &hr), 1u);
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(PolicyQueries(), before);

  // Without it, a library value with status S_OK still overrides the registry.
  ASSERT_TRUE(Reg().DeleteValue(PoliciesKey(), L"LogonCount"));
  EXPECT_EQ(ReadDword(L"LogonCount", 99, &hr), 2u);
  EXPECT_EQ(hr, S_OK);
}

TEST_F(SettingsReadTest, EachRegistrySourceAnswersOnlyWhenTheOnesBeforeAreSilent) {
  Reg().SetDword(HkcuSection(), L"LogonCount", 3);
  Reg().SetDword(HklmSection(), L"LogonCount", 4);
  Reg().SetDword(Hklm32Section(), L"LogonCount", 5);
  // Status S_FALSE: the policy's value is only a default for when the registry has none.
  LibraryNumber(L"LogonCount", S_FALSE, VDVAR_UINT32, 6);

  struct Step {
    std::wstring removeFrom;  // empty: nothing removed before this read
    DWORD expected;
    HRESULT hr;
  } steps[] = {
      {L"", 3, S_OK},
      {HkcuSection(), 4, S_OK},
      {HklmSection(), 5, S_OK},
      {Hklm32Section(), 6, S_OK},
  };
  for (const auto& s : steps) {
    if (!s.removeFrom.empty()) {
      ASSERT_TRUE(Reg().DeleteValue(s.removeFrom, L"LogonCount"));
    }
    HRESULT hr = E_FAIL;
    EXPECT_EQ(ReadDword(L"LogonCount", 99, &hr), s.expected);
    EXPECT_EQ(hr, s.hr);
  }
  // Nothing anywhere: S_FALSE and the caller's default stays.
  Host().RemovePolicySetting(L"LogonCount");
  HRESULT hr = E_FAIL;
  EXPECT_EQ(ReadDword(L"LogonCount", 99, &hr), 99u);
  EXPECT_EQ(hr, S_FALSE);
}

TEST_F(SettingsReadTest, TheNativeViewIsAskedBeforeThe32BitViewOn64BitWindows) {
  // The agent is a 32-bit process: without the 64-bit view flag its HKLM read would land in
  // the 32-bit view and take the wrong value first.
  Reg().SetDword(HklmSection(), L"LogonCount", 4);
  Reg().SetDword(Hklm32Section(), L"LogonCount", 5);
  CKwAppSettings kw(Agent());
  EXPECT_EQ(kw.Reader().SourceCount(), 3u);
  DWORD v = 0;
  EXPECT_EQ(kw.GetDword(L"LogonCount", v), S_OK);
  EXPECT_EQ(v, 4u);
}

class ThirtyTwoBitWindowsTest : public SimSettingsTest {
 protected:
  ThirtyTwoBitWindowsTest() : SimSettingsTest(ThirtyTwoBit()) {}
  static sim::MachineDescription ThirtyTwoBit() {
    sim::MachineDescription d;
    d.is64BitWindows = false;
    return d;
  }
};

TEST_F(ThirtyTwoBitWindowsTest, OnlyHkcuAndHklmAreAsked) {
  CKwAppSettings kw(Agent());
  EXPECT_EQ(kw.Reader().SourceCount(), 2u);
  Reg().SetDword(HklmSection(), L"LogonCount", 4);
  DWORD v = 0;
  EXPECT_EQ(kw.GetDword(L"LogonCount", v), S_OK);
  EXPECT_EQ(v, 4u);
  // A writer on 32-bit Windows asks for no view: its key is the plain HKCU one.
  kw.SetDword(L"LogonCount", 2);
  EXPECT_EQ(Reg().GetDword(HkcuSection(), L"LogonCount"), 2u);
}

// ---- The library's status and types -------------------------------------------------------

TEST_F(SettingsReadTest, LibraryStatusDecidesWhetherItsValueOverridesOrOnlyDefaults) {
  Reg().SetString(HkcuSection(), L"OpenSecurityManager", L"Ctrl+Alt+K");
  LibraryString(L"OpenSecurityManager", S_FALSE, L"Ctrl+Win+P");
  EXPECT_EQ(ReadString(L"OpenSecurityManager", L"x"), L"Ctrl+Alt+K");
  LibraryString(L"OpenSecurityManager", S_OK, L"Ctrl+Win+P");
  EXPECT_EQ(ReadString(L"OpenSecurityManager", L"x"), L"Ctrl+Win+P");
  // A negative status is no value at all, even with nothing in the registry.
  ASSERT_TRUE(Reg().DeleteValue(HkcuSection(), L"OpenSecurityManager"));
  LibraryString(L"OpenSecurityManager", HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), L"Ctrl+Win+P");
  HRESULT hr = E_FAIL;
  EXPECT_EQ(ReadString(L"OpenSecurityManager", L"x", &hr), L"x");
  EXPECT_EQ(hr, S_FALSE);
  // Every string the library handed out went back to it.
  EXPECT_EQ(Host().Buffers().Outstanding(), 0u);
}

TEST_F(SettingsReadTest, BooleansTakeTheLibrarysBooleanAndNumberTypes) {
  CKwAppSettings kw(Agent());
  struct Case {
    DWORD type;
    ULONGLONG value;
    bool preset;
    bool expected;
  } cases[] = {
      {VDVAR_BOOL, 1, false, true},    {VDVAR_BOOL, 0, true, false},
      {VDVAR_UINT32, 7, false, true},  {VDVAR_INT32, 0, true, false},
      {VDVAR_UINT64, 1, false, false},  // not a boolean type: the preset stays
  };
  for (const auto& c : cases) {
    LibraryNumber(L"SoundFeedback", S_OK, c.type, c.value);
    bool v = c.preset;
    kw.GetBool(L"SoundFeedback", v);
    EXPECT_EQ(v, c.expected) << "type " << c.type << " value " << c.value;
  }
}

TEST_F(SettingsReadTest, ANumberTakesOnlyTheLibrarysNumberTypesNeverItsBoolean) {
  // A boolean policy is no count: with it overriding, the registry still answers.
  Reg().SetDword(HkcuSection(), L"LogonCount", 3);
  LibraryNumber(L"LogonCount", S_OK, VDVAR_BOOL, 1);
  HRESULT hr = E_FAIL;
  EXPECT_EQ(ReadDword(L"LogonCount", 99, &hr), 3u);
  EXPECT_EQ(hr, S_OK);
  // Nor is it a default: with the registry silent the caller's value stays.
  ASSERT_TRUE(Reg().DeleteValue(HkcuSection(), L"LogonCount"));
  LibraryNumber(L"LogonCount", S_FALSE, VDVAR_BOOL, 1);
  EXPECT_EQ(ReadDword(L"LogonCount", 99, &hr), 99u);
  EXPECT_EQ(hr, S_FALSE);
  // Both 32-bit number types are taken, as override and as default.
  const struct {
    HRESULT status;
    DWORD type;
  } taken[] = {
      {S_OK, VDVAR_INT32}, {S_OK, VDVAR_UINT32}, {S_FALSE, VDVAR_INT32}, {S_FALSE, VDVAR_UINT32}};
  for (const auto& c : taken) {
    LibraryNumber(L"LogonCount", c.status, c.type, 5);
    EXPECT_EQ(ReadDword(L"LogonCount", 99, &hr), 5u) << "status " << c.status << " type " << c.type;
    EXPECT_EQ(hr, S_OK);
  }
}

// ---- Registry types ----------------------------------------------------------------------

TEST_F(SettingsReadTest, ValuesOfTheWrongTypeAreSkipped) {
  // A string where a number belongs, in HKCU: HKLM's number is taken.
  Reg().SetString(HkcuSection(), L"LogonCount", L"7");
  Reg().SetDword(HklmSection(), L"LogonCount", 4);
  EXPECT_EQ(ReadDword(L"LogonCount", 99), 4u);

  // A REG_DWORD of the wrong size is no number either.
  Reg().SetValue(HklmSection(), L"LogonCount", REG_DWORD, {1, 0, 0, 0, 0, 0, 0, 0});
  Reg().SetDword(Hklm32Section(), L"LogonCount", 5);
  EXPECT_EQ(ReadDword(L"LogonCount", 99), 5u);

  // A library value of another type, even overriding, gives way to the registry.
  LibraryString(L"LogonCount", S_OK, L"12");
  EXPECT_EQ(ReadDword(L"LogonCount", 99), 5u);
  EXPECT_EQ(Host().Buffers().Outstanding(), 0u);

  // A number where a string belongs is skipped; an expandable string is taken unexpanded.
  Reg().SetDword(HkcuSection(), L"NaggingPeriodTimestamp", 20240101);
  Reg().SetString(HklmSection(), L"NaggingPeriodTimestamp", L"%DATE%", REG_EXPAND_SZ);
  EXPECT_EQ(ReadString(L"NaggingPeriodTimestamp", L"x"), L"%DATE%");
}

TEST_F(SettingsReadTest, APolicyKeyValueOfAnotherTypeFallsToTheLibrary) {
  Reg().SetBinary(PoliciesKey(), L"LogonCount", {1, 0, 0, 0});
  LibraryNumber(L"LogonCount", S_OK, VDVAR_UINT32, 9);
  Reg().SetDword(HkcuSection(), L"LogonCount", 3);
  EXPECT_EQ(ReadDword(L"LogonCount", 99), 9u);
}

TEST_F(SettingsReadTest, AStringWithoutItsTerminatorReadsWhole) {
  // Written by a careless tool: the bytes of "abc" with no terminating zero.
  std::vector<BYTE> bytes(3 * sizeof(wchar_t), 0);
  const wchar_t text[] = L"abc";
  std::memcpy(bytes.data(), text, bytes.size());
  Reg().SetValue(HkcuSection(), L"OpenSecurityManager", REG_SZ, bytes);
  EXPECT_EQ(ReadString(L"OpenSecurityManager", L"x"), L"abc");
  Reg().SetValue(PoliciesKey(), L"OpenSecurityManager", REG_SZ, bytes);
  EXPECT_EQ(ReadString(L"OpenSecurityManager", L"x"), L"abc");
  EXPECT_EQ(Host().Buffers().Outstanding(), 0u);
}

TEST_F(SettingsReadTest, LastLogonPolicyTokensAreOnlyAnEightByteBinary) {
  Reg().SetQword(HkcuSection(), L"LastLogonPolicyTokens", 0x11);
  Reg().SetBinary(HklmSection(), L"LastLogonPolicyTokens", {0x22, 0, 0, 0});
  Reg().SetBinary(Hklm32Section(), L"LastLogonPolicyTokens", {0x82, 0, 0, 0, 0, 0, 0, 0x01});
  {
    CKwAppSettings kw(Agent());
    EXPECT_EQ(kw.GetLastLogonPolicyTokens(), 0x0100000000000082ull);
  }
  // A 32-bit library value is not a 64-bit mask; a 64-bit one overrides.
  LibraryNumber(L"LastLogonPolicyTokens", S_OK, VDVAR_UINT32, 0x5);
  EXPECT_EQ(CKwAppSettings(Agent()).GetLastLogonPolicyTokens(), 0x0100000000000082ull);
  LibraryNumber(L"LastLogonPolicyTokens", S_OK, VDVAR_INT64, 0x4000000000000001ull);
  EXPECT_EQ(CKwAppSettings(Agent()).GetLastLogonPolicyTokens(), 0x4000000000000001ull);
}

TEST_F(SettingsReadTest, NothingStoredGivesTheTableDefaults) {
  CKwAppSettings kw(Agent());
  EXPECT_EQ(kw.GetLastLogonPolicyTokens(), 0u);
  EXPECT_EQ(kw.GetOpenSecurityManager(), L"Ctrl+Win+72");
  EXPECT_EQ(kw.GetNaggingPeriodTimestamp(), L"1899-12-30");
  EXPECT_TRUE(kw.Get(Kw::kShowTaskbarIcon));
  EXPECT_FALSE(kw.Get(Kw::kOOBEPassed));
  CAgentSettings agent(Agent());
  EXPECT_FALSE(agent.GetReenrollmentPromptDoNotBotherAgain());
  EXPECT_TRUE(agent.Get(SettingNames::Agent::kShowUserWizard));
  EXPECT_EQ(agent.Get(SettingNames::Agent::kFingerprintBalloonCtr), 3u);
  EXPECT_EQ(agent.Get(SettingNames::Agent::kSaveFeedbackIconX), 10u);
}

// ---- Names with a path --------------------------------------------------------------------

TEST_F(SettingsReadTest, APrefixedNameIsLookedUpUnderItsPathWhileTheLibraryGetsItWhole) {
  const wchar_t* name = SettingNames::Policies::kUserNaggingPeriodReminder;
  const std::wstring prefixKey =
      PoliciesKey() + L"\\Applications\\{5ED04F3F-AC3E-4BE0-A157-782B204E2B8C}";
  // The leaf under the policies key itself is not the policy.
  Reg().SetDword(PoliciesKey(), L"LogonPolicyUserNaggingPeriodReminder", 7);
  HRESULT hr = E_FAIL;
  EXPECT_EQ(ReadDword(name, 99, &hr), 99u);
  EXPECT_EQ(hr, S_FALSE);

  Reg().SetDword(prefixKey, L"LogonPolicyUserNaggingPeriodReminder", 14);
  EXPECT_EQ(ReadDword(name, 99), 14u);

  // The library knows the policy by its whole name.
  ASSERT_TRUE(Reg().DeleteValue(prefixKey, L"LogonPolicyUserNaggingPeriodReminder"));
  LibraryNumber(name, S_OK, VDVAR_UINT32, 30);
  EXPECT_EQ(ReadDword(name, 99), 30u);

  // A string under a prefix path, read into a library block and given back.
  Reg().SetString(PoliciesKey() + L"\\QuickActions", L"Finger", L"Lock");
  EXPECT_EQ(ReadString(L"QuickActions\\Finger", L""), L"Lock");
  EXPECT_EQ(Host().Buffers().Outstanding(), 0u);
}

// ---- The library's presence ----------------------------------------------------------------

class SettingsWithoutPolicyQueryTest : public SimSettingsTest {
 protected:
  SettingsWithoutPolicyQueryTest()
      : SimSettingsTest({}, {.missingExports = {"VDFPGetPolicySettingsEx", "VDFPBufferAlloc"}}) {}
};

TEST_F(SettingsWithoutPolicyQueryTest, TheRegistryAloneDecides) {
  Reg().SetString(HkcuSection(), L"OpenSecurityManager", L"Ctrl+Alt+K");
  // Without the allocator a string in the policies key cannot be carried: it is skipped.
  Reg().SetString(PoliciesKey(), L"OpenSecurityManager", L"Ctrl+Win+P");
  Reg().SetDword(PoliciesKey(), L"LogonCount", 1);
  Reg().SetDword(HkcuSection(), L"LogonCount", 3);
  CKwAppSettings kw(Agent());
  std::wstring hotkey = L"x";
  EXPECT_EQ(kw.GetString(L"OpenSecurityManager", hotkey), S_OK);
  EXPECT_EQ(hotkey, L"Ctrl+Alt+K");
  DWORD count = 0;
  EXPECT_EQ(kw.GetDword(L"LogonCount", count), S_OK);
  EXPECT_EQ(count, 1u);
}

// ---- Writing ----------------------------------------------------------------------------------

TEST_F(SettingsReadTest, WritesGoToHkcuOnlyWithTheirRegistryTypes) {
  {
    CKwAppSettings kw(Agent());
    ASSERT_TRUE(kw.IsWritable());
    kw.SetOOBEPassed();
    kw.SetDword(L"LogonCount", 4);
    kw.Set(Kw::kNaggingPeriodTimestamp, L"2026-03-02");
    kw.SetLastLogonPolicyTokens(0x0102030405060708ull);
  }
  const std::wstring hkcu = HkcuSection();
  EXPECT_EQ(Reg().GetDword(hkcu, L"OOBEPassed"), 1u);
  EXPECT_EQ(Reg().GetDword(hkcu, L"LogonCount"), 4u);
  const auto stamp = Reg().GetValue(hkcu, L"NaggingPeriodTimestamp");
  ASSERT_TRUE(stamp);
  EXPECT_EQ(stamp->first, DWORD{REG_SZ});
  EXPECT_EQ(stamp->second.size(), 11 * sizeof(wchar_t)) << "the terminating zero is stored";
  const auto tokens = Reg().GetValue(hkcu, L"LastLogonPolicyTokens");
  ASSERT_TRUE(tokens);
  EXPECT_EQ(tokens->first, DWORD{REG_BINARY});
  EXPECT_EQ(tokens->second, (std::vector<BYTE>{8, 7, 6, 5, 4, 3, 2, 1}));
  // Nothing reaches the machine's keys.
  EXPECT_FALSE(Reg().KeyExists(HklmSection()));
  EXPECT_FALSE(Reg().KeyExists(Hklm32Section()));
  // What was written reads back, over a machine default.
  Reg().SetDword(HklmSection(), L"LogonCount", 1);
  CKwAppSettings kw(Agent());
  EXPECT_EQ(kw.GetLastLogonPolicyTokens(), 0x0102030405060708ull);
  EXPECT_EQ(ReadDword(L"LogonCount", 0), 4u);
  // Writing alone never binds the library; reading binds it once per section and balances
  // its own initialisation.
  EXPECT_EQ(Host().CallCount("VDFPInit"), Host().CallCount("VDFPTerm") + 1);
}

TEST_F(SettingsReadTest, WritingAloneLeavesTheLibraryAlone) {
  { CAgentSettings(Agent()).Set(SettingNames::Agent::kShowUserWizard, false); }
  EXPECT_EQ(
      Reg().GetDword(HkcuSection(L"SOFTWARE\\Veridane\\Applications\\Agent"), L"ShowUserWizard"),
      0u);
  EXPECT_EQ(Host().CallCount("VDFPInit"), 0u);
}

TEST_F(SettingsReadTest, ASectionNamedWithASubKeyLivesUnderTheApplicationsKey) {
  CSettingsSection qa(Agent(), Kw::kQuickActionsSection);
  EXPECT_EQ(qa.Path(), L"SOFTWARE\\Veridane\\Applications\\KwAppSettings\\QuickActions");
  qa.SetString(Kw::kQuickActionCtrl, L"Lock");
  EXPECT_EQ(Reg().GetString(HkcuSection(L"SOFTWARE\\Veridane\\Applications\\KwAppSettings"
                                        L"\\QuickActions"),
                            L"F+Ctrl"),
            L"Lock");
}

// ---- The per-session logon record ------------------------------------------------------------

class LogonSettingsTest : public SimSettingsTest {
 protected:
  // The record is read in the process's default view: the 32-bit one for the 32-bit agent.
  std::wstring Record(DWORD session) {
    return L"HKLM\\SOFTWARE\\WOW6432Node\\Veridane\\Applications\\Logon\\" +
           std::to_wstring(session);
  }
};

TEST_F(LogonSettingsTest, AMissingRecordReadsAsZero) {
  LogonSettings logon(Agent());
  EXPECT_EQ(logon.GetUlong64(), 0u);
  EXPECT_EQ(logon.GetUlong(LogonSettings::kChangePolicy), 0u);
  EXPECT_EQ(logon.GetUlong(LogonSettings::kResetSettings), 0u);
}

TEST_F(LogonSettingsTest, TheRecordOfTheProcesssOwnSessionIsRead) {
  auto other = m_machine.CreateProcess({.sessionId = 2});
  Reg().SetBinary(Record(1), L"Methods", {0x24, 0x01, 0, 0, 0, 0, 0, 0x80});
  Reg().SetDword(Record(1), L"ResetSettings", 1);
  Reg().SetDword(Record(2), L"ResetSettings", 0);
  // A record in the 64-bit view is another one.
  Reg().SetDword(L"HKLM\\SOFTWARE\\Veridane\\Applications\\Logon\\1", L"ChangePolicy", 1);

  LogonSettings logon(Agent());
  EXPECT_EQ(logon.GetUlong64(), 0x8000000000000124ull);
  EXPECT_EQ(logon.GetUlong(LogonSettings::kResetSettings), 1u);
  EXPECT_EQ(logon.GetUlong(LogonSettings::kChangePolicy), 0u);
  EXPECT_EQ(LogonSettings(*other).GetUlong(LogonSettings::kResetSettings), 0u);

  // "Methods" is read whatever its type; a shorter value fills the low bytes.
  Reg().SetDword(Record(1), L"Methods", 0x4);
  EXPECT_EQ(logon.GetUlong64(), 0x4u);
  // A number of the wrong type is none.
  Reg().SetString(Record(1), L"ResetSettings", L"1");
  EXPECT_EQ(logon.GetUlong(LogonSettings::kResetSettings), 0u);
}

}  // namespace
