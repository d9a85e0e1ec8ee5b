// What the start-up sequence asks before it speaks: the first-use image, the logon count,
// reminder postponement and quiet time, on the simulated machine with bad values too.
#include "policy/ux_environment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/agent_process.h"
#include "platform/sim/desktop.h"
#include "platform/sim/machine.h"
#include "platform/sim/module_table.h"
#include "platform/sim/process.h"
#include "platform/sim/process_shell.h"
#include "platform/sim/registry_store.h"
#include "platform/sim/session_manager.h"
#include "policy/ole_date.h"
#include "standins/vdfpapi/sim_install.h"
#include "support/result_error.h"
#include "support/trace/trace.h"
#include "support/trace/trace_sink.h"
#include "support/vdfp/vdfp_api.h"
#include "tests/policy/ux_test_platform.h"

namespace {

constexpr const wchar_t* kImage64 = L"HKLM\\Software\\Hewlett-Packard\\HP Image";
constexpr const wchar_t* kImage32 = L"HKLM\\Software\\WOW6432Node\\Hewlett-Packard\\HP Image";
constexpr const wchar_t* kAdminPolicy =
    L"Applications\\{5ED04F3F-AC3E-4BE0-A157-782B204E2B8C}\\LogonPolicyAdminNaggingPeriodReminder";
constexpr const wchar_t* kUserPolicy =
    L"Applications\\{5ED04F3F-AC3E-4BE0-A157-782B204E2B8C}\\LogonPolicyUserNaggingPeriodReminder";
constexpr ULONGLONG kDayMs = 24ull * 60 * 60 * 1000;

// `units` characters of `s` (zero-padded), and `extra` stray bytes after them.
std::vector<BYTE> Units(const std::wstring& s, std::size_t units, std::size_t extra = 0) {
  std::vector<BYTE> out(units * sizeof(wchar_t) + extra, 0);
  std::memcpy(out.data(), s.data(), std::min(s.size(), units) * sizeof(wchar_t));
  return out;
}

bool TracedResult(const VDTraceNS::CRecordingSink& sink, const std::string& message) {
  for (const auto& text : sink.Texts('E'))
    if (text.find(message) != std::string::npos) return true;
  return false;
}

class UxEnvironmentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    VDTraceNS::Bind(proc.get());
    ASSERT_EQ(agent.AuthLibrary().VDFPInit(), S_OK);
    sid = machine.Sessions().UserSid(1);
    kw = L"HKU\\" + sid + L"\\SOFTWARE\\Veridane\\Applications\\KwAppSettings";
  }
  void TearDown() override {
    agent.AuthLibrary().VDFPTerm();
    VDTraceNS::Bind(nullptr);
  }

  void SetImageState(const std::wstring& state) {
    machine.Registry().SetString(kImage64, L"StateName", state);
  }
  void SetNaggingPolicy(const std::wstring& name, DWORD value) {
    vdfp_standin::PolicySettingDesc p;
    p.name = name;
    p.value.type = VDVAR_UINT32;
    p.value.number = value;
    vdfp->Host().SetPolicySetting(p);
  }
  // The local date `days` from today, as the user's settings store it.
  std::wstring LocalDate(int days) {
    const SYSTEMTIME st = machine.GetClock().LocalSystemTime();
    return oledate::Format(oledate::FromCivil(st.wYear, st.wMonth, st.wDay) + days);
  }
  void SetTimestamp(const std::wstring& date) {
    machine.Registry().SetString(kw, L"NaggingPeriodTimestamp", date);
  }
  std::optional<DWORD> StoredCount() { return machine.Registry().GetDword(kw, L"LogonCount"); }

  VDTraceNS::CRecordingSink sink;
  sim::Machine machine;
  std::unique_ptr<vdfp_standin::SimInstallation> vdfp = vdfp_standin::InstallVdfpApi(machine);
  std::unique_ptr<sim::Process> proc = machine.CreateProcess({.sessionId = 1});
  sim::CurrentProcessScope scope{proc.get()};
  uxtest::UxPlatform plat{*proc};
  core::CAgentProcess agent{plat, nullptr};
  std::wstring sid;
  std::wstring kw;
};

// ---- First-use image ----

TEST_F(UxEnvironmentTest, ImageStatesAreReadInTheSixtyFourBitViewWithoutRegardToCase) {
  EXPECT_EQ(ux_env::IsHPImageReady(plat), 0);
  EXPECT_TRUE(sink.Contains('U', "No HP Image, ready"));

  // The 32-bit view's key is not the image's.
  machine.Registry().SetString(kImage32, L"StateName", L"IMAGE_STATE_COMPLETE");
  EXPECT_EQ(ux_env::IsHPImageReady(plat), 0);

  SetImageState(L"image_state_Complete");
  EXPECT_EQ(ux_env::IsHPImageReady(plat), 2);
  EXPECT_TRUE(sink.Contains('U', "OOBE image state: image_state_Complete"));
  EXPECT_TRUE(sink.Contains('U', "HP Image is ready"));

  for (const wchar_t* other :
       {L"IMAGE_STATE_UNDEPLOYABLE", L"IMAGE_STATE_COMPLETE ", L"", L"IMAGE_STATE_COMPLET"}) {
    SCOPED_TRACE(testing::Message() << "state of " << std::wcslen(other) << " characters");
    SetImageState(other);
    EXPECT_EQ(ux_env::IsHPImageReady(plat), 1);
  }
  // The key without a state: an image that has not finished.
  machine.Registry().DeleteValue(kImage64, L"StateName");
  EXPECT_EQ(ux_env::IsHPImageReady(plat), 1);
}

TEST_F(UxEnvironmentTest, AnUnreadableImageStateIsNeverComplete) {
  const std::wstring complete = L"IMAGE_STATE_COMPLETE";
  struct Case {
    const char* what;
    DWORD type;
    std::vector<BYTE> data;
  } cases[] = {
      {"a DWORD", REG_DWORD, {1, 0, 0, 0}},
      {"an expandable string", REG_EXPAND_SZ, Units(complete, complete.size() + 1)},
      {"binary", REG_BINARY, Units(complete, complete.size() + 1)},
      {"unterminated", REG_SZ, Units(complete, complete.size())},
      {"an odd size", REG_SZ, Units(complete, complete.size() + 1, 1)},
      {"261 characters", REG_SZ, Units(std::wstring(261, L'X'), 262)},
      {"empty without a terminator", REG_SZ, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    sink.Clear();
    machine.Registry().SetValue(kImage64, L"StateName", c.type, c.data);
    EXPECT_EQ(ux_env::IsHPImageReady(plat), 1);
    EXPECT_TRUE(TracedResult(sink, "StateName is "));
  }
  // The longest state that fits is read (and is not complete).
  SetImageState(std::wstring(260, L'X'));
  sink.Clear();
  EXPECT_EQ(ux_env::IsHPImageReady(plat), 1);
  EXPECT_FALSE(TracedResult(sink, "StateName is "));
  EXPECT_TRUE(sink.Contains('U', "OOBE image state: " + std::string(260, 'X')));
}

TEST_F(UxEnvironmentTest, FirstUseIsOverWithoutAnImageOrWhenACompleteImageSaysSo) {
  EXPECT_TRUE(ux_env::IsOOBEPassed(agent));
  SetImageState(L"IMAGE_STATE_SPECIALIZE");
  machine.Registry().SetDword(kw, L"OOBEPassed", 1);
  EXPECT_FALSE(ux_env::IsOOBEPassed(agent)) << "an unfinished image is still in first use";
  SetImageState(L"IMAGE_STATE_COMPLETE");
  EXPECT_TRUE(ux_env::IsOOBEPassed(agent));
  machine.Registry().DeleteValue(kw, L"OOBEPassed");
  sink.Clear();
  EXPECT_FALSE(ux_env::IsOOBEPassed(agent));
  EXPECT_TRUE(sink.Contains('U', "OOBE not passed"));
}

// ---- Logon count ----

TEST_F(UxEnvironmentTest, TheStoredCountStopsAtFourWhileTheCountKeepsRising) {
  for (int expected = 1; expected <= 6; ++expected) {
    SCOPED_TRACE(expected);
    const int stored = expected < 4 ? expected : 4;
    const int count = ux_env::RegisterLogon(agent);
    EXPECT_EQ(count, expected < 5 ? expected : 5);
    EXPECT_EQ(StoredCount(), static_cast<DWORD>(stored));
  }
  EXPECT_TRUE(sink.Contains('U', "LogonCount=5"));
  EXPECT_FALSE(sink.Contains('U', "LogonCount=6"));
}

TEST_F(UxEnvironmentTest, LogonsDuringFirstUseAreNotCounted) {
  SetImageState(L"IMAGE_STATE_UNDEPLOYABLE");
  machine.Registry().SetDword(kw, L"LogonCount", 2);
  EXPECT_EQ(ux_env::RegisterLogon(agent), 2);
  EXPECT_EQ(StoredCount(), 2u);
  EXPECT_TRUE(sink.Contains('U', "LogonCount=2"));

  // The image completes, but the user's first use has not ended.
  SetImageState(L"IMAGE_STATE_COMPLETE");
  EXPECT_EQ(ux_env::RegisterLogon(agent), 2);
  machine.Registry().SetDword(kw, L"OOBEPassed", 1);
  EXPECT_EQ(ux_env::RegisterLogon(agent), 3);
  EXPECT_EQ(StoredCount(), 3u);
}

TEST_F(UxEnvironmentTest, ABadStoredCountStartsAgainFromZero) {
  struct Case {
    const char* what;
    DWORD type;
    std::vector<BYTE> data;
  } cases[] = {
      {"a string", REG_SZ, Units(L"3", 2)},
      {"a QWORD", REG_QWORD, {3, 0, 0, 0, 0, 0, 0, 0}},
      {"two bytes", REG_DWORD, {3, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    sink.Clear();
    machine.Registry().SetValue(kw, L"LogonCount", c.type, c.data);
    // A machine default does not stand in for the user's broken count.
    machine.Registry().SetDword(L"HKLM\\SOFTWARE\\Veridane\\Applications\\KwAppSettings",
                                L"LogonCount", 3);
    EXPECT_EQ(ux_env::RegisterLogon(agent), 1);
    EXPECT_TRUE(TracedResult(sink, "LogonCount is not a REG_DWORD"));
    EXPECT_EQ(StoredCount(), 1u) << "the bad value is replaced";
  }
  // A count no agent wrote does not wrap around to a negative one.
  machine.Registry().SetDword(kw, L"LogonCount", 0xFFFFFFFFu);
  EXPECT_GT(ux_env::RegisterLogon(agent), 4);
  EXPECT_EQ(StoredCount(), 4u);
}

// ---- Reminder postponement ----

TEST_F(UxEnvironmentTest, EachIntervalEndsAtMidnightOfItsLastDay) {
  SetNaggingPolicy(kUserPolicy, 3);  // a week
  SetTimestamp(LocalDate(-1));
  EXPECT_TRUE(ux_env::IsNaggingPostponed(agent));
  EXPECT_EQ(plat.com.lastLcid, LCID{LOCALE_USER_DEFAULT});
  EXPECT_EQ(plat.com.lastFlags, ULONG{VAR_DATEVALUEONLY});
  const std::wstring today = LocalDate(0), threshold = LocalDate(6);
  EXPECT_TRUE(sink.Contains('U', "Logged: " + std::string(today.begin(), today.end())));
  EXPECT_TRUE(sink.Contains('U', "Interval: 3"));
  EXPECT_TRUE(sink.Contains('U', "Threshold: " + std::string(threshold.begin(), threshold.end())));
  EXPECT_TRUE(sink.Contains('U', "Nagging postponed: true"));

  struct Case {
    DWORD policy;
    int days;
  } cases[] = {{2, 1}, {3, 7}, {4, 30}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.policy);
    SetNaggingPolicy(kUserPolicy, c.policy);
    SetTimestamp(LocalDate(-(c.days - 1)));
    EXPECT_TRUE(ux_env::IsNaggingPostponed(agent));
    SetTimestamp(LocalDate(-c.days));
    EXPECT_FALSE(ux_env::IsNaggingPostponed(agent)) << "the last day reminds again";
  }
  // Today's timestamp with the daily policy postpones until the local date changes.
  SetNaggingPolicy(kUserPolicy, 2);
  SetTimestamp(LocalDate(0));
  EXPECT_TRUE(ux_env::IsNaggingPostponed(agent));
  machine.AdvanceBy(kDayMs);
  EXPECT_FALSE(ux_env::IsNaggingPostponed(agent));
}

TEST_F(UxEnvironmentTest, OtherPoliciesAndUnreadableDatesNeverPostpone) {
  SetTimestamp(LocalDate(0));
  // Unset (the number form's default, 1), 1, 0 and an unknown value.
  EXPECT_FALSE(ux_env::IsNaggingPostponed(agent));
  EXPECT_TRUE(sink.Contains('U', "Interval: 1"));
  for (DWORD policy : {1u, 0u, 5u}) {
    SCOPED_TRACE(policy);
    SetNaggingPolicy(kUserPolicy, policy);
    EXPECT_FALSE(ux_env::IsNaggingPostponed(agent));
  }

  SetNaggingPolicy(kUserPolicy, 4);
  for (const wchar_t* bad : {L"garbage", L"", L"2026-13-01"}) {
    SCOPED_TRACE(testing::Message() << std::wcslen(bad) << " characters");
    SetTimestamp(bad);
    EXPECT_FALSE(ux_env::IsNaggingPostponed(agent));
  }
  // Never satisfied: the default date lies far in the past.
  machine.Registry().DeleteValue(kw, L"NaggingPeriodTimestamp");
  sink.Clear();
  EXPECT_FALSE(ux_env::IsNaggingPostponed(agent));
  EXPECT_TRUE(sink.Contains('U', "Last: 1899-12-30"));
}

TEST_F(UxEnvironmentTest, AStoredTimestampOfTheWrongShapeNeverPostpones) {
  SetNaggingPolicy(kUserPolicy, 4);
  const std::wstring today = LocalDate(0);
  struct Case {
    const char* what;
    DWORD type;
    std::vector<BYTE> data;
  } cases[] = {
      {"unterminated", REG_SZ, Units(today, today.size())},
      {"a DWORD", REG_DWORD, {1, 0, 0, 0}},
      {"binary", REG_BINARY, Units(today, today.size() + 1)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    sink.Clear();
    machine.Registry().SetValue(kw, L"NaggingPeriodTimestamp", c.type, c.data);
    // A machine-wide date that would postpone must not stand in for the user's bad one.
    machine.Registry().SetString(L"HKLM\\SOFTWARE\\Veridane\\Applications\\KwAppSettings",
                                 L"NaggingPeriodTimestamp", today);
    EXPECT_FALSE(ux_env::IsNaggingPostponed(agent));
    EXPECT_TRUE(TracedResult(sink, "NaggingPeriodTimestamp is "));
  }
  // The same date stored properly does postpone.
  SetTimestamp(today);
  EXPECT_TRUE(ux_env::IsNaggingPostponed(agent));
}

TEST_F(UxEnvironmentTest, AdministratorsFollowTheAdministratorsPolicy) {
  SetTimestamp(LocalDate(0));
  SetNaggingPolicy(kUserPolicy, 4);
  SetNaggingPolicy(kAdminPolicy, 1);
  EXPECT_TRUE(ux_env::IsNaggingPostponed(agent));

  auto adminProc = machine.CreateProcess({.sessionId = 1, .elevatedAdmin = true});
  sim::CurrentProcessScope in(adminProc.get());
  uxtest::UxPlatform adminPlat(*adminProc);
  core::CAgentProcess admin(adminPlat, nullptr);
  ASSERT_EQ(admin.AuthLibrary().VDFPInit(), S_OK);
  EXPECT_FALSE(ux_env::IsNaggingPostponed(admin));
  SetNaggingPolicy(kAdminPolicy, 4);
  SetNaggingPolicy(kUserPolicy, 1);
  EXPECT_TRUE(ux_env::IsNaggingPostponed(admin));
  admin.AuthLibrary().VDFPTerm();
}

TEST_F(UxEnvironmentTest, AFailedPolicyQueryNeverPostpones) {
  SetTimestamp(LocalDate(0));
  SetNaggingPolicy(kUserPolicy, 4);
  ASSERT_TRUE(ux_env::IsNaggingPostponed(agent));
  agent.AuthLibrary().VDFPTerm();
  sink.Clear();
  EXPECT_FALSE(ux_env::IsNaggingPostponed(agent));
  EXPECT_TRUE(TracedResult(sink, "GPO::get"));
  EXPECT_FALSE(sink.Contains('U', "Nagging postponed: true"));
  ASSERT_EQ(agent.AuthLibrary().VDFPInit(), S_OK);
}

TEST_F(UxEnvironmentTest, TheTimestampIsTodaysLocalDate) {
  ux_env::UpdateNaggingTimestamp(agent);
  EXPECT_EQ(machine.Registry().GetString(kw, L"NaggingPeriodTimestamp"), LocalDate(0));
  machine.AdvanceBy(3 * kDayMs);
  ux_env::UpdateNaggingTimestamp(agent);
  EXPECT_EQ(machine.Registry().GetString(kw, L"NaggingPeriodTimestamp"), LocalDate(0));
  SetNaggingPolicy(kUserPolicy, 2);
  EXPECT_TRUE(ux_env::IsNaggingPostponed(agent)) << "what was written reads back as today";
}

// ---- Quiet time ----

TEST_F(UxEnvironmentTest, QuietTimeComesFromTheShellWhenItCanBeAsked) {
  for (auto state : {QUNS_QUIET_TIME, QUNS_BUSY, QUNS_APP, QUNS_ACCEPTS_NOTIFICATIONS}) {
    SCOPED_TRACE(static_cast<int>(state));
    machine.GetDesktop().SetNotificationState(1, state);
    EXPECT_EQ(ux_env::CheckQuietTime(plat), state);
  }
  EXPECT_TRUE(sink.Contains('U', "User notification state = 6"));
}

TEST_F(UxEnvironmentTest, AFailingShellQueryIsRaisedAndWithoutItsEntryNotificationsAreAccepted) {
  machine.GetDesktop().FailNotificationStateQuery(1, E_ACCESSDENIED);
  try {
    ux_env::CheckQuietTime(plat);
    ADD_FAILURE() << "no error raised";
  } catch (const CResultError& e) {
    EXPECT_EQ(e.Result(), E_ACCESSDENIED);
  }
  EXPECT_TRUE(TracedResult(sink, "SHQueryUserNotificationState"));

  // A process started without the entry, then one without Shell32.dll at all.
  machine.Modules().RemoveExport(sim::kShell32Path, "SHQueryUserNotificationState");
  for (const char* without : {"the entry", "Shell32.dll"}) {
    auto other = machine.CreateProcess({.sessionId = 1});
    sim::CurrentProcessScope in(other.get());
    EXPECT_EQ(ux_env::CheckQuietTime(*other), QUNS_ACCEPTS_NOTIFICATIONS) << "without " << without;
    machine.Modules().Uninstall(sim::kShell32Path);
  }
  EXPECT_TRUE(sink.Contains('U', "User notification state = 5"));
}

// ---- Dates ----

TEST(OleDateTest, DatesCountDaysFromTheEndOf1899) {
  EXPECT_EQ(oledate::FromCivil(1899, 12, 30), 0.0);
  EXPECT_EQ(oledate::FromCivil(1900, 1, 1), 2.0);
  EXPECT_EQ(oledate::FromCivil(2000, 3, 1) - oledate::FromCivil(2000, 2, 28), 2.0);
  EXPECT_EQ(oledate::FromCivil(2100, 3, 1) - oledate::FromCivil(2100, 2, 28), 1.0);
  EXPECT_EQ(oledate::Format(oledate::FromCivil(2026, 12, 31) + 1), L"2027-01-01");
  EXPECT_EQ(oledate::Format(-1.25), L"1899-12-29") << "a negative date's day is its integer part";
  EXPECT_EQ(oledate::Format(oledate::FromCivil(100, 1, 1)), L"0100-01-01");
  EXPECT_EQ(oledate::Format(oledate::FromCivil(100, 1, 1) - 1), L"");
  EXPECT_EQ(oledate::Format(oledate::FromCivil(9999, 12, 31)), L"9999-12-31");
  EXPECT_EQ(oledate::Format(oledate::FromCivil(9999, 12, 31) + 1), L"");
}

}  // namespace
