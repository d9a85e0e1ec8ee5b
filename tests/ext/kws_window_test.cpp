// The password manager's reply message 1424 reaching the agent's window. Any program of the
// session can post it, with any wParam and lParam: each one is handled and traced, none takes
// the window down, and the fill-in component is still answered afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/desktop.h"
#include "standins/suite/sim_install.h"
#include "standins/vdfpapi/sim_install.h"
#include "tests/core/agent_fixture.h"

namespace {

constexpr UINT kReply = 1424;
const std::string kOnKwsMessage = "CKwsHandler<class CVdAgentMain>::OnKwsMessage";

class KwsWindowTest : public AgentWindowTest {
 protected:
  void SetUp() override {
    vdfp = vdfp_standin::InstallVdfpApi(machine);
    suite = suite_standin::InstallSuiteStandIns(machine);
    AgentWindowTest::SetUp();
    // The host is up, so the window became ready and loaded the fill-in component.
    auto fillIn = suite->FillIn(proc->Pid());
    ASSERT_TRUE(fillIn);
    ASSERT_EQ(fillIn->Window(), window->m_hWnd);
  }
  void TearDown() override {
    AgentWindowTest::TearDown();
    suite.reset();
    vdfp.reset();
  }

  int Count(char type, const std::string& text) const {
    const auto records = sink.Records();
    return static_cast<int>(std::count_if(records.begin(), records.end(), [&](const auto& r) {
      return r.type == type && r.text == text;
    }));
  }
  std::vector<std::wstring> PmRecords() {
    return machine.GetDesktop().Texts(1, suite_standin::kPasswordManagerKind);
  }

  std::unique_ptr<vdfp_standin::SimInstallation> vdfp;
  std::unique_ptr<suite_standin::SimSuiteInstallation> suite;
};

TEST_F(KwsWindowTest, ForgedRepliesFromAnotherProgramAreTracedAndTheAgentStillAnswers) {
  auto forger = machine.CreateProcess({.sessionId = 1, .exePath = L"C:\\Temp\\forger.exe"});
  struct Forged {
    WPARAM wParam;
    LPARAM lParam;
    const char* traced;  // what the reply leaves in the trace
  } const forged[] = {
      {0, 0, "Unknown reply kind 0x0"},
      {0, -1, "Unknown reply kind 0x0"},
      {1, -1, "actionType: Undefined"},
      {1, 0x7FFFFFFF, "actionType: Undefined"},
      {1, 3, "actionType: Undefined"},
      {1, 0, "actionType: NoMenu"},
      {2, -1, "FB transition: Inactive --> Invalid"},
      {2, 0x7FFFFFFF, "FB transition: Invalid --> Invalid"},
      {2, 0, "FB transition: Invalid --> Inactive"},
      {3, 1, "Unknown reply kind 0x3"},
      {static_cast<WPARAM>(-1), -1, nullptr},
      {0x80000001, 1, "Unknown reply kind 0x80000001"},
  };
  const auto pmBefore = PmRecords();
  {
    sim::CurrentProcessScope as(forger.get());
    for (const auto& f : forged)
      ASSERT_TRUE(forger->Ui().PostMessageW(window->m_hWnd, kReply, f.wParam, f.lParam));
  }
  machine.RunUntilIdle();

  EXPECT_EQ(Count('>', kOnKwsMessage), static_cast<int>(std::size(forged))) << "none lost";
  for (const auto& f : forged) {
    if (!f.traced) continue;
    SCOPED_TRACE(f.traced);
    EXPECT_TRUE(sink.Contains('U', f.traced));
  }
  EXPECT_EQ(PmRecords(), pmBefore) << "nothing forged above asks for the dashboard";
  EXPECT_EQ(window->Kws().FeedbackState(), 0u);

  // The component's own reply is still heard: the dashboard opens and the window is not left
  // in modal mode.
  ASSERT_EQ(suite->PostReply(1, 1), 1);
  machine.RunUntilIdle();
  auto expected = pmBefore;
  expected.insert(expected.end(), {L"mini dashboard opened trained 0", L"mini dashboard closed"});
  EXPECT_EQ(PmRecords(), expected);
  EXPECT_FALSE(window->ModalMode);
  EXPECT_FALSE(agent->MiniDashboardRunning);
}

TEST_F(KwsWindowTest, AFeedbackStateWiderThan32BitsIsNoRealState) {
  if (sizeof(LPARAM) < 8) GTEST_SKIP() << "a 32-bit LPARAM has no upper half";
  // 0x1'00000001 cut to 32 bits would read as Act.Trained and start the reader.
  Send(kReply, 2, static_cast<LPARAM>(0x100000001LL));
  EXPECT_EQ(window->Kws().FeedbackState(), 0xFFFFFFFFu);
  EXPECT_TRUE(sink.Contains('U', "FB transition: Inactive --> Invalid"));
  // The component's own states, sign-extended or not, keep their meaning.
  Send(kReply, 2, 1);
  EXPECT_EQ(window->Kws().FeedbackState(), 1u);
  Send(kReply, 2, -1);
  EXPECT_EQ(window->Kws().FeedbackState(), 0xFFFFFFFFu);
}

}  // namespace
