// The local session list: what the simulated terminal server lists, and that the holder
// releases the list it took and copes with a failed enumeration.
#include "policy/terminal_server.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "platform/sim/process_sessions.h"
#include "platform/sim/session_manager.h"
#include "support/trace/trace.h"
#include "support/trace/trace_sink.h"

namespace {

struct Listed {
  DWORD id;
  std::wstring station;
  WTS_CONNECTSTATE_CLASS state;
  bool operator==(const Listed&) const = default;
};

std::vector<Listed> List(platform::ISessions& sessions) {
  CVDTerminalServer ts(sessions);
  std::vector<Listed> out;
  for (const auto& s : ts.Sessions()) out.push_back({s.SessionId, s.pWinStationName, s.State});
  EXPECT_EQ(ts.Count(), out.size());
  return out;
}

void PrintTo(const Listed& l, std::ostream* os) {
  *os << l.id << " '" << std::string(l.station.begin(), l.station.end()) << "' " << l.state;
}

TEST(TerminalServerTest, ListsSignedInSessionsWithTheirStationsAndStates) {
  VDTraceNS::Bind(nullptr);
  VDTraceNS::CRecordingSink sink;
  sim::Machine machine;
  auto p = machine.CreateProcess({});
  sim::CurrentProcessScope scope(p.get());
  auto& sm = machine.Sessions();
  const DWORD bob = sm.CreateSession({.userName = L"bob", .remote = true});
  const DWORD carol = sm.CreateSession({.userName = L"carol"});  // console taken: disconnected
  const DWORD dave = sm.CreateSession({.userName = L"dave", .loggedOn = false});
  EXPECT_EQ(List(p->Sessions()),
            (std::vector<Listed>{{0, L"Services", WTSDisconnected},
                                 {1, L"Console", WTSActive},
                                 {bob, L"RDP-Tcp#" + std::to_wstring(bob), WTSActive},
                                 {carol, L"", WTSDisconnected}}));
  EXPECT_TRUE(sink.Contains('>', "CVDTerminalServer::CVDTerminalServer"));

  // Locking keeps a session active; a log-off removes it; a log-on adds one.
  ASSERT_TRUE(sm.Lock(1));
  ASSERT_TRUE(sm.LogOff(bob));
  ASSERT_TRUE(sm.Disconnect(1));
  ASSERT_TRUE(sm.LogOn(dave));
  const auto after = List(p->Sessions());
  CVDTerminalServer ts(p->Sessions());
  ASSERT_NE(ts.Find(1), nullptr);
  EXPECT_EQ(ts.Find(1)->State, WTSDisconnected);
  EXPECT_EQ(ts.Find(bob), nullptr);
  ASSERT_NE(ts.Find(dave), nullptr);
  EXPECT_EQ(ts.Count(), after.size());
}

// A process's sessions whose enumeration is scripted and counted.
class FakeSessions : public sim::ProcessSessions {
 public:
  explicit FakeSessions(sim::Process& p) : sim::ProcessSessions(p) {}
  BOOL WTSEnumerateSessionsW(HANDLE server, DWORD reserved, DWORD version, PWTS_SESSION_INFOW* info,
                             DWORD* count) override {
    ++enumerations;
    args = {server == WTS_CURRENT_SERVER_HANDLE, reserved, version};
    if (fail) {
      *count = 7;  // garbage a failing call may leave behind
      return FALSE;
    }
    *info = records;
    *count = 2;
    return TRUE;
  }
  void WTSFreeMemory(PVOID p) override { freed.push_back(p); }
  void WTSCloseServer(HANDLE) override { ++closes; }

  bool fail = false;
  int enumerations = 0;
  struct Args {
    bool localServer;
    DWORD reserved;
    DWORD version;
    bool operator==(const Args&) const = default;
  } args{};
  std::vector<PVOID> freed;
  int closes = 0;
  wchar_t console[8] = L"Console";
  WTS_SESSION_INFOW records[2] = {{0, console, WTSDisconnected}, {1, console, WTSActive}};
};

class FakeSessionsTest : public ::testing::Test {
 protected:
  sim::Machine machine;
  std::unique_ptr<sim::Process> process = machine.CreateProcess({});
  FakeSessions fake{*process};
};

TEST_F(FakeSessionsTest, TheListIsTakenOnceAndFreedOnceAndTheLocalServerIsNeverClosed) {
  {
    CVDTerminalServer ts(fake);
    EXPECT_EQ(ts.Count(), 2u);
    EXPECT_EQ(ts.Find(1), &fake.records[1]);
    EXPECT_TRUE(fake.freed.empty());
  }
  EXPECT_EQ(fake.enumerations, 1);
  EXPECT_EQ(fake.args, (FakeSessions::Args{true, 0, 1}));
  EXPECT_EQ(fake.freed, (std::vector<PVOID>{fake.records}));
  EXPECT_EQ(fake.closes, 0);
}

TEST_F(FakeSessionsTest, AFailedEnumerationLeavesAnEmptyListAndNothingToFree) {
  fake.fail = true;
  {
    CVDTerminalServer ts(fake);
    EXPECT_EQ(ts.Count(), 0u);
    EXPECT_TRUE(ts.Sessions().empty());
    EXPECT_EQ(ts.Find(0), nullptr);
  }
  EXPECT_TRUE(fake.freed.empty());
}

TEST(TerminalServerTest, BeforeVistaThereIsNoServicesSession) {
  sim::MachineDescription xp;
  xp.osMajor = 5;
  xp.osMinor = 1;
  sim::Machine machine(xp);
  auto p = machine.CreateProcess({});
  sim::CurrentProcessScope scope(p.get());
  EXPECT_EQ(List(p->Sessions()), (std::vector<Listed>{{1, L"Console", WTSActive}}));
}

}  // namespace
