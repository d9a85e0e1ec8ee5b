// vdtrace's classes without the program: the run model against the reader's own text form,
// times, filters, the summary, the lock audit's rules and the timeline page's escaping.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/trace/trace_file_reader.h"
#include "tests/tools/trace_file_builder.h"
#include "tools/vdtrace/html_timeline.h"
#include "tools/vdtrace/lock_audit.h"
#include "tools/vdtrace/trace_filter.h"
#include "tools/vdtrace/trace_run.h"
#include "tools/vdtrace/trace_summary.h"

namespace {

using vdtest::TraceFileBuilder;
using Lines = std::vector<std::string>;

// Feeds the files, in order, to a model that hands every event to handle.
template <typename Handle>
void ReadRun(const std::vector<TraceFileBuilder>& files, Handle handle,
             std::function<void(std::string_view)> header = {}) {
  vdtrace::CRunModel model([&](const vdtrace::TraceEvent& e) { handle(e); }, std::move(header));
  for (std::size_t i = 0; i < files.size(); ++i) {
    model.StartFile(i);
    VDTraceNS::CTraceFileParser parser;
    ASSERT_TRUE(parser.Feed(files[i].Bytes().data(), files[i].Size(), model)) << parser.Error();
    ASSERT_TRUE(parser.Finish()) << parser.Error();
  }
}

Lines Filtered(const TraceFileBuilder& f, vdtrace::FilterOptions opt) {
  Lines out;
  vdtrace::CFilteredPrinter printer(std::move(opt), [&](std::string_view l) { out.emplace_back(l); });
  ReadRun({f}, [&](const vdtrace::TraceEvent& e) { printer.OnEvent(e); });
  return out;
}

// Two threads interleaved, a result, messages, a stray exit, a restart and deep nesting.
TraceFileBuilder MixedTrace() {
  TraceFileBuilder f;
  f.Header().Record(1, 't', "03/02/26").Record(1, 'T', "08:00:00.000");
  f.Record(1, '<', "stray exit").Record(1, '>', "Outer").Record(2, '>', "Worker");
  f.Record(1, 'U', "tab\there").Record(2, 'E', "-2147467259 VDFPInit");
  f.Record(1, 'T', "08:00:01.500").Record(1, '<', "Outer").Record(2, '<', "Worker");
  for (int i = 0; i < 45; ++i) f.Record(3, '>', "Deep");
  f.Record(3, 'U', "bottom");
  f.Record(1, 'N', "03-02-2026").Record(3, 'U', "after restart");
  return f;
}

TEST(VdtraceRunModelTest, LinesMatchTheReadersTextFormExactly) {
  const TraceFileBuilder f = MixedTrace();
  Lines expected;
  VDTraceNS::CTraceTextFormatter fmt([&](std::string_view l) { expected.emplace_back(l); });
  VDTraceNS::CTraceFileParser parser;
  ASSERT_TRUE(parser.Feed(f.Bytes().data(), f.Size(), fmt));
  Lines got;
  ReadRun({f}, [&](const vdtrace::TraceEvent& e) { got.push_back(vdtrace::FormatLine(e)); },
          [&](std::string_view l) { got.emplace_back(l); });
  EXPECT_EQ(got, expected);
}

TEST(VdtraceRunModelTest, ALaterFileContinuesTheScopesAndTimesOfTheFirst) {
  TraceFileBuilder first, second;
  first.Header().Record(5, 't', "03/02/26").Record(5, 'T', "08:00:00.000").Record(5, '>', "Long");
  second.Line("trace3").Line("Second: header").Line(".").Record(5, 'U', "inside");
  second.Record(5, '<', "Long");
  Lines header, lines;
  std::vector<std::size_t> fileOf;
  ReadRun(
      {first, second},
      [&](const vdtrace::TraceEvent& e) {
        lines.push_back(vdtrace::FormatLine(e));
        fileOf.push_back(e.file);
      },
      [&](std::string_view l) { header.emplace_back(l); });
  EXPECT_EQ(header, (Lines{"trace3", "Trace Ver: 3.0.1", "."}));
  EXPECT_EQ(lines, (Lines{"03/02/26 --:--:--.---      5 t 03/02/26",
                          "03/02/26 08:00:00.000      5 T 08:00:00.000",
                          "03/02/26 08:00:00.000      5 > Long",
                          "03/02/26 08:00:00.000      5 U   inside",
                          "03/02/26 08:00:00.000      5 < Long"}));
  EXPECT_EQ(fileOf, (std::vector<std::size_t>{0, 0, 0, 1, 1}));
}

TEST(VdtraceRunModelTest, TimeKeysOrderAcrossDaysMonthsAndYears) {
  using vdtrace::TimeKey;
  EXPECT_EQ(*TimeKey("02/29/24", "00:00:00.000") - *TimeKey("02/28/24", "23:59:59.999"), 1);
  EXPECT_EQ(*TimeKey("03/01/24", "00:00:00.000") - *TimeKey("02/29/24", "00:00:00.000"),
            vdtrace::kMsPerDay);
  EXPECT_EQ(*TimeKey("01/01/27", "00:00:00.000") - *TimeKey("12/31/26", "23:59:59.000"), 1000);
  for (auto [date, time] : {std::pair{"--/--/--", "08:00:00.000"}, {"03/02/26", "--:--:--.---"},
                            {"13/01/26", "08:00:00.000"}, {"03/02/26", "24:00:00.000"},
                            {"3/2/26", "08:00:00.000"}, {"03/02/26", "08:00:00"}})
    EXPECT_FALSE(TimeKey(date, time)) << date << " " << time;
}

// ---- Filters ----

TEST(VdtraceFilterTest, ScopeKeepsTheScopeAndWhatItHoldsOnItsOwnThread) {
  TraceFileBuilder f;
  f.Header().Record(1, 't', "03/02/26").Record(1, 'T', "08:00:00.000");
  f.Record(1, '>', "CVdAgentMain::OnReady").Record(1, '>', "CVdAgentMain::OnInboundMessage");
  f.Record(2, 'U', "other thread, same time").Record(1, '>', "Inner").Record(1, 'U', "in");
  f.Record(1, '<', "Inner").Record(1, '<', "CVdAgentMain::OnInboundMessage");
  f.Record(1, 'U', "after").Record(1, '<', "CVdAgentMain::OnReady");
  vdtrace::FilterOptions opt;
  opt.scope.emplace("OnInbound");
  EXPECT_EQ(Filtered(f, opt), (Lines{"03/02/26 08:00:00.000      1 >   CVdAgentMain::OnInboundMessage",
                         "03/02/26 08:00:00.000      1 >     Inner",
                         "03/02/26 08:00:00.000      1 U       in",
                         "03/02/26 08:00:00.000      1 <     Inner",
                         "03/02/26 08:00:00.000      1 <   CVdAgentMain::OnInboundMessage"}));
}

TEST(VdtraceFilterTest, ThreadAndTimeBoundsAreInclusive) {
  TraceFileBuilder f;
  f.Header().Record(1, 't', "03/02/26");
  for (const char* t : {"08:00:00.999", "08:00:01.000", "08:00:02.000", "08:00:02.001"}) {
    f.Record(1, 'T', t).Record(1, 'U', t).Record(2, 'U', t);
  }
  vdtrace::FilterOptions opt;
  opt.thread = 2;
  opt.from = vdtrace::TimeBound::Parse("08:00:01");
  opt.to = vdtrace::TimeBound::Parse("03/02/26 08:00:02.000");
  ASSERT_TRUE(opt.from && opt.to);
  EXPECT_EQ(Filtered(f, opt),
            (Lines{"03/02/26 08:00:01.000      2 U 08:00:01.000",
                   "03/02/26 08:00:02.000      2 U 08:00:02.000"}));
  // A full date is compared as one: the next day is after the bound whatever its time of day.
  opt.thread.reset();
  opt.from.reset();
  opt.to = vdtrace::TimeBound::Parse("03/01/26 23:00:00.000");
  EXPECT_EQ(Filtered(f, opt), Lines{});
  EXPECT_FALSE(vdtrace::TimeBound::Parse("8:00"));
  EXPECT_FALSE(vdtrace::TimeBound::Parse("03/02/26"));
}

TEST(VdtraceFilterTest, ErrorsShowFailuresWithTheScopesAroundThem) {
  TraceFileBuilder f;
  f.Header().Record(1, 't', "03/02/26").Record(1, 'T', "08:00:00.000");
  f.Record(1, '>', "Quiet").Record(1, 'U', "Created pm=0x944D9500").Record(1, '<', "Quiet");
  f.Record(1, '>', "Outer").Record(1, '>', "CPolicy::Init");
  f.Record(1, 'E', "-2147467259 VDFPInit").Record(1, 'E', "589825 facility nine, success");
  f.Record(1, '<', "CPolicy::Init").Record(1, '>', "RegisterTSClient");
  f.Record(1, 'U', "DllRegisterServer result = 0x80004005");
  f.Record(1, 'U', "DllRegisterServer result = 0x00000000").Record(1, '<', "RegisterTSClient");
  f.Record(1, 'U', "lock policy: hr = 80070002, serverinfo.hr = 0x0").Record(1, '<', "Outer");
  vdtrace::FilterOptions opt;
  opt.errors = true;
  EXPECT_EQ(Filtered(f, opt),
            (Lines{"03/02/26 08:00:00.000      1 > Outer",
                   "03/02/26 08:00:00.000      1 >   CPolicy::Init",
                   "03/02/26 08:00:00.000      1 E     -2147467259 VDFPInit",
                   "03/02/26 08:00:00.000      1 <   CPolicy::Init",
                   "03/02/26 08:00:00.000      1 >   RegisterTSClient",
                   "03/02/26 08:00:00.000      1 U     DllRegisterServer result = 0x80004005",
                   "03/02/26 08:00:00.000      1 <   RegisterTSClient",
                   "03/02/26 08:00:00.000      1 U   lock policy: hr = 80070002, serverinfo.hr = 0x0",
                   "03/02/26 08:00:00.000      1 < Outer"}));
}

// ---- Summary ----

TEST(VdtraceSummaryTest, InclusiveTimesPerScopeNameAndTheSpanOfEachThread) {
  TraceFileBuilder f;
  f.Header().Record(1, 't', "03/02/26").Record(1, 'T', "08:00:00.000");
  f.Record(1, '>', "Outer").Record(1, '>', "Step");
  f.Record(1, 'T', "08:00:00.250").Record(1, '<', "Step").Record(1, '>', "Step");
  f.Record(1, 'T', "08:00:01.000").Record(1, '<', "Step").Record(2, '>', "Hung");
  f.Record(1, 'T', "08:00:02.000").Record(1, '<', "Outer").Record(2, 'U', "still there");
  vdtrace::CTraceSummary summary;
  ReadRun({f}, [&](const vdtrace::TraceEvent& e) { summary.OnEvent(e); });
  summary.Finish();
  const auto& s = summary.Scopes();
  ASSERT_EQ(s.size(), 3u);
  EXPECT_EQ(s.at("Outer").count, 1u);
  EXPECT_EQ(s.at("Outer").totalMs, 2000);
  EXPECT_EQ(s.at("Step").count, 2u);
  EXPECT_EQ(s.at("Step").totalMs, 1000);
  EXPECT_EQ(s.at("Step").longestMs, 750);
  EXPECT_EQ(s.at("Hung").count, 0u);
  EXPECT_EQ(s.at("Hung").open, 1u);
  EXPECT_EQ(summary.Threads().at(2).first, "03/02/26 08:00:01.000");
  EXPECT_EQ(summary.Threads().at(2).last, "03/02/26 08:00:02.000");
  EXPECT_EQ(summary.Threads().at(1).records, 6u);
  Lines table;
  summary.Print([&](std::string_view l) { table.emplace_back(l); });
  ASSERT_GE(table.size(), 4u);
  EXPECT_NE(table[1].find("Outer"), std::string::npos);  // longest total first
  EXPECT_NE(table[2].find("Step"), std::string::npos);
}

// ---- Lock audit: the rules the simulator's scenarios do not reach ----

Lines Audit(const TraceFileBuilder& f) {
  vdtrace::CLockAudit audit;
  ReadRun({f}, [&](const vdtrace::TraceEvent& e) { audit.OnEvent(e); });
  return audit.Lines();
}

TEST(VdtraceLockAuditTest, RefusedLocksCarryTheirCodeAndCauseNoSessionLock) {
  TraceFileBuilder f;
  f.Header().Record(1, 't', "03/02/26").Record(1, 'T', "08:00:00.000");
  f.Record(1, 'U', "User 'PC\\alice' (SAM), SID=S-1-5-21-1");
  // Refused by the system: the result follows in the same scope.
  f.Record(4, '>', "CVdAgentMain::OnInboundMessage").Record(4, 'U', "Lock workstation...");
  f.Record(4, 'E', "-2147024776 LockWorkStation").Record(4, '<', "CVdAgentMain::OnInboundMessage");
  // The card removal path traces only its refusal.
  f.Record(1, '>', "CVdAgentMain::OnCardRemoved").Record(1, 'E', "-2147024776 LockWorkStation");
  f.Record(1, '<', "CVdAgentMain::OnCardRemoved");
  // From the tray menu; the session lock a second later is its doing.
  f.Record(1, 'T', "08:00:05.000").Record(1, '>', "CVdAgentMain::OnLockWorkstation");
  f.Record(1, '<', "CVdAgentMain::OnLockWorkstation").Record(1, 'T', "08:00:06.000");
  f.Record(1, '>', "CUserSessionHandler<class CVdAgentMain>::OnSessionChange");
  f.Record(1, 'U', "WTS_SESSION_LOCK");
  f.Record(1, '<', "CUserSessionHandler<class CVdAgentMain>::OnSessionChange");
  // Much later, nobody the agent knows of locks.
  f.Record(1, 'T', "08:10:00.000").Record(1, 'U', "WTS_SESSION_LOCK");
  EXPECT_EQ(Audit(f),
            (Lines{"03/02/26 08:00:00.000      4 workstation lock: proximity message 2 (mailslot); "
                   "user: PC\\alice; failed: -2147024776",
                   "03/02/26 08:00:00.000      1 workstation lock: card removal; user: PC\\alice; "
                   "failed: -2147024776",
                   "03/02/26 08:00:05.000      1 workstation lock: tray menu command; user: "
                   "PC\\alice",
                   "03/02/26 08:00:06.000      1 session lock: tray menu command (workstation lock "
                   "at 08:00:05.000); user: PC\\alice",
                   "03/02/26 08:10:00.000      1 session lock: no recognisable cause; user: "
                   "PC\\alice"}));
}

TEST(VdtraceLockAuditTest, AResultAfterTheLockingScopeEndedIsNotTheLocks) {
  TraceFileBuilder f;
  f.Header().Record(1, 't', "03/02/26").Record(1, 'T', "08:00:00.000");
  f.Record(1, '>', "CVdAgentMain::OnHotKey").Record(1, '>', "CVdAgentMain::RunQuickAction");
  f.Record(1, 'U', "Locking the workstation (no PM)");
  f.Record(1, '<', "CVdAgentMain::RunQuickAction").Record(1, 'E', "-2147467259 Result");
  f.Record(1, '<', "CVdAgentMain::OnHotKey");
  EXPECT_EQ(Audit(f), (Lines{"03/02/26 08:00:00.000      1 workstation lock: quick action "
                             "(hotkey); user: unknown"}));
}

// ---- Timeline page ----

TEST(VdtraceHtmlTest, TraceTextCannotAddMarkupOrScript) {
  EXPECT_EQ(vdtrace::HtmlEscape("<a href=\"x\" title='y'>&</a>"),
            "&lt;a href=&quot;x&quot; title=&#39;y&#39;&gt;&amp;&lt;/a&gt;");
  TraceFileBuilder f;
  f.Line("trace3").Line("Machine name: <script>alert(1)</script>").Line(".");
  f.Record(7, 't', "03/02/26").Record(7, 'T', "08:00:00.000");
  f.Record(7, '>', "</div><script>alert(2)</script>").Record(7, 'U', "\" onmouseover=\"alert(3)");
  f.Record(7, 'E', "-1 <img src=x onerror=alert(4)>").Record(7, '<', "x");
  vdtrace::CHtmlTimeline page;
  ReadRun({f}, [&](const vdtrace::TraceEvent& e) { page.OnEvent(e); },
          [&](std::string_view l) { page.OnHeaderLine(l); });
  std::ostringstream out;
  page.Write(out);
  const std::string html = out.str();
  EXPECT_EQ(html.find("<script>"), html.rfind("<script>"));  // the page's own only
  EXPECT_EQ(html.find("<img"), std::string::npos);
  EXPECT_EQ(html.find("\" onmouseover"), std::string::npos);
  EXPECT_NE(html.find("&lt;/div&gt;&lt;script&gt;alert(2)"), std::string::npos);
  EXPECT_NE(html.find("class=\"failure\""), std::string::npos);
  EXPECT_NE(html.find("class=\"scope holds-failure\""), std::string::npos);
  EXPECT_NE(html.find("data-thread=\"7\""), std::string::npos);
  EXPECT_NE(html.find("default-src 'none'"), std::string::npos);  // no network
}

}  // namespace
