// CVDFPInit against the stand-in host: initialising at once when the host runs, waiting on
// the host's readiness event when it does not, and the ready message either way.
#include <gtest/gtest.h>

#include "auth/vdfp_init.h"
#include "core/messages.h"
#include "support/trace/trace_sink.h"
#include "support/vdfp/vdfp_api.h"
#include "tests/auth/auth_test_util.h"

namespace {

using authtest::Posted;
using authtest::RecordingWindow;
using authtest::SimAgentTest;
using VDTraceNS::CRecordingSink;

constexpr UINT kReady = core::WM_VD_READY;

class VdfpInitTest : public SimAgentTest {
 protected:
  int InitCount() {
    auto c = m_vdfp->ClientOf(Agent().Pid());
    return c ? c->InitCount() : 0;
  }
  CVDFPApi m_api{Agent()};
};

TEST_F(VdfpInitTest, HostRunningInitialisesAtOnceAndPostsReady) {
  Install();
  RecordingWindow w(Agent(), kReady, kReady);
  {
    CVDFPInit init(Agent(), m_api);
    EXPECT_EQ(init.Start(w.hwnd()), S_OK);
    m_machine.RunUntilIdle();
    EXPECT_EQ(w.Take(), (std::vector<Posted>{{kReady, 0, 0}}));
    EXPECT_EQ(InitCount(), 1);
  }
  // Disposal ends the library it initialised.
  EXPECT_EQ(InitCount(), 0);
  EXPECT_EQ(Host().CallCount("VDFPTerm"), 1u);
}

TEST_F(VdfpInitTest, HostStartingLaterInitialisesFromTheWait) {
  Install(LateHost());
  RecordingWindow w(Agent(), kReady, kReady);
  CRecordingSink sink;
  CVDFPInit init(Agent(), m_api);
  EXPECT_EQ(init.Start(w.hwnd()), S_FALSE);
  m_machine.AdvanceBy(10000);
  EXPECT_TRUE(w.Take().empty());
  EXPECT_EQ(Host().CallCount("VDFPInit"), 0u) << "nothing calls in before the host is up";

  m_vdfp->StartHostAt(m_machine.GetClock().NowMs() + 2500);
  m_machine.AdvanceBy(2499);
  EXPECT_TRUE(w.Take().empty());
  m_machine.AdvanceBy(1);
  m_machine.RunUntilIdle();
  EXPECT_EQ(w.Take(), (std::vector<Posted>{{kReady, 0, 0}}));
  EXPECT_EQ(init.Result(), S_OK);
  EXPECT_EQ(InitCount(), 1);
  EXPECT_TRUE(sink.Contains('U', "Host is started!!!"));
  EXPECT_EQ(Host().OrphanCalls(), 0u) << "the wait's callback ran as the agent's process";

  init.Dispose();
  init.Dispose();  // twice is harmless
  EXPECT_EQ(InitCount(), 0);
  EXPECT_EQ(Host().CallCount("VDFPTerm"), 1u);
}

TEST_F(VdfpInitTest, FailedInitialisationPostsReadyWithItsCode) {
  vdfp_standin::SimInstallOptions opts;
  opts.installLibrary = false;
  Install(vdfp_standin::VdfpDescription::Default(), opts);
  RecordingWindow w(Agent(), kReady, kReady);
  CVDFPInit init(Agent(), m_api);
  EXPECT_EQ(init.Start(w.hwnd()), static_cast<HRESULT>(0x8007007E));
  m_machine.RunUntilIdle();
  EXPECT_EQ(
      w.Take(),
      (std::vector<Posted>{{kReady, 1, static_cast<LPARAM>(static_cast<HRESULT>(0x8007007E))}}));
  init.Dispose();
  EXPECT_EQ(Host().CallCount("VDFPTerm"), 0u);
}

TEST_F(VdfpInitTest, DisposedBeforeTheHostStartsNothingIsCalled) {
  Install(LateHost());
  RecordingWindow w(Agent(), kReady, kReady);
  {
    CVDFPInit init(Agent(), m_api);
    EXPECT_EQ(init.Start(w.hwnd()), S_FALSE);
  }
  m_vdfp->StartHostAt(1000);
  m_machine.AdvanceBy(2000);
  EXPECT_TRUE(w.Take().empty());
  EXPECT_EQ(Host().CallCount("VDFPInit"), 0u);
  EXPECT_EQ(Host().CallCount("VDFPTerm"), 0u);
}

}  // namespace
