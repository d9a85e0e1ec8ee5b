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

// The simulated machine's own session list comes through whole (which sessions a terminal
// server lists is the simulator's to test); a log-off is seen by the next holder.
TEST(TerminalServerTest, ListsTheSessionsWithTheirStationsAndStatesAndFindsThem) {
  VDTraceNS::Bind(nullptr);
  VDTraceNS::CRecordingSink sink;
  sim::Machine machine;
  auto p = machine.CreateProcess({});
  sim::CurrentProcessScope scope(p.get());
  auto& sm = machine.Sessions();
  const DWORD bob = sm.CreateSession({.userName = L"bob", .remote = true});
  EXPECT_EQ(List(p->Sessions()),
            (std::vector<Listed>{{0, L"Services", WTSDisconnected},
                                 {1, L"Console", WTSActive},
                                 {bob, L"RDP-Tcp#" + std::to_wstring(bob), WTSActive}}));
  EXPECT_TRUE(sink.Contains('>', "CVDTerminalServer::CVDTerminalServer"));

  ASSERT_TRUE(sm.LogOff(bob));
  ASSERT_TRUE(sm.Disconnect(1));
  CVDTerminalServer ts(p->Sessions());
  ASSERT_NE(ts.Find(1), nullptr);
  EXPECT_EQ(ts.Find(1)->State, WTSDisconnected);
  EXPECT_EQ(ts.Find(bob), nullptr);
  EXPECT_EQ(ts.Count(), 2u);
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

TEST(FakeSessionsTest, TheListIsTakenAndFreedOnceTheServerNeverClosedAndAFailureListsNothing) {
  sim::Machine machine;
  auto process = machine.CreateProcess({});
  FakeSessions fake{*process};
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

  // A failed enumeration leaves an empty list and nothing to free.
  fake.freed.clear();
  fake.fail = true;
  {
    CVDTerminalServer ts(fake);
    EXPECT_EQ(ts.Count(), 0u);
    EXPECT_TRUE(ts.Sessions().empty());
    EXPECT_EQ(ts.Find(0), nullptr);
  }
  EXPECT_TRUE(fake.freed.empty());
}

}  // namespace
