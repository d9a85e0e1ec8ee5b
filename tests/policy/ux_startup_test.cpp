// The start-up task's timing on the virtual clock, the start-up sequence, and the reset and
// recovery flows the logon component asks for.
#include <string>

#include "support/settings/settings_names.h"
#include "support/settings/settings_section.h"
#include "ux_fixture.h"

namespace ux_test {
namespace {

constexpr wchar_t kBrandingDll[] = L"C:\\Program Files\\Veridane\\Brand.dll";
constexpr wchar_t kBrandingKey[] = L"HKLM\\SOFTWARE\\Veridane\\Branding\\Common";

class UXStartupTest : public UXLogicTest {
 protected:
  // The sequence ran (RegisterLogon is its first step).
  int Sequences() const { return env.logonsRegistered; }
  // Nobody configured the machine: no "MachineConfigured", no enabled domain.
  void Unconfigure() { ASSERT_TRUE(vdfp->Host().SetDomainState(L"OS", 0)); }
  void BrandOemline() {
    machine.Modules().Install(kBrandingDll, {}, {{1102, L"Oemline Security Manager"}});
    machine.Registry().SetString(kBrandingKey, L"DLLPath", kBrandingDll);
  }
};

TEST_F(UXStartupTest, TheSequenceStartsAtTheFirstTenSecondTickThatFindsNotificationsAccepted) {
  env.quiet = QUNS_BUSY;
  ux->ShowStartupUI();
  EXPECT_TRUE(ux->StartupScheduled());
  Advance(9999);
  EXPECT_EQ(env.quietAsked, 0);
  Advance(1);
  EXPECT_EQ(env.quietAsked, 1);  // busy: not done, asked again at the next tick
  Advance(10000);
  EXPECT_EQ(env.quietAsked, 2);
  EXPECT_EQ(Sequences(), 0);

  env.quiet = QUNS_APP;
  Advance(10000);
  EXPECT_TRUE(Logged("Notifications accepted, launching startup UI sequences"));
  EXPECT_EQ(Sequences(), 1);
  EXPECT_FALSE(ux->StartupScheduled());
  EXPECT_EQ(host->ScheduledCount(), 0u);

  // Done: no more ticks, the sequence ran once.
  Advance(60000);
  EXPECT_EQ(env.quietAsked, 3);
  EXPECT_EQ(Sequences(), 1);
}

TEST_F(UXStartupTest, QuietTimeOnAnUnconfiguredMachineSlowsTheTaskToTwoMinutes) {
  Unconfigure();
  env.quiet = QUNS_QUIET_TIME;
  ux->ShowStartupUI();
  Advance(10000);
  EXPECT_TRUE(Logged("OOBE period, slowing down timer."));
  EXPECT_TRUE(Logged("Machine is not configured."));
  EXPECT_EQ(host->reschedules, 1);
  // Not every 10 s any more.
  Advance(110000);
  EXPECT_EQ(env.quietAsked, 1);
  Advance(9999);
  EXPECT_EQ(env.quietAsked, 1);
  Advance(1);
  EXPECT_EQ(env.quietAsked, 2);
  EXPECT_EQ(Sequences(), 0);

  // Quiet time ends: the next slow tick starts the sequence once.
  env.quiet = QUNS_ACCEPTS_NOTIFICATIONS;
  Advance(120000);
  EXPECT_EQ(Sequences(), 1);
  Advance(600000);
  EXPECT_EQ(Sequences(), 1);
}

TEST_F(UXStartupTest, QuietTimeOnAConfiguredMachineStartsAtOnce) {
  // The default machine has its "OS" domain enabled.
  env.quiet = QUNS_QUIET_TIME;
  ux->ShowStartupUI();
  Advance(10000);
  EXPECT_EQ(Sequences(), 1);
  EXPECT_EQ(host->reschedules, 0);

  // "MachineConfigured" answers as well, with no domain enabled.
  Unconfigure();
  CKwAppSettings(*proc).SetBool(L"MachineConfigured", true);
  ux->ShowStartupUI();
  Advance(10000);
  EXPECT_EQ(Sequences(), 2);
}

TEST_F(UXStartupTest, AFailingQuietTimeQueryIsRetriedAtTheNextTick) {
  env.quietFails = true;
  ux->ShowStartupUI();
  Advance(10000);
  EXPECT_TRUE(Since(0, 'E', "CheckQuietTime"));
  EXPECT_TRUE(ux->StartupScheduled());
  env.quietFails = false;
  Advance(10000);
  EXPECT_EQ(env.quietAsked, 2);
  EXPECT_EQ(Sequences(), 1);
}

TEST_F(UXStartupTest, AUserChangeWhileTheTaskWaitsSchedulesNothingMore) {
  env.quiet = QUNS_BUSY;
  ux->ShowStartupUI();
  const UINT first = ux->StartupTaskId();
  ux->ShowStartupUI();
  EXPECT_EQ(ux->StartupTaskId(), first);
  EXPECT_EQ(host->ScheduledCount(), 1u);
  env.quiet = QUNS_ACCEPTS_NOTIFICATIONS;
  Advance(10000);
  EXPECT_EQ(Sequences(), 1);
  // Accepted: the next user change starts over.
  ux->ShowStartupUI();
  EXPECT_TRUE(ux->StartupScheduled());
  Advance(10000);
  EXPECT_EQ(Sequences(), 2);
}

TEST_F(UXStartupTest, TheSequenceCountsTheLogonAndMarksTheFirstUsePeriodPassed) {
  const std::wstring kw = L"HKU\\" + machine.Sessions().UserSid(1) +
                          L"\\SOFTWARE\\Veridane\\Applications\\KwAppSettings";
  env.logonCount = 3;
  env.imageState = 1;  // image not ready: the period has not passed
  ux->RunStartupSequence();
  EXPECT_EQ(ux->LogonCount(), 3);
  EXPECT_FALSE(machine.Registry().GetDword(kw, L"OOBEPassed").has_value());

  env.imageState = 2;
  ux->RunStartupSequence();
  EXPECT_EQ(machine.Registry().GetDword(kw, L"OOBEPassed"), 1u);
}

TEST_F(UXStartupTest, ReenrollmentIsOfferedOnlyWhenTheReminderShowedNothing) {
  // Enough and complete, nothing to suggest: the reminder returns 1, re-enrollment is asked.
  ux->RunStartupSequence();
  EXPECT_TRUE(Entered("CUXHandler<class CVdAgentMain>::RunReenrollmentPromptIfNeeded"));

  // A recommendation was sent (0): no re-enrollment after it.
  const size_t mark = Mark();
  host->enrolled = VDFP_CRED_PASSWORD;
  ux->RunStartupSequence();
  EXPECT_TRUE(Since(mark, 'U', "Toast sent"));
  EXPECT_FALSE(Since(mark, '>', "CUXHandler<class CVdAgentMain>::RunReenrollmentPromptIfNeeded"));
}

// ---- Reset, recovery, unlock ----

TEST_F(UXStartupTest, ResetRunsOnlyForAConfiguredOemlineMachineWithWizardsAllowed) {
  SetLogonDword(L"ResetSettings", 1);
  EXPECT_EQ(ux->RunResetUserEnrollmentIfNeeded(), 1);
  EXPECT_TRUE(Logged("not Oemline product"));

  BrandOemline();
  core::CAgentProcess fresh(*proc, nullptr);  // edition answers are cached per process
  CUXLogic oem(fresh, *host, env);
  env.imageState = 1;
  EXPECT_EQ(oem.RunResetUserEnrollmentIfNeeded(), 1);
  EXPECT_TRUE(Logged("HP Image is not ready"));

  env.imageState = 2;
  Unconfigure();
  EXPECT_EQ(oem.RunResetUserEnrollmentIfNeeded(), 1);
  EXPECT_TRUE(Logged("Machine is not configured"));
  ASSERT_TRUE(vdfp->Host().SetDomainState(L"OS", VDFP_AUTH_DOMAIN_ACTIVE));

  fresh.NoWizardMode = true;
  EXPECT_EQ(oem.RunResetUserEnrollmentIfNeeded(), 0);
  EXPECT_TRUE(Logged("-NoWizard"));
  EXPECT_TRUE(host->commands.empty());

  fresh.NoWizardMode = false;
  EXPECT_EQ(oem.RunResetUserEnrollmentIfNeeded(), 0);
  EXPECT_EQ(host->commands, (std::vector<Command>{{L"ResetCredentials", 0}}));

  SetLogonDword(L"ResetSettings", 0);
  EXPECT_EQ(oem.RunResetUserEnrollmentIfNeeded(), 1);
  EXPECT_TRUE(Logged("no reset required"));
}

TEST_F(UXStartupTest, RecoveryNeedsAChangePolicyAndASpareKeyOrRecoveryPasswordLogon) {
  EXPECT_EQ(ux->RunSpareKeyRecoveryIfNeeded(), 1);  // no logon record at all
  SetLogonQword(L"Methods", VDFP_CRED_SPAREKEY);
  EXPECT_EQ(ux->RunSpareKeyRecoveryIfNeeded(), 1);  // no change policy
  SetLogonDword(L"ChangePolicy", 1);
  SetLogonQword(L"Methods", VDFP_CRED_PASSWORD | VDFP_CRED_FINGERPRINT);
  EXPECT_EQ(ux->RunSpareKeyRecoveryIfNeeded(), 1);  // neither bit
  EXPECT_TRUE(host->commands.empty());

  SetLogonQword(L"Methods", VDFP_CRED_RECOVERY_PASSWORD | VDFP_CRED_PASSWORD);
  EXPECT_EQ(ux->RunSpareKeyRecoveryIfNeeded(), 0);
  EXPECT_EQ(host->commands, (std::vector<Command>{{L"StartRecovery", 0}}));

  host->kiosk = true;
  EXPECT_EQ(ux->RunSpareKeyRecoveryIfNeeded(), 1);
  EXPECT_EQ(host->commands.size(), 1u);
}

TEST_F(UXStartupTest, AnUnlockRunsRecoveryAndAUserChangeTheStartupTaskWhenNoResetWasStarted) {
  SetLogonDword(L"ChangePolicy", 1);
  SetLogonQword(L"Methods", VDFP_CRED_SPAREKEY);
  ux->OnSessionChange(WTS_SESSION_LOCK);
  EXPECT_TRUE(host->commands.empty());
  ux->OnSessionChange(WTS_SESSION_UNLOCK);
  EXPECT_EQ(host->commands, (std::vector<Command>{{L"StartRecovery", 0}}));

  // A reset started instead: no recovery after it.
  host->commands.clear();
  BrandOemline();
  core::CAgentProcess fresh(*proc, nullptr);
  CUXLogic oem(fresh, *host, env);
  SetLogonDword(L"ResetSettings", 1);
  oem.OnSessionChange(WTS_SESSION_UNLOCK);
  EXPECT_EQ(host->commands, (std::vector<Command>{{L"ResetCredentials", 0}}));
  // And a reset at a user change schedules no start-up task.
  oem.ShowStartupUI();
  EXPECT_FALSE(oem.StartupScheduled());
  EXPECT_EQ(host->ScheduledCount(), 0u);
}

}  // namespace
}  // namespace ux_test
