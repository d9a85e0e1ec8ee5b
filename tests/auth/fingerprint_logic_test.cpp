// The fingerprint handler's logic against the stand-in library and a fake window side:
// when the acquisition runs, what each reader event asks of the window, the host-key change
// step, and disposal.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <thread>

#include "auth/fingerprint_logic.h"
#include "core/messages.h"
#include "platform/sim/registry_store.h"
#include "support/result_error.h"
#include "support/trace/trace_sink.h"
#include "support/vdfp/vdfp_api.h"
#include "tests/auth/auth_test_util.h"
#include "tests/auth/fake_fingerprint_host.h"
#include "tests/auth/fp_test_util.h"

namespace {

using authtest::FakeFingerprintHost;
using authtest::RecordingWindow;
using authtest::SimAgentTest;
using Strings = std::vector<std::string>;
using VDTraceNS::CRecordingSink;

constexpr UINT kReaderMsg = core::WM_VD_FINGERPRINT;

class FingerprintLogicTest : public SimAgentTest {
 protected:
  // Creates the logic on a window and brings it to ready, as WM_CREATE and 0x52D would.
  void Start() {
    fp.emplace(Agent(), api, wanted, host);
    fp->OnCreate(window.hwnd());
    m_machine.RunUntilIdle();
    fp->OnReady();
  }
  // Hands the reader events posted to the window to the logic, as the window would.
  void Deliver() {
    m_machine.RunUntilIdle();
    for (const auto& p : window.Take()) fp->OnFingerprintMessage(p.wp, p.lp);
  }
  std::vector<vdfp_standin::AcquisitionInfo> Acquisitions() { return Host().Acquisitions(); }
  bool Running() {
    auto a = Acquisitions();
    return a.size() == 1 && a[0].started;
  }

  RecordingWindow window{Agent(), kReaderMsg, kReaderMsg};
  CVDFPApi api{Agent()};
  bool wanted = false;
  FakeFingerprintHost host;
  std::optional<CFingerprintLogic> fp;
};

// ---- When the acquisition runs --------------------------------------------------------------

TEST_F(FingerprintLogicTest, ReadyStartsTheAcquisitionOnlyWithoutWbfReaderOrWhenTrained) {
  struct Case {
    const char* name;
    std::optional<DWORD> winbio;  // none: the policy is not set (counts as 1)
    DWORD feedback;
    bool running;
  };
  const Case cases[] = {{"own reader", 0, 0, true},
                        {"WBF reader", 1, 0, false},
                        {"WBF reader, trained", 1, 1, true},
                        {"WBF reader, not trained", 1, 2, false},
                        {"policy unset", std::nullopt, 0, false}};
  Install();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.winbio) {
      Host().SetPolicySetting(authtest::WithWinbioPolicy(*c.winbio).policySettings.back());
    } else {
      Host().RemovePolicySetting(L"MS_WINBIO_Compatibility");
    }
    host.feedbackState = c.feedback;
    Start();
    EXPECT_EQ(Running(), c.running);
    if (c.running && Running()) {  // a missing acquisition is a failure, not a crash
      const auto a = Acquisitions()[0];
      EXPECT_EQ(a.window, window.hwnd());
      EXPECT_EQ(a.message, kReaderMsg);
    }
    EXPECT_FALSE(wanted) << "only the host-key step records the decision";
    fp.reset();
  }
}

TEST_F(FingerprintLogicTest, CompletedCaptureStopsRunsTheActionAsATaskThenRestarts) {
  Install(authtest::WithWinbioPolicy(0));
  Start();
  ASSERT_TRUE(Running());
  const VDFP_CAPTURE capture = Host().TouchFinger(L"alice");
  Deliver();
  EXPECT_EQ(host.TakeCalls(), (Strings{"flash", "capture", "capture"}));
  EXPECT_FALSE(Running()) << "stopped while the action runs";
  ASSERT_EQ(host.PendingTasks(), 1u) << "the action runs from the task queue";

  host.RunTasks();
  EXPECT_EQ(host.readyCaptures, (std::vector<DWORD>{capture}));
  EXPECT_TRUE(Running());
  const auto a = Acquisitions()[0];
  EXPECT_EQ(a.starts, 2u);
  EXPECT_EQ(a.stops, 1u);
  EXPECT_EQ(Host().CallCount("VDFPCreateAcquisition"), 1u) << "the handle is kept";
}

TEST_F(FingerprintLogicTest, CaptureWhileAnActionMayNotStartIsDroppedAndTheReaderRestarts) {
  // Whether an action may start is the window's answer (its own tests cover the 60 s rule).
  Install(authtest::WithWinbioPolicy(0));
  Start();
  ASSERT_TRUE(Running());
  for (bool canStart : {true, false, true}) {
    SCOPED_TRACE(canStart);
    host.canStart = canStart;
    CRecordingSink sink;
    const unsigned startsBefore = Acquisitions()[0].starts;
    Host().TouchFinger(L"alice");
    Deliver();
    EXPECT_EQ(host.PendingTasks(), canStart ? 1u : 0u);
    if (!canStart) {
      EXPECT_TRUE(Running()) << "restarted at once";
      EXPECT_EQ(Acquisitions()[0].starts, startsBefore + 1);
      EXPECT_TRUE(sink.Contains('U', "Action is in progress or disabled. Ignored"));
    }
    host.RunTasks();
    EXPECT_TRUE(Running());
  }
  EXPECT_EQ(host.readyCaptures.size(), 2u);
}

TEST_F(FingerprintLogicTest, WithWbfReaderAndUntrainedManagerCapturesDoNotRestartIt) {
  Install(authtest::WithWinbioPolicy(1));
  Start();
  EXPECT_TRUE(Acquisitions().empty());
  // The password manager's own acquisition (as its handler would make it) delivers one.
  ASSERT_EQ(fp->RestartAcquisition(), S_OK);
  fp->OnFingerprintMessage(VDFP_WN_COMPLETED, 0x1234);
  host.RunTasks();
  EXPECT_EQ(host.readyCaptures, (std::vector<DWORD>{0x1234u}))
      << "a capture nobody made still goes to the action, which fails it";
  EXPECT_FALSE(Running());
}

TEST_F(FingerprintLogicTest, AFailingActionStillRestartsTheReader) {
  Install(authtest::WithWinbioPolicy(0));
  Start();
  host.onReady = [] { throw CResultError(E_ACCESSDENIED); };
  CRecordingSink sink;
  fp->OnFingerprintMessage(VDFP_WN_COMPLETED, 7);
  host.RunTasks();
  EXPECT_TRUE(Running());
  EXPECT_TRUE(sink.Contains('E', std::to_string(static_cast<int>(E_ACCESSDENIED)) + " Action: "));
}

// ---- Reader events ------------------------------------------------------------------------

TEST_F(FingerprintLogicTest, EveryReaderEventReachesItsReceiver) {
  Install(authtest::WithWinbioPolicy(0));
  Start();
  struct Case {
    WPARAM code;
    LPARAM data;
    DWORD selected;
    const char* text;
    Strings calls;
  };
  const Case cases[] = {
      {VDFP_WN_ERROR, 0, 0, "WN_ERROR", {"complete"}},
      {VDFP_WN_DISCONNECT, 0, 0, "WN_DISCONNECT", {"disconnected"}},
      {VDFP_WN_RECONNECT, 0, 0, "WN_RECONNECT", {"connected"}},
      {VDFP_WN_SAMPLE_QUALITY, 0, 0, "WN_SAMPLE_QUALITY", {"capture"}},
      {VDFP_WN_SAMPLE_QUALITY, 7, 0, "WN_SAMPLE_QUALITY", {"capture", "feedback 2 3 7"}},
      {VDFP_WN_FINGER_TOUCHED, 0, 0, "WN_FINGER_TOUCHED", {"flash", "capture"}},
      {VDFP_WN_FINGER_GONE, 0, 0, "WN_FINGER_GONE", {}},
      {VDFP_WN_FINGER_GONE, 0, 1, "WN_FINGER_GONE", {"kws 1"}},
      {VDFP_WN_IMAGE_READY, 0, 0, "WN_IMAGE_READY", {"capture"}},
      {VDFP_WN_FEATURE_SET_ADDED, 0, 0, "WN_FEATURE_SET_ADDED", {}},
      {VDFP_WN_REGISTRATION_COMPLETED, 0, 0, "WN_REGISTRATION_COMPLETED", {}},
      {VDFP_WN_OPERATION_STOPPED, 0, 0, "WN_OPERATION_STOPPED", {}},
      {11, 0, 0, "Unknown", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    host.selectedQuickAction = c.selected;
    CRecordingSink sink;
    EXPECT_EQ(fp->OnFingerprintMessage(c.code, c.data), S_OK);
    EXPECT_EQ(host.TakeCalls(), c.calls);
    EXPECT_TRUE(sink.Contains('U', c.text));
    EXPECT_TRUE(Running()) << "only a completed capture stops the reader";
    EXPECT_EQ(host.PendingTasks(), 0u);
  }
}

// ---- The host key ------------------------------------------------------------------------

class FingerprintHostKeyTest : public FingerprintLogicTest {
 protected:
  // The policy query is missing, so the WBF answer comes from "WBFDevice".
  void SetUp() override {
    FingerprintLogicTest::SetUp();
    m_machine.Registry().SetDword(authtest::kHostKey, L"WBFDevice", 1);
    Install(vdfp_standin::VdfpDescription::Default(),
            {.missingExports = {"VDFPGetPolicySettingsEx"}});
  }
  // The watcher thread starts unseen by the machine until it first blocks: touch the key
  // until a change comes through (the real-time bound only guards against a hang).
  void WaitUntilWatching() {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (DWORD n = 0;; ++n) {
      m_machine.Registry().SetDword(authtest::kHostKey, L"Probe", n);
      m_machine.RunUntilIdle();
      if (host.RunTasks() > 0) return;
      ASSERT_LT(std::chrono::steady_clock::now(), until) << "the host key is never watched";
      std::this_thread::yield();
    }
  }
  // Writes the value and runs the step the watcher posted (none: returns false).
  bool Change(DWORD wbf) {
    m_machine.Registry().SetDword(authtest::kHostKey, L"WBFDevice", wbf);
    m_machine.RunUntilIdle();
    return host.RunTasks() > 0;
  }
};

TEST_F(FingerprintHostKeyTest, ChangeStepStartsAndStopsOnlyWhenTheAnswerChanges) {
  Start();
  WaitUntilWatching();  // its step finds nothing changed
  EXPECT_TRUE(Acquisitions().empty());

  ASSERT_TRUE(Change(0));
  EXPECT_TRUE(wanted);
  EXPECT_TRUE(Running());

  ASSERT_TRUE(Change(1));
  EXPECT_FALSE(wanted);
  ASSERT_EQ(Acquisitions().size(), 1u) << "stopped, not destroyed";
  EXPECT_FALSE(Acquisitions()[0].started);

  ASSERT_TRUE(Change(1));  // same answer: nothing
  EXPECT_EQ(Acquisitions()[0].stops, 1u);
  EXPECT_EQ(Acquisitions()[0].starts, 1u);

  ASSERT_TRUE(Change(0));
  EXPECT_TRUE(Running());
  EXPECT_EQ(Host().CallCount("VDFPCreateAcquisition"), 1u);
}

TEST_F(FingerprintHostKeyTest, CancelledEndOfSessionKeepsEverythingARealOneEndsIt) {
  m_machine.Registry().SetDword(authtest::kHostKey, L"WBFDevice", 0);
  Start();
  WaitUntilWatching();
  ASSERT_TRUE(Running());
  auto client = m_vdfp->ClientOf(Agent().Pid());

  fp->OnDestroy(WM_ENDSESSION, FALSE);
  EXPECT_TRUE(Running());
  EXPECT_EQ(client->InitCount(), 1);
  EXPECT_TRUE(Change(1)) << "the watcher still runs";

  fp->OnDestroy(WM_ENDSESSION, TRUE);
  EXPECT_TRUE(Acquisitions().empty());
  EXPECT_EQ(Host().DestroyedRunningAcquisitions(), 0u);
  EXPECT_EQ(client->InitCount(), 0);
  EXPECT_FALSE(Change(0)) << "the watcher ended with the handler";
  fp->OnDestroy(WM_DESTROY, 0);  // twice is harmless
  EXPECT_EQ(Host().CallCount("VDFPTerm"), 1u);
}

TEST_F(FingerprintLogicTest, DisposeStopsARunningAcquisitionBeforeDestroyingIt) {
  Install(authtest::WithWinbioPolicy(0));
  Start();
  ASSERT_TRUE(Running());
  fp->OnFingerprintMessage(VDFP_WN_COMPLETED, 5);  // an action task still queued
  fp->OnDestroy(WM_DESTROY, 0);
  EXPECT_TRUE(Acquisitions().empty());
  EXPECT_EQ(Host().DestroyedRunningAcquisitions(), 0u);
  EXPECT_EQ(Host().CallCount("VDFPDestroyAcquisition"), 1u);

  host.RunTasks();
  EXPECT_TRUE(host.readyCaptures.empty()) << "no action after disposal";
  EXPECT_EQ(Host().CallCount("VDFPCreateAcquisition"), 1u) << "nothing created again";
  EXPECT_EQ(Host().Buffers().Outstanding(), 0u);
}

}  // namespace
