// The enrollment reminders: the decision after logon and at policy changes, notifications
// from Windows 8 on and prompts before, re-enrollment and the reader-event wizards.
#include <string>

#include "support/settings/settings_names.h"
#include "support/settings/settings_section.h"
#include "ux_fixture.h"

namespace ux_test {
namespace {

constexpr int kAbort = static_cast<int>(E_ABORT);

class UXRemindersTest : public UXLogicTest {
 protected:
  explicit UXRemindersTest(sim::MachineDescription desc = {}) : UXLogicTest(desc) {}
  void PasswordOnly() { host->enrolled = VDFP_CRED_PASSWORD; }
  void Counted(int logons) {
    env.logonCount = logons;
    ux->RegisterLogon();
  }
};

class UXRemindersWin7Test : public UXRemindersTest {
 protected:
  UXRemindersWin7Test() : UXRemindersTest(Windows(6, 1)) {}
};

// ---- Exits of the decision ----

TEST_F(UXRemindersTest, EachReasonNotToRemindIsTracedAndShowsNothing) {
  PasswordOnly();  // would otherwise be recommended
  struct Case {
    const char* trace;
    std::function<void()> set;
    std::function<void()> undo;
  };
  const Case cases[] = {
      {"-NoWizard", [&] { agent->NoWizardMode = true; }, [&] { agent->NoWizardMode = false; }},
      {"Self-enrollment is disabled",
       [&] {
         SetPolicy(L"CredentialsSelfEnrollment", 0);
         agent->SelfEnrollment = {};
       },
       [&] {
         SetPolicy(L"CredentialsSelfEnrollment", 1);
         agent->SelfEnrollment = {};
       }},
      {"ShowUserWizard=false", [&] { CAgentSettings(*proc).SetBool(L"ShowUserWizard", false); },
       [&] { CAgentSettings(*proc).SetBool(L"ShowUserWizard", true); }},
      {"DisableRegistrationAtLogon=true", [&] { SetPolicy(L"DisableRegistrationAtLogon", 1); },
       [&] { SetPolicy(L"DisableRegistrationAtLogon", 0); }},
      // Last: the standalone answer is kept for the life of the process.
      {"-Mobile - no wizard", [&] { agent->StandaloneModeCache = true; }, [] {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.trace);
    c.set();
    const size_t mark = Mark();
    EXPECT_EQ(ux->RunUserWizardIfNeeded(), 1);
    EXPECT_TRUE(Since(mark, 'U', c.trace));
    EXPECT_TRUE(host->notices.empty());
    EXPECT_EQ(host->suggestionsAsked, 0);  // left before the suggestion is consumed
    c.undo();
  }
  // With every reason gone the reminder comes.
  agent->StandaloneModeCache = false;
  EXPECT_EQ(ux->RunUserWizardIfNeeded(), 0);
  EXPECT_EQ(host->notices.size(), 1u);
}

TEST_F(UXRemindersTest, APasswordOnlyUserGetsTheRecommendationUnlessEnrollmentIsMarkedComplete) {
  PasswordOnly();
  host->enough = false;
  Counted(1);
  EXPECT_EQ(ux->RunUserWizardIfNeeded(), 0);
  ASSERT_EQ(host->notices.size(), 1u);
  const Notice& n = host->notices[0];
  EXPECT_EQ(n.title, 131u);
  EXPECT_EQ(n.text, 197u);
  EXPECT_EQ(n.flags, 0x10002u);
  EXPECT_EQ(n.command, L"RunSetupWizard");
  EXPECT_TRUE(Logged("Toast sent"));
  EXPECT_FALSE(Logged("Required credentials toast sent"));
  EXPECT_EQ(env.naggingAsked, 0);

  n.onClick();
  EXPECT_TRUE(Entered("[launch](NotifyEnrollmentRecommended){}"));
  EXPECT_EQ(host->commands, (std::vector<Command>{{L"RunSetupWizard", 0}}));

  // The enrollment-complete setting counts for a password-only user: the requirement.
  CKwAppSettings(*proc).SetBool(L"UserEnrollmentComplete", true);
  EXPECT_EQ(ux->RunUserWizardIfNeeded(), 0);
  ASSERT_EQ(host->notices.size(), 2u);
  EXPECT_EQ(host->notices[1].command, L"EnrollCredentials");
  EXPECT_TRUE(Logged("Required credentials toast sent"));
  host->notices[1].onClick();
  EXPECT_TRUE(Entered("[launch](NotifyEnrollmentRequired){}"));
  EXPECT_EQ(host->commands.back(), (Command{L"EnrollCredentials", 0}));
}

TEST_F(UXRemindersTest, TheRecommendationIsSilencedFromTheSecondCountedLogon) {
  PasswordOnly();
  Counted(2);
  EXPECT_EQ(ux->RunUserWizardIfNeeded(), 0);
  EXPECT_TRUE(Logged("Silenced"));
  EXPECT_TRUE(host->notices.empty());
  Counted(0);  // still in the first-use period
  EXPECT_EQ(ux->RunUserWizardIfNeeded(), 0);
  EXPECT_EQ(host->notices.size(), 1u);
}

TEST_F(UXRemindersTest, AdditionalCredentialsWaitForTheFirstCountedLogon) {
  host->suggestion = 0x4;  // complete and enough, the policy now also names smart cards
  EXPECT_EQ(ux->RunUserWizardIfNeeded(), 0);  // logon count 0 until RegisterLogon
  EXPECT_TRUE(Logged("Postponed"));
  EXPECT_TRUE(host->notices.empty());

  Counted(1);
  EXPECT_EQ(ux->RunUserWizardIfNeeded(), 1);  // sent, and the caller may go on
  ASSERT_EQ(host->notices.size(), 1u);
  EXPECT_EQ(host->notices[0].text, 196u);
  EXPECT_EQ(host->notices[0].flags, 0x10001u);
  EXPECT_EQ(host->notices[0].command, L"ManageCredentials");
  host->notices[0].onClick();
  EXPECT_TRUE(Entered("[launch](NotifyAdditionalCredentialsAvailable){}"));
  EXPECT_EQ(host->commands, (std::vector<Command>{{L"ManageCredentials", 0}}));

  // Nothing new to suggest: nothing at all.
  host->suggestion = 0;
  EXPECT_EQ(ux->RunUserWizardIfNeeded(), 1);
  EXPECT_EQ(host->notices.size(), 1u);
}

TEST_F(UXRemindersTest, NaggingDecidesTheRequirementAndSatisfyingThePolicyRestartsIt) {
  Counted(1);
  host->enough = false;  // complete (fingerprint enrolled) but not enough
  env.postponed = true;
  host->suggestion = 0x4;
  EXPECT_EQ(ux->RunUserWizardIfNeeded(), 1);  // postponed: falls to the suggestion
  EXPECT_EQ(env.naggingAsked, 1);
  ASSERT_EQ(host->notices.size(), 1u);
  EXPECT_EQ(host->notices[0].command, L"ManageCredentials");
  EXPECT_EQ(env.timestampUpdates, 0);

  env.postponed = false;
  EXPECT_EQ(ux->RunUserWizardIfNeeded(), 0);
  ASSERT_EQ(host->notices.size(), 2u);
  EXPECT_EQ(host->notices[1].command, L"EnrollCredentials");

  // Enough: the interval starts again from today, and postponement is not even asked.
  host->enough = true;
  host->suggestion = 0;
  EXPECT_EQ(ux->RunUserWizardIfNeeded(), 1);
  EXPECT_EQ(env.timestampUpdates, 1);
  EXPECT_EQ(env.naggingAsked, 2);
}

// ---- Before Windows 8: prompts ----

TEST_F(UXRemindersWin7Test, PromptsReplaceNotificationsAndAcceptanceRunsTheConsole) {
  Counted(5);  // silencing is for notifications only
  PasswordOnly();
  env.answer = IDCANCEL;
  EXPECT_EQ(ux->RunUserWizardIfNeeded(), 1);
  EXPECT_EQ(env.prompts, (std::vector<UXPrompt>{UXPrompt::kAskUserToRegisterAtStart}));
  EXPECT_EQ(env.promptModule, host->resources);
  EXPECT_TRUE(host->commands.empty());

  env.answer = IDOK;
  host->commandResult = S_FALSE;
  EXPECT_EQ(ux->RunUserWizardIfNeeded(), S_FALSE);  // the command's own result
  EXPECT_EQ(host->commands, (std::vector<Command>{{L"RunSetupWizard", 0}}));

  host->enrolled |= VDFP_CRED_FINGERPRINT;
  host->enough = false;
  host->commandResult = S_OK;
  EXPECT_EQ(ux->RunUserWizardIfNeeded(), 0);
  EXPECT_EQ(host->commands.back(), (Command{L"EnrollCredentials", 0}));
  EXPECT_TRUE(host->notices.empty());
}

TEST_F(UXRemindersWin7Test, APolicyChangeInsideAPromptDoesNotStackASecondOne) {
  PasswordOnly();
  int inner = -2;
  env.insidePrompt = [&] {
    env.insidePrompt = nullptr;
    inner = ux->OnPolicyChanged();
  };
  EXPECT_EQ(ux->RunUserWizardIfNeeded(), 1);
  EXPECT_EQ(inner, 1);
  EXPECT_EQ(env.prompts.size(), 1u);
  EXPECT_TRUE(Logged("A prompt is already up, this one is dropped"));
  EXPECT_FALSE(ux->PromptUp());

  // The next policy change may show it again.
  EXPECT_EQ(ux->OnPolicyChanged(), 1);
  EXPECT_EQ(env.prompts.size(), 2u);
}

TEST_F(UXRemindersWin7Test, AReaderEventInsideAPromptIsDroppedToo) {
  PasswordOnly();
  host->enough = false;
  CKwAppSettings(*proc).SetBool(L"UserEnrollmentComplete", true);
  env.insidePrompt = [&] {
    env.insidePrompt = nullptr;
    EXPECT_EQ(ux->RunWizardsAtRuntimeIfNeeded(VDFP_CRED_FINGERPRINT), 1);
  };
  env.answer = IDOK;
  EXPECT_EQ(ux->RunUserWizardIfNeeded(), 0);
  EXPECT_EQ(env.prompts.size(), 1u);
  EXPECT_EQ(host->commands.size(), 1u);
}

TEST_F(UXRemindersWin7Test, TheFingerprintPromptRespectsDoNotBotherAgain) {
  host->enrolled = VDFP_CRED_PASSWORD;
  env.answer = IDOK;
  EXPECT_EQ(ux->RunWizardsAtRuntimeIfNeeded(VDFP_CRED_FINGERPRINT), 0);
  EXPECT_EQ(env.prompts, (std::vector<UXPrompt>{UXPrompt::kAskUserToRegister}));
  EXPECT_EQ(host->commands, (std::vector<Command>{{L"EnrollCredentials", VDFP_CRED_FINGERPRINT}}));

  CAgentSettings(*proc).SetBool(L"UserFPDoNotBotherAgain", true);
  EXPECT_EQ(ux->RunWizardsAtRuntimeIfNeeded(VDFP_CRED_FINGERPRINT), 1);
  EXPECT_TRUE(Logged("UserFPDoNotBotherAgain set"));
  EXPECT_EQ(env.prompts.size(), 1u);
}

// ---- Reader events at run time ----

TEST_F(UXRemindersTest, RuntimeWizardsChooseByMaskReaderKindAndEnrollment) {
  host->kiosk = true;
  EXPECT_EQ(ux->RunWizardsAtRuntimeIfNeeded(VDFP_CRED_FINGERPRINT), 1);
  EXPECT_TRUE(Logged("No wizards for kiosk users"));
  host->kiosk = false;

  // Not enough: the requirement, whatever the reader.
  host->enough = false;
  EXPECT_EQ(ux->RunWizardsAtRuntimeIfNeeded(VDFP_CRED_SMARTCARD), 0);
  ASSERT_EQ(host->notices.size(), 1u);
  EXPECT_EQ(host->notices[0].command, L"EnrollCredentials");
  host->enough = true;

  // Another reader type, or a fingerprint mixed with others: nothing.
  EXPECT_EQ(ux->RunWizardsAtRuntimeIfNeeded(VDFP_CRED_SMARTCARD), 1);
  EXPECT_EQ(ux->RunWizardsAtRuntimeIfNeeded(VDFP_CRED_FINGERPRINT | VDFP_CRED_PASSWORD), 1);
  EXPECT_EQ(host->notices.size(), 1u);

  // A fingerprint reader and no fingerprint enrolled: the fingerprint notice.
  host->enrolled = VDFP_CRED_PASSWORD;
  EXPECT_EQ(ux->RunWizardsAtRuntimeIfNeeded(VDFP_CRED_FINGERPRINT), 0);
  ASSERT_EQ(host->notices.size(), 2u);
  EXPECT_EQ(host->notices[1].title, 131u);
  EXPECT_EQ(host->notices[1].text, 124u);
  EXPECT_EQ(host->notices[1].flags, 0x1u);

  // The same with a biometric-framework reader: the framework enrolls, not the agent.
  SetPolicy(L"MS_WINBIO_Compatibility", 1);
  EXPECT_EQ(ux->RunWizardsAtRuntimeIfNeeded(VDFP_CRED_FINGERPRINT), 1);
  EXPECT_EQ(host->notices.size(), 2u);
}

TEST_F(UXRemindersTest, TheFingerprintNoticeEnrollsOrOpensTheSetupTile) {
  host->enrolled = VDFP_CRED_PASSWORD;
  ASSERT_EQ(ux->RunWizardsAtRuntimeIfNeeded(VDFP_CRED_FINGERPRINT), 0);
  // Enough and a password, as the notice was made: straight to fingerprint enrollment.
  host->notices[0].onClick();
  EXPECT_TRUE(Entered("[launch](NotifyEnrollmentRecommended){}"));
  EXPECT_EQ(host->commands, (std::vector<Command>{{L"EnrollCredentials", VDFP_CRED_FINGERPRINT}}));
  EXPECT_TRUE(host->launches.empty());

  // No password enrolled: the console's setup tile, with the taskbar given the focus first.
  host->enrolled = 0;
  ASSERT_EQ(ux->NotifyFingerprintEnrollmentRecommended(), 0);
  host->enrolled = VDFP_CRED_PASSWORD;  // what counts is the state when the notice was made
  host->notices.back().onClick();
  EXPECT_EQ(host->taskbarFocus, 1);
  ASSERT_EQ(host->launches.size(), 1u);
  EXPECT_EQ(host->launches[0].first, 1);
  EXPECT_EQ(host->launches[0].second, L"-tile:72AF293F-9D47-4B71-9C71-97232B991A83");
  EXPECT_EQ(host->commands.size(), 1u);
}

// ---- Re-enrollment ----

class UXReenrollmentTest : public UXRemindersTest {
 protected:
  // Two readers; the second asks alice (the session's user) to enroll again.
  UXReenrollmentTest() {
    vdfpDesc.readers.push_back(vdfpDesc.readers.front());
    vdfpDesc.readers.front().reenroll.clear();
    vdfpDesc.readers.back().id.Data1 ^= 0x1;
    vdfpDesc.readers.back().reenroll = {L"alice"};
  }
  unsigned DeviceInfoCalls() { return vdfp->Host().CallCount("VDFPGetDeviceInfo"); }
};

TEST_F(UXReenrollmentTest, TheSecondReaderNeedsItAndAcceptanceEnrollsTheFingerprint) {
  env.answer = IDOK;
  host->commandResult = S_FALSE;
  EXPECT_EQ(ux->RunReenrollmentPromptIfNeeded(), S_FALSE);
  EXPECT_EQ(DeviceInfoCalls(), 2u);
  EXPECT_EQ(env.prompts, (std::vector<UXPrompt>{UXPrompt::kReenrollment}));
  EXPECT_EQ(host->commands, (std::vector<Command>{{L"EnrollCredentials", VDFP_CRED_FINGERPRINT}}));
  EXPECT_EQ(OutstandingBuffers(), 0u);

  env.answer = IDCANCEL;
  EXPECT_EQ(ux->RunReenrollmentPromptIfNeeded(), 1);
  EXPECT_EQ(host->commands.size(), 1u);
  EXPECT_EQ(OutstandingBuffers(), 0u);
}

TEST_F(UXReenrollmentTest, EveryReasonNotToOfferItAborts) {
  host->kiosk = true;
  EXPECT_EQ(ux->RunReenrollmentPromptIfNeeded(), kAbort);
  EXPECT_TRUE(Logged("No support for Kiosk session"));
  host->kiosk = false;

  SetPolicy(L"CredentialsSelfEnrollment", 0);
  EXPECT_EQ(ux->RunReenrollmentPromptIfNeeded(), kAbort);
  EXPECT_TRUE(Logged("Self-enrollment is disabled"));
  SetPolicy(L"CredentialsSelfEnrollment", 1);
  agent->SelfEnrollment = {};

  agent->StandaloneModeCache = true;
  EXPECT_EQ(ux->RunReenrollmentPromptIfNeeded(), kAbort);
  EXPECT_TRUE(Logged("Mobile - no reenrollment"));
  EXPECT_EQ(DeviceInfoCalls(), 0u);

  agent->StandaloneModeCache = false;
  vdfp->Host().DisconnectReader(1);  // the one that needs it is gone
  EXPECT_EQ(ux->RunReenrollmentPromptIfNeeded(), kAbort);
  EXPECT_TRUE(env.prompts.empty());
  EXPECT_EQ(OutstandingBuffers(), 0u);
}

TEST_F(UXReenrollmentTest, AtRunTimeAnAbortMeansNothingShown) {
  // Fingerprint enrolled, a suite reader: re-enrollment's result when it is not negative.
  env.answer = IDCANCEL;
  EXPECT_EQ(ux->RunWizardsAtRuntimeIfNeeded(VDFP_CRED_FINGERPRINT), 1);
  EXPECT_EQ(env.prompts.size(), 1u);
  env.answer = IDOK;
  EXPECT_EQ(ux->RunWizardsAtRuntimeIfNeeded(VDFP_CRED_FINGERPRINT), S_OK);
  CAgentSettings(*proc).SetBool(L"ReenrollmentPromptDoNotBotherAgain", true);
  EXPECT_EQ(ux->RunWizardsAtRuntimeIfNeeded(VDFP_CRED_FINGERPRINT), 1);
}

}  // namespace
}  // namespace ux_test
