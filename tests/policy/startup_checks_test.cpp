// The standalone-mode answer and the password-reset flag on the simulated machine.
#include "policy/startup_checks.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/agent_process.h"
#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "platform/sim/registry_store.h"
#include "platform/sim/session_manager.h"
#include "standins/vdfpapi/sim_install.h"
#include "support/trace/trace.h"
#include "support/trace/trace_sink.h"
#include "support/vdfp/vdfp_api.h"
#include "tests/policy/policy_test_util.h"

namespace {

using policytest::HasResult;

// Where the 32-bit view of the resets key lies on 64-bit Windows.
constexpr const wchar_t* kResets =
    L"HKLM\\SOFTWARE\\WOW6432Node\\Veridane\\Applications\\Agent\\PasswordResets";

class StartupChecksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    VDTraceNS::Bind(proc.get());
    ASSERT_EQ(agent.AuthLibrary().VDFPInit(), S_OK);
    sid = machine.Sessions().UserSid(1);
    machine.Registry().SetDword(kResets, L"Marker", 1);
    machine.Registry().CreateKey(std::wstring(kResets) + L"\\" + sid);
    machine.Registry().CreateKey(std::wstring(kResets) + L"\\S-1-5-21-1-2-3-1999");
  }
  void TearDown() override {
    agent.AuthLibrary().VDFPTerm();
    VDTraceNS::Bind(nullptr);
  }
  std::optional<DWORD> EnrollmentComplete() {
    return machine.Registry().GetDword(
        L"HKU\\" + sid + L"\\SOFTWARE\\Veridane\\Applications\\KwAppSettings",
        L"UserEnrollmentComplete");
  }
  bool Flagged(const std::wstring& who) {
    return machine.Registry().KeyExists(std::wstring(kResets) + L"\\" + who);
  }

  VDTraceNS::CRecordingSink sink;
  sim::Machine machine;
  std::unique_ptr<vdfp_standin::SimInstallation> vdfp = vdfp_standin::InstallVdfpApi(machine);
  std::unique_ptr<sim::Process> proc = machine.CreateProcess({.sessionId = 1});
  sim::CurrentProcessScope scope{proc.get()};
  core::CAgentProcess agent{*proc, nullptr};
  std::wstring sid;
};

TEST_F(StartupChecksTest, TheUsersResetFlagIsConsumedOnceAndEnrollmentMarkedIncomplete) {
  const CUser alice = CUser::FromSid(agent.AuthLibrary(), sid, VDFP_NAME_SAM);
  CheckUserPasswordReset(agent, alice);
  EXPECT_TRUE(sink.Contains('U', "Password reset is detected!"));
  EXPECT_FALSE(Flagged(sid));
  EXPECT_EQ(EnrollmentComplete(), 0u);
  // Another user's flag and the key itself stay.
  EXPECT_TRUE(Flagged(L"S-1-5-21-1-2-3-1999"));
  EXPECT_EQ(machine.Registry().GetDword(kResets, L"Marker"), 1u);

  // Consumed: the next ready finds nothing and writes nothing.
  machine.Registry().SetDword(L"HKU\\" + sid + L"\\SOFTWARE\\Veridane\\Applications\\KwAppSettings",
                              L"UserEnrollmentComplete", 1);
  CheckUserPasswordReset(agent, alice);
  EXPECT_EQ(EnrollmentComplete(), 1u);
}

TEST_F(StartupChecksTest, ANameIsTranslatedToItsSidAndWithoutOneNothingIsTouched) {
  CheckUserPasswordReset(agent, CUser(agent.AuthLibrary(), L"VDSIM-PC\\alice", VDFP_NAME_SAM));
  EXPECT_FALSE(Flagged(sid));
  EXPECT_EQ(EnrollmentComplete(), 0u);

  // A name the library cannot translate has no SID: the resets key itself must survive.
  machine.Registry().CreateKey(std::wstring(kResets) + L"\\" + sid);
  CheckUserPasswordReset(agent, CUser(agent.AuthLibrary(), L"VDSIM-PC\\nobody", VDFP_NAME_SAM));
  CheckUserPasswordReset(agent, CUser());
  EXPECT_TRUE(machine.Registry().KeyExists(kResets));
  EXPECT_TRUE(Flagged(sid));
  EXPECT_TRUE(Flagged(L"S-1-5-21-1-2-3-1999"));
}

TEST_F(StartupChecksTest, NoResetsKeyIsTracedAndHarmless) {
  machine.Registry().DeleteKey(kResets);
  CheckUserPasswordReset(agent, CUser::FromSid(agent.AuthLibrary(), sid, VDFP_NAME_SAM));
  EXPECT_TRUE(HasResult(sink, "Cannot open the PasswordResets registry key"));
  EXPECT_FALSE(EnrollmentComplete().has_value());
}

TEST_F(StartupChecksTest, StandaloneModeIsReadOncePerProcess) {
  vdfp_standin::PolicySettingDesc on;
  on.name = L"StandaloneMode";
  on.value.type = VDVAR_BOOL;
  on.value.number = 1;
  vdfp->Host().SetPolicySetting(on);
  EXPECT_TRUE(IsLumeraStandaloneWksta(agent));
  EXPECT_TRUE(sink.Contains('U', "returning 1"));
  vdfp->Host().RemovePolicySetting(L"StandaloneMode");
  EXPECT_TRUE(IsLumeraStandaloneWksta(agent)) << "the first answer holds for the process";

  // Another process asks for itself, and gets the default without the policy.
  auto other = machine.CreateProcess({.sessionId = 1});
  sim::CurrentProcessScope in(other.get());
  core::CAgentProcess second(*other, nullptr);
  ASSERT_EQ(second.AuthLibrary().VDFPInit(), S_OK);
  EXPECT_FALSE(IsLumeraStandaloneWksta(second));
  second.AuthLibrary().VDFPTerm();
}

}  // namespace
