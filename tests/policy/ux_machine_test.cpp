// The start-up sequence with the agent's own environment functions and prompts: the shell's
// quiet time, the logon count and the prompts' boxes, on the simulated machine with a scripted
// shell and a user who answers dialogs (ux_test_platform.h). The window stays a fake.
// Postponement by policy is covered function by function in ux_environment_test.cpp.
#include <string>

#include "platform/sim/desktop.h"
#include "policy/prompt_resources.h"
#include "policy/ux_machine_environment.h"
#include "support/settings/settings_section.h"
#include "ux_fixture.h"
#include "ux_test_platform.h"

namespace ux_test {
namespace {

constexpr const wchar_t* kResDll = L"C:\\Program Files\\Veridane\\Agent\\VdAgentRes.dll";

class UXMachineTest : public UXLogicTest {
 protected:
  explicit UXMachineTest(sim::MachineDescription desc = {}) : UXLogicTest(desc) {}

  void SetUp() override {
    UXLogicTest::SetUp();
    kw = L"HKU\\" + machine.Sessions().UserSid(1) +
         L"\\SOFTWARE\\Veridane\\Applications\\KwAppSettings";
    UseProcess(*proc);
  }
  void TearDown() override {
    Release();
    UXLogicTest::TearDown();
  }
  void Release() {
    real.reset();
    machineEnv.reset();
    if (mine) mine->AuthLibrary().VDFPTerm();
    mine.reset();
  }
  // The logic as the agent in `p` runs it.
  void UseProcess(sim::Process& p) {
    Release();
    plat = std::make_unique<uxtest::UxPlatform>(p);
    mine = std::make_unique<core::CAgentProcess>(*plat, nullptr);
    ASSERT_EQ(mine->AuthLibrary().VDFPInit(), S_OK);
    machineEnv = std::make_unique<CUXMachineEnvironment>(*mine);
    real = std::make_unique<CUXLogic>(*mine, *host, *machineEnv);
  }

  std::wstring kw;
  std::unique_ptr<uxtest::UxPlatform> plat;
  std::unique_ptr<core::CAgentProcess> mine;
  std::unique_ptr<CUXMachineEnvironment> machineEnv;
  std::unique_ptr<CUXLogic> real;
};

TEST_F(UXMachineTest, APasswordOnlyUserIsRecommendedEnrollmentOnceQuietTimeEnds) {
  ASSERT_TRUE(vdfp->Host().SetDomainState(L"OS", 0));  // nobody configured the machine yet
  host->enrolled = VDFP_CRED_PASSWORD;
  machine.GetDesktop().SetNotificationState(1, QUNS_QUIET_TIME);
  real->ShowStartupUI();
  Advance(10000);
  EXPECT_TRUE(Logged("OOBE period, slowing down timer."));
  Advance(120000);
  EXPECT_TRUE(host->notices.empty());

  machine.GetDesktop().SetNotificationState(1, QUNS_ACCEPTS_NOTIFICATIONS);
  Advance(120000);
  EXPECT_EQ(real->LogonCount(), 1);
  EXPECT_EQ(machine.Registry().GetDword(kw, L"LogonCount"), 1u);
  ASSERT_EQ(host->notices.size(), 1u);
  EXPECT_EQ(host->notices[0].text, 197u);
  EXPECT_EQ(host->notices[0].command, L"RunSetupWizard");
  // No image: the first-use period counts as passed.
  EXPECT_EQ(machine.Registry().GetDword(kw, L"OOBEPassed"), 1u);

  // The next logon of the same user is silenced.
  UseProcess(*proc);
  real->RunStartupSequence();
  EXPECT_EQ(real->LogonCount(), 2);
  EXPECT_EQ(host->notices.size(), 1u);
  EXPECT_TRUE(Logged("Silenced"));
}

class UXMachineWin7Test : public UXMachineTest {
 protected:
  // The only reader asks alice, the session's user, to enroll again.
  UXMachineWin7Test() : UXMachineTest(Windows(6, 1)) {
    vdfpDesc.readers.front().reenroll = {L"alice"};
  }
  void SetUp() override {
    UXMachineTest::SetUp();
    machine.Sessions().StartShell(1);
    machine.Modules().Install(kResDll, {},
                              {{IDS_PROMPT_REENROLLMENT, L"Enroll your finger again?"},
                               {IDS_PROMPT_REGISTER, L"Enroll a finger?"}});
    host->resources = plat->Modules().LoadLibraryExW(kResDll, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(host->resources, nullptr);
  }
};

TEST_F(UXMachineWin7Test, ReenrollmentDeclinedWithTheBoxCheckedIsNeverOfferedAgain) {
  plat->ui.answer = uxtest::UserAnswer{IDCANCEL, false};
  EXPECT_EQ(real->RunReenrollmentPromptIfNeeded(), 1);
  ASSERT_TRUE(plat->ui.shown.has_value());
  EXPECT_EQ(plat->ui.shown->templateId, IDD_REENROLLMENT_PROMPT);

  plat->ui.answer = uxtest::UserAnswer{IDOK, false};
  EXPECT_EQ(real->RunReenrollmentPromptIfNeeded(), S_OK);
  EXPECT_EQ(host->commands, (std::vector<Command>{{L"EnrollCredentials", VDFP_CRED_FINGERPRINT}}));

  plat->ui.answer = uxtest::UserAnswer{IDCANCEL, true};
  EXPECT_EQ(real->RunReenrollmentPromptIfNeeded(), 1);
  EXPECT_EQ(plat->ui.shownCount, 3);
  EXPECT_EQ(real->RunReenrollmentPromptIfNeeded(), static_cast<int>(E_ABORT));
  EXPECT_TRUE(Logged("Do not bother"));
  EXPECT_EQ(plat->ui.shownCount, 3);
  EXPECT_EQ(OutstandingBuffers(), 0u);
}

}  // namespace
}  // namespace ux_test
