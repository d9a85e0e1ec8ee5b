// The trace-file parser and vdtrace's text form, on files built byte by byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/trace/trace_file_reader.h"
#include "tests/tools/trace_file_builder.h"

namespace {

using vdtest::TraceFileBuilder;

struct Parsed {
  bool ok = false;
  std::vector<std::string> lines;
  std::string error;
  std::uint64_t errorOffset = 0;
};

// Feeds the bytes in pieces of `piece` bytes (0: all at once), then ends the input.
Parsed Parse(const std::vector<std::uint8_t>& bytes, std::size_t piece = 0) {
  Parsed p;
  VDTraceNS::CTraceTextFormatter fmt([&](std::string_view l) { p.lines.emplace_back(l); });
  VDTraceNS::CTraceFileParser parser;
  bool ok = true;
  if (piece == 0) piece = bytes.size() + 1;
  for (std::size_t at = 0; ok && at < bytes.size(); at += piece)
    ok = parser.Feed(bytes.data() + at, std::min(piece, bytes.size() - at), fmt);
  p.ok = ok && parser.Finish();
  p.error = parser.Error();
  p.errorOffset = parser.ErrorOffset();
  return p;
}

TEST(TraceReaderTest, PrintsHeaderThenRecordsWithTimeThreadTypeAndNesting) {
  TraceFileBuilder f;
  f.Header()
      .Record(104, 'U', "before any time")
      .Record(104, 't', "03/02/26")
      .Record(104, 'T', "08:00:00.000")
      .Record(104, '>', "Outer")
      .Record(108, '>', "OtherThread")
      .Record(104, '>', "Inner")
      .Record(104, 'E', "-2147467259 VDFPInit")
      .Record(104, '<', "Inner")
      .Record(108, 'U', "tab\there")
      .Record(104, '<', "Outer");
  const Parsed p = Parse(f.Bytes());
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.lines, (std::vector<std::string>{
                         "trace3",
                         "Trace Ver: 3.0.1",
                         ".",
                         "--/--/-- --:--:--.---    104 U before any time",
                         "03/02/26 --:--:--.---    104 t 03/02/26",
                         "03/02/26 08:00:00.000    104 T 08:00:00.000",
                         "03/02/26 08:00:00.000    104 > Outer",
                         "03/02/26 08:00:00.000    108 > OtherThread",
                         "03/02/26 08:00:00.000    104 >   Inner",
                         "03/02/26 08:00:00.000    104 E     -2147467259 VDFPInit",
                         "03/02/26 08:00:00.000    104 <   Inner",
                         "03/02/26 08:00:00.000    108 U   tab\\x09here",
                         "03/02/26 08:00:00.000    104 < Outer",
                     }));
}

TEST(TraceReaderTest, PiecewiseFeedingGivesTheSameOutputAsWhole) {
  TraceFileBuilder f;
  f.Header().Record(1, '>', "A").Record(1, 'U', std::string(300, 'x')).Record(1, '<', "A");
  const Parsed whole = Parse(f.Bytes());
  ASSERT_TRUE(whole.ok);
  for (std::size_t piece : {1u, 2u, 7u, 8u, 13u}) {
    EXPECT_EQ(Parse(f.Bytes(), piece).lines, whole.lines) << "piece " << piece;
  }
}

TEST(TraceReaderTest, ContinuedRunStartsWithNoOpenScopes) {
  TraceFileBuilder f;
  f.Header()
      .Record(7, '>', "KilledMidScope")
      .Record(7, 'N', "03-03-2026")
      .Record(7, '>', "NextRun")
      .Record(7, '<', "NextRun")
      .Record(7, '<', "Unmatched");
  const Parsed p = Parse(f.Bytes());
  ASSERT_TRUE(p.ok);
  ASSERT_EQ(p.lines.size(), 8u);
  EXPECT_EQ(p.lines[5], "--/--/-- --:--:--.---      7 > NextRun");
  // More exits than entries never indent below zero.
  EXPECT_EQ(p.lines[7], "--/--/-- --:--:--.---      7 < Unmatched");
}

TEST(TraceReaderTest, BadInputIsReportedWithItsOffset) {
  // Not a trace file at all.
  Parsed p = Parse(TraceFileBuilder().Raw("MZ\x90\x00 random").Bytes());
  EXPECT_FALSE(p.ok);
  EXPECT_EQ(p.errorOffset, 0u);
  EXPECT_NE(p.error.find("not a trace file"), std::string::npos);

  // Empty file.
  p = Parse({});
  EXPECT_FALSE(p.ok);
  EXPECT_NE(p.error.find("empty"), std::string::npos);

  // Header that never ends, and one with a bare line feed.
  p = Parse(TraceFileBuilder().Line("trace3").Line("Trace Ver: 3.0.1").Bytes());
  EXPECT_FALSE(p.ok);
  EXPECT_EQ(p.errorOffset, 26u);
  p = Parse(TraceFileBuilder().Line("trace3").Raw("OS: x\n").Line(".").Bytes());
  EXPECT_FALSE(p.ok);
  EXPECT_EQ(p.errorOffset, 13u);

  // A record cut short: the error names the offset where it starts.
  TraceFileBuilder cut;
  cut.Header().Record(1, 'U', "complete");
  const std::size_t second = cut.Size();
  cut.Record(1, 'U', "this one is cut");
  std::vector<std::uint8_t> bytes = cut.Bytes();
  bytes.resize(bytes.size() - 3);
  p = Parse(bytes);
  EXPECT_FALSE(p.ok);
  EXPECT_EQ(p.errorOffset, second);
  EXPECT_NE(p.error.find("truncated record"), std::string::npos);
  EXPECT_EQ(p.lines.size(), 4u);  // what came before is still printed

  // Fewer bytes than a record header.
  bytes.resize(second + 3);
  p = Parse(bytes);
  EXPECT_FALSE(p.ok);
  EXPECT_EQ(p.errorOffset, second);

  // Random bytes after a good header: the first one fails on its type.
  p = Parse(TraceFileBuilder().Header().Raw("\x13\x57\x9b\xdf\x02\x46\x8a\xce\x11").Bytes());
  EXPECT_FALSE(p.ok);
  EXPECT_EQ(p.errorOffset, 29u);
  EXPECT_NE(p.error.find("unknown type"), std::string::npos);
}

TEST(TraceReaderTest, RecordsWrittenWithoutTheSharedKeyAreRejected) {
  // Plain (not enciphered) records: a writer that forgot the cipher.
  std::uint8_t rec[32];
  const std::size_t n = VDTraceNS::EncodeRecord(rec, 1, 'U', "plain");
  TraceFileBuilder f;
  f.Header().Raw(std::string_view(reinterpret_cast<const char*>(rec), n));
  EXPECT_FALSE(Parse(f.Bytes()).ok);
}

}  // namespace
