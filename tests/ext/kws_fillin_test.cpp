// The fill-in component's logic on the simulated machine: loading and its failures, commands,
// the replies of message 1424 and the feedback transitions, with a fake component, a fake
// password-manager server and a host that records what was asked of the rest of the agent.
#include "ext/kws_fillin.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "core/agent_process.h"
#include "platform/sim/desktop.h"
#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "platform/sim/registry_store.h"
#include "platform/sim/session_manager.h"
#include "standins/vdfpapi/sim_install.h"
#include "support/result_error.h"
#include "support/trace/trace.h"
#include "support/trace/trace_sink.h"
#include "support/vdfp/vdfp_api.h"
#include "tests/ext/fake_kws.h"

namespace {

using kws_test::FillIn;
using kws_test::Pm;
using Calls = std::vector<std::string>;

constexpr HRESULT kInvalidData = static_cast<HRESULT>(0x8007000DL);
constexpr HRESULT kProcNotFound = static_cast<HRESULT>(0x8007007FL);
const HWND kWindow = reinterpret_cast<HWND>(0x1234);

class KwsFillInTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FillIn() = {};
    Pm() = {};
    VDTraceNS::Bind(proc.get());
    // The agent's window thread lives in a single-threaded apartment.
    ASSERT_EQ(proc->Com().CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  }
  void TearDown() override {
    kws.reset();
    proc->Com().CoUninitialize();
    VDTraceNS::Bind(nullptr);
  }

  bool Traced(const std::string& text) const { return sink.Contains('U', text); }
  int CountTraced(const std::string& text) const {
    const auto t = sink.Texts('U');
    return static_cast<int>(std::count(t.begin(), t.end(), text));
  }
  // A loaded and initialised component.
  void Ready() {
    kws_test::InstallFillIn(machine);
    ASSERT_EQ(kws->OnReady(kWindow), S_OK);
  }

  VDTraceNS::CRecordingSink sink;
  sim::Machine machine;
  std::unique_ptr<sim::Process> proc = machine.CreateProcess({});
  sim::CurrentProcessScope scope{proc.get()};
  core::CAgentProcess agent{*proc, nullptr};
  kws_test::FakeKwsHost host;
  CPasswordManager pm{agent};
  std::unique_ptr<CKwsFillIn> kws = std::make_unique<CKwsFillIn>(agent, host, pm);
};

// ---- Loading ---------------------------------------------------------------------------------

TEST_F(KwsFillInTest, ReadyLoadsTheComponentAndInitialisesItWithTheWindowAndReplyMessage) {
  Ready();
  EXPECT_TRUE(kws->IsLoaded());
  EXPECT_EQ(FillIn().inits, 1);
  EXPECT_EQ(FillIn().initWindow, kWindow);
  EXPECT_EQ(FillIn().initMessage, 1424u);
  EXPECT_TRUE(Traced("OnlineIds is enabled"));

  // Dispose terminates once and unloads; a second Dispose does nothing more.
  kws->Dispose();
  kws->Dispose();
  EXPECT_EQ(FillIn().terminates, 1);
  EXPECT_FALSE(kws->IsLoaded());
}

TEST_F(KwsFillInTest, AnUnusablePathValueIsInvalidData) {
  auto& reg = machine.Registry();
  // The simulated registry stores strings as the platform's wide characters; `extra` bytes
  // follow the text.
  auto bytes = [](const std::wstring& s, size_t extra = 0) {
    std::vector<BYTE> b(s.size() * sizeof(wchar_t) + extra);
    std::memcpy(b.data(), s.data(), s.size() * sizeof(wchar_t));
    return b;
  };
  kws_test::InstallFillIn(machine);
  const std::wstring path = kws_test::kComponentPath;
  struct Row {
    const char* what;
    DWORD type;
    std::vector<BYTE> data;
  } const rows[] = {
      {"a number", REG_DWORD, {1, 0, 0, 0}},
      {"binary", REG_BINARY, bytes(path + L'\0')},
      {"an odd size", REG_SZ, bytes(path + L'\0', 1)},
      {"no terminating zero", REG_SZ, bytes(path)},
      {"empty", REG_SZ, {}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    reg.SetValue(kws_test::kPluginKey32, L"", r.type, r.data);
    EXPECT_EQ(kws->Load(), kInvalidData);
    EXPECT_FALSE(kws->IsLoaded());
  }
  // The same text, terminated, loads.
  reg.SetValue(kws_test::kPluginKey32, L"", REG_SZ, bytes(path + L'\0'));
  EXPECT_EQ(kws->Load(), S_OK);
}

TEST_F(KwsFillInTest, AMissingKeyOrComponentFailsAndCommandsThenReportNotLoaded) {
  EXPECT_EQ(kws->OnReady(kWindow), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  machine.Registry().SetString(kws_test::kPluginKey32, L"", kws_test::kComponentPath);
  EXPECT_TRUE(FAILED(kws->OnReady(kWindow)));  // the path names no file

  DWORD result = 0xCCCCCCCC;
  EXPECT_EQ(kws->Command(1, &result), CKwsFillIn::kNotLoaded);
  EXPECT_EQ(result, 0u);
  EXPECT_TRUE(FillIn().commands.empty());
}

TEST_F(KwsFillInTest, EachMissingExportFailsTheLoadWithProcNotFoundAndNothingIsCalled) {
  for (const char* missing : {"VDKWSInit", "VDKWSCommand", "VDKWSTerminate"}) {
    SCOPED_TRACE(missing);
    FillIn() = {};
    kws_test::InstallFillIn(machine, missing);
    EXPECT_EQ(kws->OnReady(kWindow), kProcNotFound);
    EXPECT_FALSE(kws->IsLoaded());
    kws->Dispose();
    EXPECT_EQ(FillIn().inits, 0);
    EXPECT_EQ(FillIn().terminates, 0);
  }
}

TEST_F(KwsFillInTest, TheDisableAppsPolicyKeepsTheComponentUnloaded) {
  kws_test::InstallFillIn(machine);
  // Without the library the query fails and the default, enabled, holds.
  EXPECT_TRUE(kws->IsEnabled());

  auto desc = vdfp_standin::VdfpDescription::Default();
  vdfp_standin::PolicySettingDesc disable;
  disable.name = L"CommonSettings\\{42F9948B-B690-4325-A073-63A8BF31FF32}\\DisableApps";
  disable.value.type = VDVAR_BOOL;
  disable.value.number = 1;
  desc.policySettings.push_back(disable);
  auto vdfp = vdfp_standin::InstallVdfpApi(machine, desc);
  ASSERT_EQ(agent.AuthLibrary().VDFPInit(), S_OK);

  EXPECT_EQ(kws->OnReady(kWindow), S_FALSE);
  EXPECT_TRUE(Traced("OnlineIds is disabled"));
  EXPECT_TRUE(Traced("KWS is disabled"));
  EXPECT_FALSE(kws->IsLoaded());
  EXPECT_EQ(FillIn().inits, 0);
  agent.AuthLibrary().VDFPTerm();
}

TEST_F(KwsFillInTest, CommandsPassCodeAndParameterAndReturnTheComponentsResult) {
  Ready();
  FillIn().commandResult = S_FALSE;
  FillIn().commandOut = 7;
  DWORD result = 0;
  EXPECT_EQ(kws->Command(100, 0xABCD, &result), S_FALSE);
  EXPECT_EQ(result, 7u);
  EXPECT_EQ(kws->Command(5, &result), S_FALSE);
  ASSERT_EQ(FillIn().commands.size(), 2u);
  EXPECT_EQ(FillIn().commands[0], (std::pair<DWORD, ULONG_PTR>{100, 0xABCD}));
  EXPECT_EQ(FillIn().commands[1], (std::pair<DWORD, ULONG_PTR>{5, 0}));
}

// ---- Fill-in replies -------------------------------------------------------------------------

TEST_F(KwsFillInTest, NoMenuReturnsTheActionToIdle) {
  kws->OnKwsMessage(CKwsFillIn::kFillinReply, CKwsFillIn::kNoMenu);
  EXPECT_EQ(host.calls, Calls{"reset"});
  EXPECT_TRUE(Traced("actionType: NoMenu"));
  // InProgress, unknown replies and unknown kinds only trace.
  host.calls.clear();
  kws->OnKwsMessage(CKwsFillIn::kFillinReply, CKwsFillIn::kInProgress);
  kws->OnKwsMessage(CKwsFillIn::kFillinReply, 9);
  kws->OnKwsMessage(3, CKwsFillIn::kShowMenu);
  EXPECT_TRUE(host.calls.empty());
  EXPECT_TRUE(Traced("actionType: Undefined"));
}

TEST_F(KwsFillInTest, ShowMenuAfterAFillInThatAskedForItLocksOnce) {
  kws->SetLockAfterFillIn(true);
  kws->OnKwsMessage(CKwsFillIn::kFillinReply, CKwsFillIn::kShowMenu);
  EXPECT_EQ(host.calls, (Calls{"reset", "clearLock"}));
  EXPECT_TRUE(Traced("Locking workstation..."));
  EXPECT_EQ(machine.Sessions().Find(1)->State(), sim::SessionState::Locked);
  EXPECT_FALSE(kws->LockAfterFillIn());
  EXPECT_TRUE(Pm().shows.empty());
}

TEST_F(KwsFillInTest, AFingerActionWithAWbfReaderNeitherLocksNorOpensTheDashboard) {
  kws_test::InstallPasswordManager(machine);
  host.fingerAction = true;
  host.wbf = true;
  kws->SetLockAfterFillIn(true);
  kws->OnKwsMessage(CKwsFillIn::kFillinReply, CKwsFillIn::kShowMenu);
  kws->OnKwsMessage(CKwsFillIn::kFillinReply, CKwsFillIn::kShowMenu);
  EXPECT_EQ(CountTraced("Not supported with WBF readers"), 2);
  EXPECT_EQ(machine.Sessions().Find(1)->State(), sim::SessionState::Active);
  EXPECT_TRUE(Pm().shows.empty());
  EXPECT_EQ(host.calls, (Calls{"reset", "clearLock", "reset"}));

  // A card action with the same reader is no WBF case.
  host.fingerAction = false;
  kws->OnKwsMessage(CKwsFillIn::kFillinReply, CKwsFillIn::kShowMenu);
  EXPECT_EQ(Pm().shows.size(), 1u);
}

TEST_F(KwsFillInTest, ShowMenuOpensTheDashboardOnceInModalModeAndSkipsWhileModal) {
  kws_test::InstallPasswordManager(machine);
  kws->OnKwsMessage(CKwsFillIn::kFeedbackChange, CKwsFillIn::kActTrained);
  host.calls.clear();
  kws->OnKwsMessage(CKwsFillIn::kFillinReply, CKwsFillIn::kShowMenu);
  EXPECT_EQ(host.calls, (Calls{"reset", "modal=1", "modal=0"}));
  EXPECT_EQ(Pm().shows, std::vector<BYTE>{1});
  EXPECT_TRUE(Traced("Launching mini/user console..."));

  host.modal = true;  // something else is modal
  kws->OnKwsMessage(CKwsFillIn::kFillinReply, CKwsFillIn::kShowMenu);
  EXPECT_TRUE(Traced("Already in modal mode, skipped..."));
  EXPECT_EQ(Pm().shows.size(), 1u);
  // The one object serves every dashboard.
  host.modal = false;
  kws->OnKwsMessage(CKwsFillIn::kFillinReply, CKwsFillIn::kShowMenu);
  EXPECT_EQ(Pm().shows.size(), 2u);
  EXPECT_EQ(Pm().created, 1);
}

TEST_F(KwsFillInTest, AFailingDashboardLeavesNeitherModalModeNorItsRunningFlagSet) {
  kws_test::InstallPasswordManager(machine);
  Pm().showResult = E_ACCESSDENIED;
  EXPECT_THROW(kws->OnKwsMessage(CKwsFillIn::kFillinReply, CKwsFillIn::kShowMenu), CResultError);
  EXPECT_FALSE(host.modal);
  EXPECT_FALSE(agent.MiniDashboardRunning);
  Pm().showResult = S_OK;
  kws->OnKwsMessage(CKwsFillIn::kFillinReply, CKwsFillIn::kShowMenu);
  EXPECT_EQ(Pm().shows.size(), 2u);
}

TEST_F(KwsFillInTest, TheDashboardRunsOncePerProcessWhoeverAsks) {
  kws_test::InstallPasswordManager(machine);
  // Up already in this process (asked through another owner, or from inside its own loop):
  // the request succeeds without a second dashboard, and the one that runs keeps its flag.
  agent.MiniDashboardRunning = true;
  CPasswordManager second(agent);
  EXPECT_TRUE(second.ShowMiniDashboard(true));
  EXPECT_TRUE(pm.ShowMiniDashboard(true));
  EXPECT_TRUE(Pm().shows.empty());
  EXPECT_TRUE(agent.MiniDashboardRunning);

  // Another agent process has a flag of its own.
  auto otherProc = machine.CreateProcess({});
  core::CAgentProcess otherAgent(*otherProc, nullptr);
  {
    sim::CurrentProcessScope other(otherProc.get());
    ASSERT_EQ(otherProc->Com().CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    CPasswordManager theirs(otherAgent);
    EXPECT_TRUE(theirs.ShowMiniDashboard(false));
    otherProc->Com().CoUninitialize();
  }
  EXPECT_EQ(Pm().shows, std::vector<BYTE>{0});
  EXPECT_FALSE(otherAgent.MiniDashboardRunning);
  EXPECT_TRUE(agent.MiniDashboardRunning);

  agent.MiniDashboardRunning = false;
  EXPECT_TRUE(pm.ShowMiniDashboard(true));
  EXPECT_EQ(Pm().shows, (std::vector<BYTE>{0, 1}));
  EXPECT_FALSE(agent.MiniDashboardRunning);
}

// ---- Feedback --------------------------------------------------------------------------------

TEST_F(KwsFillInTest, FeedbackTransitionsDriveTheLedAndTheAcquisition) {
  struct Step {
    DWORD state;
    Calls expected;
  };
  auto run = [&](std::initializer_list<Step> steps) {
    for (const auto& s : steps) {
      SCOPED_TRACE(s.state);
      host.calls.clear();
      kws->OnKWSFeedbackChanged(s.state);
      EXPECT_EQ(host.calls, s.expected);
      EXPECT_EQ(kws->FeedbackState(), s.state);
    }
  };
  run({
      {CKwsFillIn::kInactive, {}},                              // 0 -> 0: nothing at all
      {CKwsFillIn::kActTrained, {"led=1", "create", "start"}},  // no acquisition yet
      {CKwsFillIn::kActTrained, {"led=1"}},                     // same state: LED again only
      {CKwsFillIn::kActNotTrained, {"stop", "led=2", "start"}},
      {CKwsFillIn::kInactive, {"led=0"}},  // other readers keep running
      {CKwsFillIn::kInactive, {}},
      {7, {"stop", "led=0", "start"}},  // an unknown state: LED off, capture wanted
  });
  EXPECT_TRUE(Traced("FB transition: Inactive --> Act.Trained"));
  EXPECT_TRUE(Traced("LED state: Wait.Short"));
  EXPECT_TRUE(Traced("FB transition: Inactive --> Invalid"));

  // With a WBF reader only Act.Trained captures, and leaving any state stops the reader.
  host.wbf = true;
  run({
      {CKwsFillIn::kActNotTrained, {"stop", "led=2"}},
      {CKwsFillIn::kActTrained, {"stop", "led=1", "start"}},
      {CKwsFillIn::kActTrained, {"led=1"}},
      {CKwsFillIn::kInactive, {"stop", "led=0"}},
  });
}

TEST_F(KwsFillInTest, AnAcquisitionThatCannotBeCreatedStillRecordsTheState) {
  host.acquisitionCreatable = false;
  kws->OnKWSFeedbackChanged(CKwsFillIn::kActTrained);
  EXPECT_EQ(host.calls, (Calls{"led=1", "create"}));
  EXPECT_EQ(kws->FeedbackState(), DWORD{CKwsFillIn::kActTrained});
}

// ---- The password manager's object ---------------------------------------------------------

TEST_F(KwsFillInTest, ThePasswordManagerIsCreatedOnceAndReleasedWithItsOwner) {
  EXPECT_FALSE(pm.IsPasswordManagerInstalled());  // no server registered yet
  EXPECT_TRUE(FAILED(pm.InitUserTrainingTool()));
  kws_test::InstallPasswordManager(machine);
  {
    CPasswordManager own(agent);
    EXPECT_TRUE(own.IsPasswordManagerInstalled());
    EXPECT_EQ(own.InitUserTrainingTool(), S_OK);
    EXPECT_TRUE(own.ShowMiniDashboard(false));
    EXPECT_EQ(Pm().created, 1);
    EXPECT_EQ(Pm().trainingInits, 1);
    EXPECT_EQ(Pm().shows, std::vector<BYTE>{0});
    EXPECT_EQ(Pm().live, 1);  // only the owner's reference is left
  }
  EXPECT_EQ(Pm().live, 0);
}

TEST_F(KwsFillInTest, AServerThatHandsOutNoObjectIsAFailureNotAnObject) {
  kws_test::InstallPasswordManager(machine);
  Pm().factoryGivesNull = true;
  EXPECT_FALSE(pm.IsPasswordManagerInstalled());
  EXPECT_THROW(pm.ShowMiniDashboard(true), CResultError);
  Pm().factoryGivesNull = false;
  EXPECT_TRUE(pm.ShowMiniDashboard(true));  // tried again, and no dashboard left "running"
}

}  // namespace
