// EnumTokens: the host's token types in order, and nothing (with the array given back) when
// the host cannot answer or has none.
#include <gtest/gtest.h>

#include "auth/tokens.h"
#include "support/trace/trace_sink.h"
#include "tests/auth/auth_test_util.h"
#include "tests/auth/fake_vdfp_library.h"

namespace {

using authtest::SimAgentTest;
using vdfp_standin::VdfpDescription;

class TokensTest : public SimAgentTest {
 protected:
  void Start(VdfpDescription d) {
    Install(std::move(d));
    ASSERT_EQ(m_api.VDFPInit(), S_OK);
  }
  void TearDown() override {
    if (m_vdfp) {
      EXPECT_EQ(Host().Buffers().OutstandingTags(), std::vector<std::string>{});
      EXPECT_EQ(Host().Buffers().InvalidFrees(), 0u);
    }
  }
  CVDFPApi m_api{Agent()};
};

TEST_F(TokensTest, TheHostsTokenTypesInItsOrder) {
  Start(VdfpDescription::FromJson(R"({"tokens": ["Smartcard", "Password",
      {"name": "Badge", "guid": "{0D9E8F7A-1111-2222-3333-444455556666}", "mask": 4096}]})"));
  VDTraceNS::CRecordingSink sink;
  const std::vector<GUID> tokens = EnumTokens(m_api);
  ASSERT_EQ(tokens.size(), 3u);
  EXPECT_TRUE(tokens[0] == VDFP_TOKEN_SMARTCARD);
  EXPECT_TRUE(tokens[1] == VDFP_TOKEN_PASSWORD);
  EXPECT_EQ(vdfp_standin::GuidToString(tokens[2]), L"{0D9E8F7A-1111-2222-3333-444455556666}");
  EXPECT_EQ(sink.Texts('U'), std::vector<std::string>{"3 tokens found"});
  EXPECT_EQ(sink.Texts('>'), std::vector<std::string>{"EnumTokens"});
}

TEST_F(TokensTest, NoTokenTypesIsAnEmptyList) {
  Start(VdfpDescription::FromJson(R"({"tokens": []})"));
  VDTraceNS::CRecordingSink sink;
  EXPECT_TRUE(EnumTokens(m_api).empty());
  EXPECT_EQ(sink.Texts('U'), std::vector<std::string>{"No tokens found."});
}

TEST_F(TokensTest, AHostThatCannotAnswerGivesAnEmptyListAndTheCode) {
  Start(VdfpDescription::Default());
  Host().Stop();
  VDTraceNS::CRecordingSink sink;
  EXPECT_TRUE(EnumTokens(m_api).empty());
  // 0x800706BA: the host is not running.
  EXPECT_EQ(sink.Texts('E'), std::vector<std::string>{"-2147023174 VDFPTokenEnum failed"});
  EXPECT_TRUE(sink.Texts('U').empty());
}

class TokensScriptedTest : public ::testing::Test {
 protected:
  void SetUp() override { VDTraceNS::Bind(nullptr); }
  sim::Machine m_machine;
  std::unique_ptr<sim::Process> m_agent = m_machine.CreateProcess({.sessionId = 1});
  sim::CurrentProcessScope m_scope{m_agent.get()};
  authtest::FakeVdfpLibrary m_fake{m_machine};
  CVDFPApi m_api{*m_agent};
};

TEST_F(TokensScriptedTest, AnArrayHandedOutWithAFailureOrWithNoCountIsStillGivenBack) {
  m_fake.OnTokenEnum([](DWORD* count, std::vector<GUID>* array, bool* give) {
    *count = 2;
    *array = {VDFP_TOKEN_PIN, VDFP_TOKEN_PALM};
    *give = true;
    return E_FAIL;
  });
  EXPECT_TRUE(EnumTokens(m_api).empty());
  EXPECT_EQ(m_fake.OutstandingBuffers(), 0u);

  m_fake.OnTokenEnum([](DWORD* count, std::vector<GUID>* array, bool* give) {
    *count = 0;
    *array = {VDFP_TOKEN_PIN};
    *give = true;
    return S_OK;
  });
  EXPECT_TRUE(EnumTokens(m_api).empty());
  EXPECT_EQ(m_fake.OutstandingBuffers(), 0u);
  EXPECT_EQ(m_fake.InvalidFrees(), 0u);
}

// The array has no size of its own: a count the array cannot hold is not believed (it would
// be read past the array's end), and the array still goes back.
TEST_F(TokensScriptedTest, AnImplausibleCountIsRefusedAndTheArrayGivenBack) {
  m_fake.OnTokenEnum([](DWORD* count, std::vector<GUID>* array, bool* give) {
    *count = 0x10000000;
    *array = {VDFP_TOKEN_PIN};
    *give = true;
    return S_OK;
  });
  VDTraceNS::CRecordingSink sink;
  EXPECT_TRUE(EnumTokens(m_api).empty());
  EXPECT_EQ(sink.Texts('E'),
            std::vector<std::string>{"-2147024883 VDFPTokenEnum: implausible count"});
  EXPECT_EQ(m_fake.OutstandingBuffers(), 0u);

  m_fake.OnTokenEnum([](DWORD* count, std::vector<GUID>* array, bool* give) {
    *count = kMaxTokenTypes;
    array->assign(kMaxTokenTypes, VDFP_TOKEN_PIN);
    *give = true;
    return S_OK;
  });
  EXPECT_EQ(EnumTokens(m_api).size(), kMaxTokenTypes);
  EXPECT_EQ(m_fake.OutstandingBuffers(), 0u);
}

TEST_F(TokensScriptedTest, WithoutTheLibraryTheListIsEmpty) {
  m_machine.Modules().Uninstall(L"C:\\Windows\\system32\\VDFPApi.dll");
  VDTraceNS::CRecordingSink sink;
  EXPECT_TRUE(EnumTokens(m_api).empty());
  const auto errors = sink.Texts('E');
  ASSERT_FALSE(errors.empty());
  EXPECT_EQ(errors.back(), "-2147024770 VDFPTokenEnum failed");  // 0x8007007E
}

}  // namespace
