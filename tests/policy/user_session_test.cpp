// The session's user, the enrolled credentials learnt from the library (synchronously, then
// through the asynchronous replies) and the user's policy, against the stand-in library.
#include "policy/user_session.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/agent_process.h"
#include "core/messages.h"
#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "policy/user_policy.h"
#include "standins/eventlog/sim_install.h"
#include "standins/vdfpapi/sim_install.h"
#include "support/trace/trace.h"
#include "support/trace/trace_sink.h"
#include "support/vdfp/vdfp_api.h"
#include "tests/auth/auth_test_util.h"
#include "tests/policy/policy_test_util.h"

namespace {

using policytest::HasResult;

using policytest::kFingerprint;
using policytest::kPassword;
using policytest::kSmartcard;

struct FakeSessionHost : IUserSessionHost {
  bool kiosk = false;
  std::vector<std::wstring> resetChecks;
  bool IsKioskSession() override { return kiosk; }
  void CheckUserPasswordReset(const CUser& user) override {
    resetChecks.push_back(user.AccountName());
  }
  CPolicy policy;
  int refreshes = 0;
  CPolicy RefreshedPolicy() override {
    ++refreshes;
    return policy;
  }
};

class UserSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    VDTraceNS::Bind(proc.get());
    ASSERT_EQ(agent.AuthLibrary().VDFPInit(), S_OK);
  }
  void TearDown() override {
    session.reset();
    agent.AuthLibrary().VDFPTerm();
    VDTraceNS::Bind(nullptr);
  }
  // The replies the library posted since the last call.
  std::vector<authtest::Posted> Replies() {
    machine.AdvanceBy(1);  // the library answers on its own time
    return window.Take();
  }
  void Deliver(const std::vector<authtest::Posted>& replies) {
    for (const auto& r : replies)
      if (r.msg != core::WM_VD_USER_CHANGED) session->OnTokenEnrollmentReport(r.msg, r.wp, r.lp);
  }

  VDTraceNS::CRecordingSink sink;
  sim::Machine machine;
  std::unique_ptr<vdfp_standin::SimInstallation> vdfp = vdfp_standin::InstallVdfpApi(machine);
  std::unique_ptr<eventlog_standin::SimEventLogInstallation> events =
      eventlog_standin::InstallEventLog(machine);
  std::unique_ptr<sim::Process> proc = machine.CreateProcess({.sessionId = 1});
  sim::CurrentProcessScope scope{proc.get()};
  core::CAgentProcess agent{*proc, nullptr};
  authtest::RecordingWindow window{*proc, core::WM_VD_TOKEN_REPORT_FIRST, core::WM_VD_USER_CHANGED};
  FakeSessionHost host;
  std::unique_ptr<CUserSession> session = std::make_unique<CUserSession>(agent, host);
};

TEST_F(UserSessionTest, ReadySetsTheWindowsUserAnnouncesItAndLearnsItsCredentials) {
  session->OnReady(window.hwnd());
  EXPECT_EQ(session->User().AccountName(), L"VDSIM-PC\\alice");
  EXPECT_EQ(host.resetChecks, std::vector<std::wstring>{L"VDSIM-PC\\alice"});

  EXPECT_TRUE(session->UserHasCredentials(kPassword));
  EXPECT_TRUE(session->UserHasCredentials(kPassword | kFingerprint));
  EXPECT_FALSE(session->UserHasCredentials(kFingerprint | kSmartcard));
  EXPECT_TRUE(session->UserHasCredentials(0));

  // One user-changed message, one reply per token type (five in the default machine).
  const auto posted = Replies();
  ASSERT_FALSE(posted.empty());
  EXPECT_EQ(posted.front(), (authtest::Posted{core::WM_VD_USER_CHANGED, 0, 0}));
  EXPECT_EQ(posted.size(), 6u);
  Deliver(posted);
  EXPECT_EQ(session->EnrolledCredentials(), kPassword | kFingerprint);

  // The same user at the next ready is no change: no second announcement.
  session->OnReady(window.hwnd());
  for (const auto& p : Replies()) EXPECT_NE(p.msg, core::WM_VD_USER_CHANGED);
  EXPECT_EQ(host.resetChecks.size(), 2u);
}

TEST_F(UserSessionTest, InAKioskSessionReadyLeavesTheUserToTheKioskHandler) {
  host.kiosk = true;
  session->OnReady(window.hwnd());
  EXPECT_FALSE(session->User().IsValid());
  EXPECT_TRUE(host.resetChecks.empty());
  EXPECT_TRUE(Replies().empty());
}

TEST_F(UserSessionTest, AFetchIsReusedForOneMinute) {
  session->OnReady(window.hwnd());
  Deliver(Replies());
  vdfp->Host().SetEnrolled(L"alice", kSmartcard, true);

  session->OnVDSettingsChanged();
  EXPECT_TRUE(sink.Contains('U', "Cached value: 0x0000000000000003"));
  EXPECT_FALSE(session->UserHasCredentials(kSmartcard));

  machine.AdvanceBy(59'998);  // one minute after the fetch at ready, less 1 ms
  session->OnSessionChange(WTS_SESSION_UNLOCK);
  EXPECT_FALSE(session->UserHasCredentials(kSmartcard));
  machine.AdvanceBy(1);
  session->OnSessionChange(WTS_SESSION_UNLOCK);
  EXPECT_TRUE(session->UserHasCredentials(kSmartcard));
}

TEST_F(UserSessionTest, RepliesSetAndClearTheirTokensBitOnceAndLaterOnesAreNotFound) {
  session->OnReady(window.hwnd());
  auto replies = Replies();
  // The fingerprint's enrollment was removed before its reply came.
  VDFP_ASYNC_ENROLLMENT_REPLY notEnrolled{S_FALSE, 0, {}};
  const UINT fingerprintReply = core::WM_VD_TOKEN_REPORT_FIRST + 1;
  session->OnTokenEnrollmentReport(fingerprintReply, 0, reinterpret_cast<LPARAM>(&notEnrolled));
  EXPECT_EQ(session->EnrolledCredentials(), kPassword);
  EXPECT_TRUE(sink.Contains('U', "Fingerprint (0x0000000000000002) is NOT enrolled"));

  VDFP_ASYNC_ENROLLMENT_REPLY enrolled{S_OK, 0, {}};
  session->OnTokenEnrollmentReport(fingerprintReply, 0, reinterpret_cast<LPARAM>(&enrolled));
  EXPECT_TRUE(sink.Contains('U', "Promise 1 not found"));
  EXPECT_EQ(session->EnrolledCredentials(), kPassword);

  // A non-zero wParam is not the library's: consumed without a look.
  const UINT passwordReply = core::WM_VD_TOKEN_REPORT_FIRST;
  session->OnTokenEnrollmentReport(passwordReply, 1, reinterpret_cast<LPARAM>(&notEnrolled));
  EXPECT_EQ(session->EnrolledCredentials(), kPassword);
  EXPECT_EQ(session->PendingQueries(), 4u);
}

// Replies to the stand-in's real queries, with the password's (index 0) replaced by `first`.
TEST_F(UserSessionTest, EveryReplyPathEndsItsQueryAndAFailedOneIsAskedAgain) {
  session->OnReady(window.hwnd());
  auto replies = Replies();
  ASSERT_EQ(replies.size(), 6u);
  ASSERT_EQ(vdfp->Host().OutstandingAsyncCalls(), 5u);
  const UINT passwordReply = core::WM_VD_TOKEN_REPORT_FIRST;
  const UINT smartcardReply = core::WM_VD_TOKEN_REPORT_FIRST + 2;

  VDFP_ASYNC_ENROLLMENT_REPLY failed{E_FAIL, 0, {}};
  session->OnTokenEnrollmentReport(passwordReply, 0, reinterpret_cast<LPARAM>(&failed));
  EXPECT_TRUE(sink.Contains('U', "Token fetch failed"));
  session->OnTokenEnrollmentReport(smartcardReply, 0, 0);
  EXPECT_TRUE(sink.Contains('U', "No fetch data returned"));
  // Both queries are released and their promises gone; nothing was learnt from them.
  EXPECT_EQ(vdfp->Host().OutstandingAsyncCalls(), 3u);
  EXPECT_EQ(session->PendingQueries(), 3u);
  EXPECT_EQ(session->EnrolledCredentials(), kPassword | kFingerprint);
  // Their late real replies find nothing.
  session->OnTokenEnrollmentReport(passwordReply, 0, replies[1].lp);
  EXPECT_TRUE(sink.Contains('U', "Promise 0 not found"));

  // The rest answer normally.
  for (size_t i = 1; i < replies.size(); ++i)
    if (replies[i].msg != passwordReply && replies[i].msg != smartcardReply)
      session->OnTokenEnrollmentReport(replies[i].msg, 0, replies[i].lp);
  EXPECT_EQ(vdfp->Host().OutstandingAsyncCalls(), 0u);
  EXPECT_EQ(session->PendingQueries(), 0u);

  // The next fetch asks about every token again: a failure is no pending request for good.
  machine.AdvanceBy(60'000);
  session->OnVDSettingsChanged();
  EXPECT_FALSE(sink.Contains('U', "Already have pending request"));
  EXPECT_EQ(session->PendingQueries(), 5u);
}

TEST_F(UserSessionTest, AFetchWhileQueriesWaitSkipsThemAndAResetReleasesThem) {
  session->OnReady(window.hwnd());
  Replies();  // left unanswered
  machine.AdvanceBy(60'000);
  session->OnVDSettingsChanged();
  EXPECT_TRUE(sink.Contains('U', "Already have pending request"));
  EXPECT_EQ(vdfp->Host().OutstandingAsyncCalls(), 5u);

  // A reset with the host gone: the old queries are released and none replaces them, so
  // their replies are not found and change nothing.
  vdfp->Host().Stop();
  machine.AdvanceBy(60'000);
  session->FetchUserCredentials(true);
  EXPECT_EQ(vdfp->Host().OutstandingAsyncCalls(), 0u);
  EXPECT_EQ(session->PendingQueries(), 0u);
  VDFP_ASYNC_ENROLLMENT_REPLY notEnrolled{S_FALSE, 0, {}};
  session->OnTokenEnrollmentReport(core::WM_VD_TOKEN_REPORT_FIRST + 1, 0,
                                   reinterpret_cast<LPARAM>(&notEnrolled));
  EXPECT_TRUE(sink.Contains('U', "Promise 1 not found"));
  EXPECT_EQ(session->EnrolledCredentials(), kPassword | kFingerprint);
}

TEST_F(UserSessionTest, ForgedReportsAreNotReadUnlessAQueryWaits) {
  // Any program can post these numbers with any lParam: with nothing pending the pointer
  // must not be touched (a bogus one would crash the agent).
  const LPARAM bogus = 0x10;
  session->OnTokenEnrollmentReport(core::WM_VD_TOKEN_REPORT_FIRST + 3, 0, bogus);
  EXPECT_TRUE(sink.Contains('U', "Promise 3 not found"));
  session->OnTokenEnrollmentReport(core::WM_VD_TOKEN_REPORT_FIRST + 100, 0, bogus);
  session->OnTokenEnrollmentReport(core::WM_VD_TOKEN_REPORT_FIRST + 7, 5, bogus);

  // Queries that could not start (no window to answer to) leave promises without a call.
  session->OnReady(nullptr);
  EXPECT_TRUE(HasResult(sink, "VDFPTokenIsEnrolledAsync failed"));
  EXPECT_EQ(session->PendingQueries(), 0u);
  session->OnTokenEnrollmentReport(core::WM_VD_TOKEN_REPORT_FIRST, 0, bogus);
  EXPECT_TRUE(sink.Contains('U', "Promise 0 is expired"));
  EXPECT_EQ(session->EnrolledCredentials(), kPassword | kFingerprint);
}

TEST_F(UserSessionTest, LocksAndLogOffsAreRecordedOutsideKioskSessionsOnly) {
  session->OnReady(window.hwnd());
  const LPARAM logoff = static_cast<LPARAM>(static_cast<LONG>(ENDSESSION_LOGOFF));
  session->OnEndSession(FALSE, logoff);  // another program cancelled it
  session->OnEndSession(TRUE, 0);        // a shutdown, no log-off
  EXPECT_TRUE(events->Component().Records().empty());

  session->OnSessionChange(WTS_SESSION_LOCK);
  session->OnEndSession(TRUE, logoff);
  const auto& records = events->Component().Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].eventId, 0x41101305u);
  EXPECT_EQ(records[1].eventId, 0x41101306u);
  EXPECT_EQ(records[1].strings, std::vector<std::wstring>{L"VDSIM-PC\\alice"});

  host.kiosk = true;
  session->OnSessionChange(WTS_SESSION_LOCK);
  session->OnEndSession(TRUE, logoff);
  EXPECT_EQ(events->Component().Records().size(), 2u);
}

TEST_F(UserSessionTest, EnoughCredentialsIsTheUsersRefreshedPolicyAgainstTheEnrolledOnes) {
  session->OnReady(window.hwnd());
  host.policy.Init({kSmartcard, kFingerprint | kSmartcard});
  EXPECT_FALSE(session->UserHasEnoughCredentials());
  EXPECT_TRUE(sink.Contains('U', "NOT enough"));
  host.policy.Init({kSmartcard, kPassword | kFingerprint});
  EXPECT_TRUE(session->UserHasEnoughCredentials());
  EXPECT_EQ(host.refreshes, 2);

  // The user's policy comes from the library, and is empty when that fails.
  vdfp->Host().SetPolicy(L"alice", {kPassword | kFingerprint, kSmartcard});
  const CPolicy policy = FetchUserPolicy(agent.AuthLibrary(), session->User());
  EXPECT_EQ(policy.GetText(), L"0000000000000003 0000000000000004");
  EXPECT_TRUE(sink.Contains('U', "2 rules"));

  const CPolicy none = FetchUserPolicy(agent.AuthLibrary(), CUser());
  EXPECT_EQ(none.Shape(), kPolicyNotInitialized);
  EXPECT_TRUE(none.Rules().empty());
}

}  // namespace

namespace {

TEST(FetchStampTest, LocalTimesBecomeOleDatesAndOutOfRangeYearsNone) {
  auto date = [](WORD y, WORD mo, WORD d, WORD h = 0, WORD mi = 0) {
    SYSTEMTIME st{};
    st.wYear = y;
    st.wMonth = mo;
    st.wDay = d;
    st.wHour = h;
    st.wMinute = mi;
    return CFetchStamp::ToOleDate(st);
  };
  EXPECT_EQ(date(1899, 12, 30), 0.0);
  EXPECT_EQ(date(1900, 1, 1), 2.0);
  EXPECT_EQ(date(1900, 3, 1), 61.0);  // 1900 is no leap year
  EXPECT_EQ(date(2000, 3, 1), 36586.0);
  EXPECT_EQ(date(1899, 12, 29, 18), -0.25);  // linear before the epoch too: ages subtract
  EXPECT_EQ(date(99, 12, 31), std::nullopt);
  EXPECT_EQ(date(10000, 1, 1), std::nullopt);
  EXPECT_EQ(date(2024, 13, 1), std::nullopt);
}

}  // namespace
