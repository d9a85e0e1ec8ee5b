// The scope API against a recording sink, with no platform bound: what each call records.
#include <gtest/gtest.h>

#include <string>

#include "support/trace/trace.h"
#include "support/trace/trace_sink.h"

namespace {

using VDTraceNS::CRecordingSink;
using VDTraceNS::CScope;
using VDTraceNS::TraceRecord;

class TraceScopeTest : public ::testing::Test {
 protected:
  void SetUp() override { VDTraceNS::Bind(nullptr); }
};

TEST_F(TraceScopeTest, ScopeWritesEntryAndExitWithItsNameCutAt99) {
  CRecordingSink sink;
  const std::string longName(120, 'n');
  {
    CScope outer("CPolicy::Init");
    CScope unnamed(nullptr);
    CScope cut(longName.c_str());
  }
  const std::string cutName(99, 'n');
  EXPECT_EQ(sink.Records(), (std::vector<TraceRecord>{{0, '>', "CPolicy::Init"},
                                                      {0, '>', "????"},
                                                      {0, '>', cutName},
                                                      {0, '<', cutName},
                                                      {0, '<', "????"},
                                                      {0, '<', "CPolicy::Init"}}));
}

TEST_F(TraceScopeTest, MessagesAreFormattedAndEmptyFormatsWriteNothing) {
  CScope ts("T");
  CRecordingSink sink;
  ts.Msg("count=%d user=%ls", 3, L"b\u00E9a");
  ts.Msg(L"wide %s %d", L"\u00E9", 4);
  const char* empty = "";  // through a variable: the compiler's format check rejects ""
  ts.Msg(empty, 0);
  ts.Msg(static_cast<const char*>(nullptr));
  ts.Msg(static_cast<const wchar_t*>(nullptr));
  ts.Tag("tag-1");
  EXPECT_EQ(sink.Texts('U'), (std::vector<std::string>{"count=3 user=b\xC3\xA9"
                                                       "a",
                                                       "wide \xC3\xA9 4"}));
  EXPECT_EQ(sink.Texts('G'), (std::vector<std::string>{"tag-1"}));
  EXPECT_EQ(sink.Records().size(), 3u);
}

TEST_F(TraceScopeTest, ResultsAreWrittenForFailuresAndFacilityNineOnly) {
  CScope ts("T");
  CRecordingSink sink;
  EXPECT_EQ(ts.Result("VDFPInit", S_OK), S_OK);
  EXPECT_EQ(ts.Result("S_FALSE", S_FALSE), S_FALSE);
  EXPECT_EQ(ts.Result("VDFPInit", E_FAIL), E_FAIL);
  ts.Result(static_cast<const char*>(nullptr), E_FAIL);
  ts.Result(L"w\u00E9", static_cast<HRESULT>(0x80070005));
  // A success code of facility 9 (security) is written, a success code of another is not.
  ts.Result("sec", static_cast<HRESULT>(0x00090312));
  ts.Result("other", static_cast<HRESULT>(0x00070312));
  EXPECT_EQ(sink.Texts('E'), (std::vector<std::string>{"-2147467259 VDFPInit", "-2147467259 ",
                                                       "-2147024891 w\xC3\xA9", "590610 sec"}));
}

TEST_F(TraceScopeTest, NothingIsRecordedWithoutPlatformUnlessTheSinkTakesEverything) {
  {
    CRecordingSink followsRegistry(VDTraceNS::SinkMode::kFollowRegistry);
    CScope ts("T");
    ts.Msg("x");
    ts.Result("r", E_FAIL);
    EXPECT_TRUE(followsRegistry.Records().empty());
  }
  // No sink at all and nothing bound: calls are harmless.
  CScope ts("T");
  ts.Msg("x %d", 1);
  ts.Result("r", E_FAIL);
}

TEST_F(TraceScopeTest, VeryLongMessagesAreCutToTheRecordLimit) {
  CRecordingSink sink;
  CScope ts("T");
  const std::string big(70000, 'x');
  ts.Msg("%s", big.c_str());
  const auto texts = sink.Texts('U');
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].size(), 0xFFFFu);
}

}  // namespace
