// The kiosk handler's behaviour on the simulated machine: the kiosk session test, the
// session's turning points (ready, disconnect, lock, unlock, end of session), the kiosk user
// changes and what other programs and the event log see of them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "auth/protected_data.h"
#include "kiosk/kiosk_logic.h"
#include "kiosk/kiosk_session.h"
#include "tests/kiosk/kiosk_fixture.h"

namespace kiosktest {
namespace {

using Broadcast = ScriptUi::Broadcast;
using authtest::Posted;

constexpr const wchar_t* kExeScript = L"\\\\files.corp.test\\kiosk\\unlock.exe";

// ---- Is this a kiosk session? ----------------------------------------------------------------

class KioskSessionTest : public KioskFixture {};

TEST_F(KioskSessionTest, TheAccountValueDecidesOnlyWhenItIsADword) {
  constexpr int kNoKey = -1, kNoValue = REG_NONE;
  const struct {
    const char* what;
    bool kioskLogon;
    int type;  // of KioskAccount
    std::vector<BYTE> data;
    bool kiosk;
  } rows[] = {
      {"kiosk logon off", false, REG_DWORD, {1, 0, 0, 0}, false},
      {"no session key", true, kNoKey, {}, true},
      {"no KioskAccount", true, kNoValue, {}, true},
      {"KioskAccount 0", true, REG_DWORD, {0, 0, 0, 0}, false},
      {"KioskAccount 1", true, REG_DWORD, {1, 0, 0, 0}, true},
      {"KioskAccount \"0\" as text", true, REG_SZ, {'0', 0, 0, 0}, true},
      {"KioskAccount binary zero", true, REG_BINARY, {0, 0, 0, 0}, true},
      {"KioskAccount REG_DWORD of 2 bytes", true, REG_DWORD, {0, 0}, true},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    core::CAgentProcess fresh(plat, nullptr);  // the logon flag is cached per process
    reg().SetDword(kPolicyKey, L"KioskLogon", r.kioskLogon ? 1 : 0);
    reg().DeleteKey(kSessionKey);
    if (r.type != kNoKey) reg().SetString(kSessionKey, L"KioskUser", kBob);
    if (r.type > kNoValue) reg().SetValue(kSessionKey, L"KioskAccount", r.type, r.data);
    EXPECT_EQ(KIOSK::IsKioskSession(fresh), r.kiosk);
  }
}

TEST_F(KioskSessionTest, TheLogonFlagIsReadOncePerProcess) {
  EXPECT_FALSE(KIOSK::IsKioskLogon(agent));
  EnableKioskLogon();
  EXPECT_FALSE(KIOSK::IsKioskLogon(agent)) << "the first answer holds";
  core::CAgentProcess other(plat, nullptr);
  EXPECT_TRUE(KIOSK::IsKioskLogon(other));
  reg().SetDword(kPolicyKey, L"KioskLogon", 0);
  reg().SetDword(L"HKLM\\SOFTWARE\\Veridane\\Kiosk\\Logon", L"KioskLogon", 1);
  core::CAgentProcess third(plat, nullptr);
  EXPECT_FALSE(KIOSK::IsKioskLogon(third)) << "a readable policy value wins over the kiosk key";
}

// ---- The logic ------------------------------------------------------------------------------

class KioskLogicTest : public KioskFixture, private IKioskHost {
 protected:
  void SetUp() override {
    KioskFixture::SetUp();
    EnableKioskLogon();
    RecordKioskUser(kBob);
  }
  HWND KioskWindow() override { return window.hwnd(); }
  CVDLog& KioskEventLog() override { return log; }

  DWORD Pid() { return m_process->Pid(); }
  Broadcast Changed(DWORD pid) {
    return {BSF_POSTMESSAGE, BSM_APPLICATIONS, agent.Messages().vdnxBroadcast, 9,
            static_cast<LPARAM>(pid)};
  }
  std::vector<Broadcast> TakeBroadcasts() { return std::exchange(plat.ui.broadcasts, {}); }
  // No program was told of a change, the window got nothing and no script started.
  void ExpectNothingTold() {
    EXPECT_TRUE(TakeBroadcasts().empty());
    EXPECT_TRUE(TakePosted().empty());
    EXPECT_TRUE(plat.kernel.starts.empty()) << "no unlock script";
  }
  std::vector<Posted> TakePosted() {
    m_machine.RunUntilIdle();
    return window.Take();
  }
  // Ready with bob as the session's kiosk user; what that told the world is dropped.
  void ReadyWithBob() {
    logic.OnReady();
    ASSERT_EQ(logic.KioskUser().AccountName(), kBob);
    TakeBroadcasts();
    TakePosted();
    FastConnectEntries();
  }
  void SetUnlockScript(const wchar_t* value) {
    reg().SetString(kPolicyKey, L"KioskUnlockScript", value);
    plat.kernel.remote[Lower(value)] = {"MZ", 0};
  }

  authtest::RecordingWindow window{*m_process, core::WM_VD_USER_CHANGED, core::WM_VD_USER_CHANGED};
  CVDLog log{plat};
  CKioskSessionLogic logic{agent, *this};
};

const Posted kUserChanged{core::WM_VD_USER_CHANGED, 0, 0};

TEST_F(KioskLogicTest, ReadyStartsTheLogonComponentAndTakesTheSessionsKioskUserWithoutScript) {
  SetUnlockScript(kExeScript);
  VDTraceNS::CRecordingSink sink;
  logic.OnReady();
  EXPECT_TRUE(sink.Contains('>', "CKioskHandler<class CVdAgentMain>::OnReady"));
  EXPECT_EQ(FastConnectEntries(), std::vector<std::wstring>{L"VDFCRunLogon"});
  EXPECT_EQ(logic.KioskUser().AccountName(), kBob);
  EXPECT_EQ(TakeBroadcasts(), std::vector<Broadcast>{Changed(Pid())});
  EXPECT_EQ(TakePosted(), std::vector<Posted>{kUserChanged});
  EXPECT_TRUE(plat.kernel.starts.empty()) << "no unlock script at ready";
}

TEST_F(KioskLogicTest, OutsideAKioskSessionNoEventDoesAnything) {
  reg().SetDword(kSessionKey, L"KioskAccount", 0);
  SetUnlockScript(kExeScript);
  logic.OnReady();
  for (WPARAM code : {2, 4, 7, 8}) logic.OnSessionChange(code);
  logic.OnEndSession(TRUE, static_cast<LPARAM>(ENDSESSION_LOGOFF));
  EXPECT_FALSE(logic.KioskUser().IsValid());
  EXPECT_TRUE(FastConnectEntries().empty());
  EXPECT_TRUE(LoggedEvents().empty());
  ExpectNothingTold();
}

TEST_F(KioskLogicTest, DisconnectsTellEveryProgramAndKeepTheUser) {
  ReadyWithBob();
  for (WPARAM code : {WTS_CONSOLE_DISCONNECT, WTS_REMOTE_DISCONNECT}) {
    SCOPED_TRACE(code);
    VDTraceNS::CRecordingSink sink;
    logic.OnSessionChange(code);
    EXPECT_TRUE(Traced(sink, "Session is disconnected... Event is " + std::to_string(code)));
    EXPECT_EQ(TakeBroadcasts(), std::vector<Broadcast>{Changed(Pid())});
    EXPECT_EQ(TakePosted(), std::vector<Posted>{kUserChanged});
    EXPECT_EQ(logic.KioskUser().AccountName(), kBob);
  }
  // Connects, logons and the like are none of the kiosk handler's business.
  for (WPARAM code : {1, 3, 5, 6, 9, 10}) logic.OnSessionChange(code);
  EXPECT_TRUE(TakeBroadcasts().empty());
  EXPECT_TRUE(FastConnectEntries().empty());
  EXPECT_TRUE(LoggedEvents().empty());
}

TEST_F(KioskLogicTest, LockStartsTheLogOffEntryAndRecordsTheKioskLock) {
  ReadyWithBob();
  VDTraceNS::CRecordingSink sink;
  logic.OnSessionChange(WTS_SESSION_LOCK);
  EXPECT_TRUE(Traced(sink, "WTS_SESSION_LOCK"));
  EXPECT_EQ(FastConnectEntries(), std::vector<std::wstring>{L"VDFCLogoffUser"});
  EXPECT_EQ(LoggedEvents(), std::vector<DWORD>{0x41101307});
  EXPECT_EQ(m_machine.GetDesktop().Texts(1, eventlog_standin::kDesktopKind).size(), 1u);
  EXPECT_EQ(logic.KioskUser().AccountName(), kBob) << "a lock keeps the kiosk user";
  EXPECT_TRUE(TakeBroadcasts().empty());
}

TEST_F(KioskLogicTest, UnlockBySamePersonNeitherTellsAnyoneNorRunsTheScript) {
  SetUnlockScript(kExeScript);
  ReadyWithBob();
  VDTraceNS::CRecordingSink sink;
  logic.OnSessionChange(WTS_SESSION_UNLOCK);
  EXPECT_TRUE(Traced(sink, "WTS_SESSION_UNLOCK"));
  EXPECT_EQ(FastConnectEntries(), std::vector<std::wstring>{L"VDFCRunLogon"});
  ExpectNothingTold();
  // The logon side cleared the name: the key names nobody now, and nothing changes.
  reg().DeleteValue(kSessionKey, L"KioskUser");
  logic.OnSessionChange(WTS_SESSION_UNLOCK);
  EXPECT_EQ(logic.KioskUser().AccountName(), kBob);
  ExpectNothingTold();
  EXPECT_FALSE(logic.ChangeKioskUser(CUser(), true, 77));
  EXPECT_FALSE(logic.ChangeKioskUser(CUser(agent.AuthLibrary(), L"", VDFP_NAME_SAM), true, 77));
  EXPECT_EQ(logic.KioskUser().AccountName(), kBob);
  ExpectNothingTold();
}

TEST_F(KioskLogicTest, UnlockByAnotherPersonChangesTheUserTellsEveryoneAndRunsTheScriptOnce) {
  SetUnlockScript(kExeScript);
  ReadyWithBob();
  RecordKioskUser(kCarol);
  logic.OnSessionChange(WTS_SESSION_UNLOCK);
  EXPECT_EQ(logic.KioskUser().AccountName(), kCarol);
  EXPECT_EQ(TakeBroadcasts(), std::vector<Broadcast>{Changed(Pid())});
  EXPECT_EQ(TakePosted(), std::vector<Posted>{kUserChanged});
  ASSERT_EQ(plat.kernel.starts.size(), 1u);
  EXPECT_EQ(plat.kernel.starts[0].application, std::wstring(kScriptFolder) + L"\\unlock.exe");

  logic.OnSessionChange(WTS_SESSION_UNLOCK);
  EXPECT_EQ(plat.kernel.starts.size(), 1u) << "carol again: no second run";
}

TEST_F(KioskLogicTest, UnlockBeforeAnyoneWasIdentifiedLeavesTheKioskUserUnset) {
  SetUnlockScript(kExeScript);
  logic.OnSessionChange(WTS_SESSION_UNLOCK);
  EXPECT_EQ(FastConnectEntries(), std::vector<std::wstring>{L"VDFCRunLogon"});
  EXPECT_FALSE(logic.KioskUser().IsValid());
  ExpectNothingTold();
}

TEST_F(KioskLogicTest, AnIdentifiedPersonIsTakenWithTheCallersProcessIdAndNoScript) {
  SetUnlockScript(kExeScript);
  ReadyWithBob();
  EXPECT_TRUE(logic.ChangeKioskUser(CUser(agent.AuthLibrary(), kCarol, VDFP_NAME_SAM), false, 77));
  EXPECT_EQ(logic.KioskUser().AccountName(), kCarol);
  EXPECT_EQ(TakeBroadcasts(), std::vector<Broadcast>{Changed(77)});
  EXPECT_TRUE(plat.kernel.starts.empty());
  // Known by SID, the same person is no change.
  const std::wstring sid = logic.KioskUser().Sid();
  EXPECT_FALSE(
      logic.ChangeKioskUser(CUser::FromSid(agent.AuthLibrary(), sid, VDFP_NAME_SAM), false, 78));
  EXPECT_TRUE(TakeBroadcasts().empty());
}

TEST_F(KioskLogicTest, TheLogOffEventIsRecordedOnlyWhenTheSessionReallyEnds) {
  struct Row {
    WPARAM ending;
    DWORD flags;
    bool recorded;
  } const rows[] = {
      {TRUE, ENDSESSION_LOGOFF, true},
      {FALSE, ENDSESSION_LOGOFF, false},  // another program refused: the session goes on
      {TRUE, 0, false},                   // a shutdown, not a log-off
      {TRUE, ENDSESSION_LOGOFF | 0x40000000u, true},
      {FALSE, 0, false},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(testing::Message() << r.ending << " 0x" << std::hex << r.flags);
    VDTraceNS::CRecordingSink sink;
    const size_t before = LoggedEvents().size();
    logic.OnEndSession(r.ending, static_cast<LPARAM>(static_cast<LONG>(r.flags)));
    EXPECT_EQ(LoggedEvents().size() - before, r.recorded ? 1u : 0u);
    if (r.recorded) {
      EXPECT_EQ(LoggedEvents().back(), 0x41101308u);
    }
    EXPECT_EQ(Traced(sink, "ENDSESSION_LOGOFF"), r.recorded);
  }
}

// ---- The kiosk user record from the logon component -----------------------------------------

class KioskRecordLogicTest : public KioskLogicTest {
 protected:
  void Put(std::vector<BYTE> data) {
    vdfp_standin::SlotDesc slot;
    slot.slot = kVDKioskUserSlot;
    slot.data = std::move(data);
    Host().SetProtectedData(slot);
  }
};

TEST_F(KioskRecordLogicTest, TheRecordsPersonBecomesTheKioskUserWithTheSendersProcessId) {
  SetUnlockScript(kExeScript);
  ReadyWithBob();
  Put(authtest::KioskRecord(3, VDFP_NAME_SAM, u"VDSIM-PC\\carol"));
  logic.OnVDKioskUserIdentified(4242);
  EXPECT_EQ(logic.KioskUser().AccountName(), kCarol);
  EXPECT_EQ(TakeBroadcasts(), std::vector<Broadcast>{Changed(4242)});
  EXPECT_EQ(TakePosted(), std::vector<Posted>{kUserChanged});
  ExpectNothingTold();
}

TEST_F(KioskRecordLogicTest, AMalformedRecordChangesNothing) {
  ReadyWithBob();
  const std::vector<std::vector<BYTE>> bad = {
      {},         // empty slot
      {3, 0, 0},  // shorter than its header
      authtest::KioskRecord(3, VDFP_NAME_SAM, u"VDSIM-PC\\carol", false),  // no terminator
      authtest::KioskRecord(9, VDFP_NAME_SAM, u"VDSIM-PC\\carol"),         // unknown version
      authtest::KioskRecord(3, 0, u"VDSIM-PC\\carol"),                     // no name format
      authtest::KioskRecord(1, 1, u""),                                    // present, but no name
  };
  for (size_t i = 0; i < bad.size(); ++i) {
    SCOPED_TRACE(i);
    Put(bad[i]);
    logic.OnVDKioskUserIdentified(4242);
    EXPECT_EQ(logic.KioskUser().AccountName(), kBob);
    ExpectNothingTold();
  }
}

}  // namespace
}  // namespace kiosktest
