// The environment tests: WBF reader (policy first, then the host key), working reader,
// machine configured, administrator.
#include <gtest/gtest.h>

#include "auth/reader_environment.h"
#include "platform/sim/registry_store.h"
#include "support/trace/trace_sink.h"
#include "support/vdfp/vdfp_api.h"
#include "tests/auth/auth_test_util.h"
#include "tests/auth/fp_test_util.h"

namespace {

using authtest::SimAgentTest;
using VDTraceNS::CRecordingSink;

class ReaderEnvironmentTest : public SimAgentTest {
 protected:
  void Init() { ASSERT_EQ(api.VDFPInit(), S_OK); }
  void TearDown() override {
    if (m_vdfp) {
      EXPECT_EQ(Host().Buffers().Outstanding(), 0u);
    }
  }
  sim::RegistryStore& Reg() { return m_machine.Registry(); }
  CVDFPApi api{Agent()};
};

TEST_F(ReaderEnvironmentTest, WbfPolicyDecidesWhenItsQuerySucceeds) {
  Install(authtest::WithWinbioPolicy(0));
  Init();
  Reg().SetDword(authtest::kHostKey, L"WBFDevice", 1);
  CRecordingSink sink;
  EXPECT_FALSE(CReaderEnvironment::HasWBFReader(Agent(), api)) << "the key is not read";
  EXPECT_TRUE(sink.Contains('U', "MS_WINBIO_Compatibility=0"));
  Host().RemovePolicySetting(L"MS_WINBIO_Compatibility");
  EXPECT_TRUE(CReaderEnvironment::HasWBFReader(Agent(), api)) << "an unset policy counts as 1";
}

TEST_F(ReaderEnvironmentTest, WithoutThePolicyQueryTheHostKeyDecides) {
  Install(vdfp_standin::VdfpDescription::Default(),
          {.missingExports = {"VDFPGetPolicySettingsEx"}});
  Init();
  EXPECT_FALSE(CReaderEnvironment::HasWBFReader(Agent(), api)) << "no key";
  Reg().SetDword(authtest::kHostKey, L"WBFDevice", 1);
  EXPECT_TRUE(CReaderEnvironment::HasWBFReader(Agent(), api));
  Reg().SetDword(authtest::kHostKey, L"WBFDevice", 0);
  EXPECT_FALSE(CReaderEnvironment::HasWBFReader(Agent(), api));

  CRecordingSink sink;
  Reg().SetString(authtest::kHostKey, L"WBFDevice", L"1");
  EXPECT_FALSE(CReaderEnvironment::HasWBFReader(Agent(), api)) << "a string is no reader";
  EXPECT_TRUE(sink.Contains('U', "WBFDevice=0"));
  EXPECT_EQ(sink.Texts('E').size(), 1u);
}

TEST_F(ReaderEnvironmentTest, WorkingReaderFollowsTheConnectedReaders) {
  Install();
  Init();
  CRecordingSink sink;
  EXPECT_TRUE(CReaderEnvironment::IsThereWorkingFpReader(api));
  EXPECT_TRUE(sink.Contains('U', "ulDevCount = 1"));
  Host().DisconnectReader();
  EXPECT_FALSE(CReaderEnvironment::IsThereWorkingFpReader(api));
  api.VDFPTerm();
  EXPECT_FALSE(CReaderEnvironment::IsThereWorkingFpReader(api)) << "no library: no reader";
}

TEST_F(ReaderEnvironmentTest, MachineConfiguredBySettingOrByAnActiveDomain) {
  Install();
  Init();
  CRecordingSink sink;
  EXPECT_TRUE(CReaderEnvironment::IsMachineConfigured(Agent(), api));
  EXPECT_TRUE(sink.Contains('U', "OS auth domains is enabled"));

  ASSERT_TRUE(Host().SetDomainState(L"OS", 0));
  sink.Clear();
  EXPECT_FALSE(CReaderEnvironment::IsMachineConfigured(Agent(), api));
  EXPECT_TRUE(sink.Contains('U', "1 auth domains were found"));
  EXPECT_TRUE(sink.Contains('U', "Machine is not configured."));

  Reg().SetDword(L"HKLM\\SOFTWARE\\Veridane\\Applications\\KwAppSettings", L"MachineConfigured", 1);
  const unsigned enums = Host().CallCount("VDFPAuthDomainEnum");
  EXPECT_TRUE(CReaderEnvironment::IsMachineConfigured(Agent(), api));
  EXPECT_EQ(Host().CallCount("VDFPAuthDomainEnum"), enums) << "the setting alone answers";
}

TEST_F(ReaderEnvironmentTest, MachineWithoutDomainAnswersCountsAsConfigured) {
  Install();  // the library is not initialised: the enumeration fails
  CRecordingSink sink;
  EXPECT_TRUE(CReaderEnvironment::IsMachineConfigured(Agent(), api));
  EXPECT_TRUE(sink.Contains('U', "No auth domains were found"));
}

}  // namespace
