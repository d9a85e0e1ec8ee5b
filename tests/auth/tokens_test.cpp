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

TEST_F(TokensTest, NoTokenTypesOrAHostThatCannotAnswerGiveAnEmptyList) {
  Start(VdfpDescription::FromJson(R"({"tokens": []})"));
  VDTraceNS::CRecordingSink sink;
  EXPECT_TRUE(EnumTokens(m_api).empty());
  EXPECT_EQ(sink.Texts('U'), std::vector<std::string>{"No tokens found."});
  sink.Clear();
  Host().Stop();
  EXPECT_TRUE(EnumTokens(m_api).empty());
  // 0x800706BA: the host is not running.
  EXPECT_EQ(sink.Texts('E'), std::vector<std::string>{"-2147023174 VDFPTokenEnum failed"});
  EXPECT_TRUE(sink.Texts('U').empty());
}

class TokensScriptedTest : public authtest::ScriptedVdfpTest {};

// The array has no size of its own: a count it cannot hold is not believed (it would be read
// past the array's end). Whatever the answer, an array handed out goes back.
TEST_F(TokensScriptedTest, AnArrayHandedOutWithAFailureNoCountOrAnImplausibleOneIsGivenBack) {
  const struct {
    const char* what;
    HRESULT hr;
    DWORD count;
    std::vector<GUID> array;
    std::size_t listed;
    std::vector<std::string> errors;
  } rows[] = {
      {"failure",
       E_FAIL,
       2,
       {VDFP_TOKEN_PIN, VDFP_TOKEN_PALM},
       0,
       {"-2147467259 VDFPTokenEnum failed"}},
      {"no count", S_OK, 0, {VDFP_TOKEN_PIN}, 0, {}},
      {"implausible count",
       S_OK,
       0x10000000,
       {VDFP_TOKEN_PIN},
       0,
       {"-2147024883 VDFPTokenEnum: implausible count"}},
      {"the most there can be",
       S_OK,
       kMaxTokenTypes,
       std::vector<GUID>(kMaxTokenTypes, VDFP_TOKEN_PIN),
       kMaxTokenTypes,
       {}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    m_fake.OnTokenEnum([&r](DWORD* count, std::vector<GUID>* array, bool* give) {
      *count = r.count;
      *array = r.array;
      *give = true;
      return r.hr;
    });
    VDTraceNS::CRecordingSink sink;
    EXPECT_EQ(EnumTokens(m_api).size(), r.listed);
    if (!r.errors.empty()) {
      EXPECT_EQ(sink.Texts('E'), r.errors);
    }
    EXPECT_EQ(m_fake.OutstandingBuffers(), 0u);
    EXPECT_EQ(m_fake.InvalidFrees(), 0u);
  }
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
