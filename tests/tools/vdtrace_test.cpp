// The vdtrace program itself: exit codes, stdout and stderr; its audits of the agent's own
// traces as the simulator's scenarios leave them; the timeline page in a headless browser.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "platform/sim/file_system.h"
#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "platform/sim/registry_store.h"
#include "support/trace/trace.h"
#include "tests/tools/trace_file_builder.h"

namespace {

namespace fs = std::filesystem;

struct RunResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Single-quoted for the shell (the simulated disk has "program files" in its paths).
std::string Quote(const fs::path& p) {
  std::string q = "'";
  for (char c : p.string()) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string ReadText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class VdtraceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::temp_directory_path() /
            ("vdtrace-test-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(m_dir);
  }
  void TearDown() override { fs::remove_all(m_dir); }

  fs::path Write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    const fs::path p = m_dir / name;
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return p;
  }

  RunResult Run(const std::string& args) {
    const fs::path out = m_dir / "stdout.txt";
    const fs::path err = m_dir / "stderr.txt";
    const std::string cmd = std::string(VDTRACE_PATH) + " " + args + " >" + out.string() + " 2>" +
                            err.string() + " </dev/null";
    const int status = std::system(cmd.c_str());
    RunResult r;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = ReadText(out);
    r.err = ReadText(err);
    return r;
  }

  fs::path m_dir;
};

TEST_F(VdtraceTest, PrintsAGoodFileAndExitsZero) {
  vdtest::TraceFileBuilder f;
  f.Header().Record(9, 't', "12/31/26").Record(9, 'T', "23:59:59.999").Record(9, '>', "S");
  const RunResult r = Run(Write("good.trc3", f.Bytes()).string());
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "trace3\nTrace Ver: 3.0.1\n.\n"
            "12/31/26 --:--:--.---      9 t 12/31/26\n"
            "12/31/26 23:59:59.999      9 T 23:59:59.999\n"
            "12/31/26 23:59:59.999      9 > S\n");
}

TEST_F(VdtraceTest, BadInputExitsNonZeroNamingTheOffset) {
  vdtest::TraceFileBuilder f;
  f.Header().Record(1, 'U', "whole");
  const std::size_t cutAt = f.Size();
  f.Record(1, 'U', "cut short");
  std::vector<std::uint8_t> truncated = f.Bytes();
  truncated.pop_back();
  RunResult r = Run(Write("cut.trc3", truncated).string());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("offset " + std::to_string(cutAt) + ": truncated record"), std::string::npos)
      << r.err;
  EXPECT_NE(r.out.find("whole"), std::string::npos);  // records before the damage are shown

  std::vector<std::uint8_t> random(4096);
  std::uint32_t x = 12345;
  for (auto& b : random) b = static_cast<std::uint8_t>((x = x * 1103515245u + 12345u) >> 24);
  r = Run(Write("random.bin", random).string());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("offset 0: not a trace file"), std::string::npos) << r.err;

  r = Run(
      Write("header.trc3", vdtest::TraceFileBuilder().Line("trace3").Line("x").Bytes()).string());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("bad header"), std::string::npos) << r.err;
}

TEST_F(VdtraceTest, UsageAndMissingFilesAreErrors) {
  EXPECT_EQ(Run("").exitCode, 2);
  EXPECT_EQ(Run("--bogus x").exitCode, 2);
  const RunResult r = Run((m_dir / "missing.trc3").string());
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("missing.trc3"), std::string::npos);
}

// ---- Files written by the tracer on a simulated machine ----

constexpr const wchar_t* kTracing = L"HKLM\\SOFTWARE\\Veridane\\Tracing";
constexpr const wchar_t* kTraceFile =
    L"C:\\Program Files\\Veridane\\Agent\\VdAgent.VdAgent.exe.1.trc3";

// One run of a traced "agent": nested scopes, a message and a failed result.
void AgentRun(sim::Machine& machine, const char* what) {
  auto agent = machine.CreateProcess({});
  VDTraceNS::Bind(agent.get());
  {
    VDTraceNS::CScope outer("CVdAgentMain::OnCreate");
    outer.Msg("%s", what);
    VDTraceNS::CScope inner("CPolicy::Init");
    machine.AdvanceBy(1234);
    inner.Result("VDFPInit", E_FAIL);
  }
  VDTraceNS::Bind(nullptr);
}

TEST_F(VdtraceTest, ReadsAFileWrittenByTheTracer) {
  sim::Machine machine;
  machine.Registry().SetDword(kTracing, L"DoTrace", 1);
  AgentRun(machine, "first run");
  const RunResult r = Run(Quote(machine.Files().HostPath(kTraceFile)));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out.rfind("trace3\n", 0), 0u);
  EXPECT_NE(r.out.find("\nTrace Ver: 3.0.1\n"), std::string::npos);
  EXPECT_NE(r.out.find("\n.\n"), std::string::npos);
  // Records: time from the 't' and 'T' records, nesting by indentation.
  const std::regex tid(R"( +\d+ )");
  std::string body = r.out.substr(r.out.find("\n.\n") + 3);
  body = std::regex_replace(body, tid, " # ");
  EXPECT_EQ(body,
            "03/02/26 --:--:--.--- # t 03/02/26\n"
            "03/02/26 08:00:00.000 # T 08:00:00.000\n"
            "03/02/26 08:00:00.000 # > CVdAgentMain::OnCreate\n"
            "03/02/26 08:00:00.000 # U   first run\n"
            "03/02/26 08:00:00.000 # >   CPolicy::Init\n"
            "03/02/26 08:00:01.234 # T 08:00:01.234\n"
            "03/02/26 08:00:01.234 # E     -2147467259 VDFPInit\n"
            "03/02/26 08:00:01.234 # <   CPolicy::Init\n"
            "03/02/26 08:00:01.234 # < CVdAgentMain::OnCreate\n");
}

TEST_F(VdtraceTest, ReadsAFileContinuedAfterARestart) {
  sim::Machine machine;
  machine.Registry().SetDword(kTracing, L"DoTrace", 1);
  machine.Registry().SetDword(kTracing, L"NewFileAlways", 0);
  AgentRun(machine, "first run");
  machine.AdvanceBy(60000);
  AgentRun(machine, "second run");
  const RunResult r = Run(Quote(machine.Files().HostPath(kTraceFile)));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("U   first run"), std::string::npos);
  EXPECT_NE(r.out.find(" N 03-02-2026\n"), std::string::npos);
  EXPECT_NE(r.out.find("08:00:01.234 "), std::string::npos);
  EXPECT_NE(r.out.find("08:01:01.234 "), std::string::npos);
  EXPECT_NE(r.out.find("U   second run"), std::string::npos);
  EXPECT_EQ(r.out.find("trace3"), r.out.rfind("trace3"));  // one header
}

TEST_F(VdtraceTest, CorruptedTracerFilesGiveAnErrorExit) {
  sim::Machine machine;
  machine.Registry().SetDword(kTracing, L"DoTrace", 1);
  AgentRun(machine, "run");
  const std::string good = ReadText(machine.Files().HostPath(kTraceFile));
  const std::vector<std::uint8_t> bytes(good.begin(), good.end());

  std::vector<std::uint8_t> truncated(bytes.begin(), bytes.end() - 5);
  RunResult r = Run(Write("truncated.trc3", truncated).string());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("truncated record"), std::string::npos) << r.err;

  std::vector<std::uint8_t> badHeader = bytes;
  badHeader[3] = 'X';  // "traXe3"
  r = Run(Write("badheader.trc3", badHeader).string());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("offset 3: not a trace file"), std::string::npos) << r.err;

  // The type byte of the first record flipped: the record no longer deciphers to a known type.
  const std::size_t firstRecord = good.find("\r\n.\r\n") + 5;
  std::vector<std::uint8_t> badType = bytes;
  badType[firstRecord + 4] ^= 0x40;
  r = Run(Write("badtype.trc3", badType).string());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("offset " + std::to_string(firstRecord) + ": bad record"), std::string::npos)
      << r.err;
}

// ---- Several files, the new modes, and what they do with bad input ----

TEST_F(VdtraceTest, SeveralFilesAreOneRunAndBadInputNamesTheFileItIsIn) {
  vdtest::TraceFileBuilder first, second;
  first.Header().Record(3, 't', "03/02/26").Record(3, 'T', "08:00:00.000").Record(3, '>', "Long");
  second.Line("trace3").Line(".").Record(3, 'U', "inside").Record(3, '<', "Long");
  const fs::path a = Write("a.trc3", first.Bytes());
  const fs::path b = Write("b.trc3", second.Bytes());
  RunResult r = Run(a.string() + " " + b.string());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("      3 U   inside\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("trace3"), r.out.rfind("trace3"));  // the run's header once

  r = Run(a.string() + " " + b.string() + " --summary");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("       1        0          0          0  Long\n"), std::string::npos)
      << r.out;

  // Reading stops in the damaged file; the good one before it is shown, the one after is not.
  std::vector<std::uint8_t> cut = second.Bytes();
  cut.pop_back();
  const fs::path bad = Write("bad.trc3", cut);
  const fs::path after =
      Write("after.trc3", vdtest::TraceFileBuilder().Header().Record(3, 'U', "later").Bytes());
  const std::string html = " --html " + (m_dir / "p.html").string();
  for (const std::string& mode :
       std::vector<std::string>{"", " --summary", " --locks", " --errors", html}) {
    SCOPED_TRACE(mode);
    r = Run(a.string() + " " + bad.string() + " " + after.string() + mode);
    EXPECT_EQ(r.exitCode, 1);
    const std::string where =
        bad.string() + ": offset " + std::to_string(second.Size() - 7 - 4) + ": truncated record";
    EXPECT_NE(r.err.find(where), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("later"), std::string::npos);
  }
  EXPECT_NE(ReadText(m_dir / "p.html").find(">Long</div>"), std::string::npos);
  r = Run(a.string() + " " + bad.string());
  EXPECT_NE(r.out.find("      3 U   inside\n"), std::string::npos) << r.out;
}

TEST_F(VdtraceTest, OptionsThatCannotWorkAreUsageErrors) {
  const std::string f =
      Write("ok.trc3", vdtest::TraceFileBuilder().Header().Record(1, 'U', "x").Bytes()).string();
  for (const char* args :
       {" --summary --follow", " --locks --errors", " --summary --locks", " --locks --scope x",
        " --from 8:00", " --to", " --thread x", " --scope '('", " --html"}) {
    const RunResult r = Run(f + args);
    EXPECT_EQ(r.exitCode, 2) << args;
    EXPECT_NE(r.err.find("usage:"), std::string::npos) << args;
  }
}

// ---- The lock audit on the agent's own traces ----

class VdtraceScenarioTest : public VdtraceTest {
 protected:
  // The agent's trace file after the simulator played the scenario: one of scenarios/, or
  // a path without its ".json".
  fs::path Play(const std::string& scenario) {
    const fs::path json = fs::path(scenario).is_absolute()
                              ? fs::path(scenario + ".json")
                              : fs::path(VD_SCENARIO_DIR) / (scenario + ".json");
    const fs::path keep = m_dir / ("trace-" + json.stem().string());
    const std::string cmd = std::string(VDAGENT_SIM_PATH) + " --scenario " + Quote(json) +
                            " --keep-trace " + Quote(keep) + " >/dev/null 2>&1";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    for (const auto& entry : fs::directory_iterator(keep)) return entry.path();
    ADD_FAILURE() << "no trace kept for " << scenario;
    return {};
  }
  // The lock lines with the thread ids taken out.
  std::vector<std::string> Locks(const fs::path& trace) {
    const RunResult r = Run(Quote(trace) + " --locks");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> lines;
    const std::regex thread(R"(^(.{21}) +\d+ )");
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);)
      lines.push_back(std::regex_replace(line, thread, "$1 # "));
    return lines;
  }
};

TEST_F(VdtraceScenarioTest, LocksGetTheirCauseFromTheAgentsRecords) {
  EXPECT_EQ(
      Locks(Play("hotkey-lock")),
      (std::vector<std::string>{
          "03/02/26 08:00:08.000 # workstation lock: quick action (hotkey); user: VDSIM-PC\\alice",
          "03/02/26 08:00:08.000 # session lock: quick action (hotkey) (workstation lock at "
          "08:00:08.000); user: VDSIM-PC\\alice"}));
  // A finger, a card leaving the reader, the proximity service's code 2, then the log-off.
  EXPECT_EQ(
      Locks(Play("demo")),
      (std::vector<std::string>{
          "03/02/26 08:00:08.000 # workstation lock: quick action (finger); user: VDSIM-PC\\alice",
          "03/02/26 08:00:08.000 # session lock: quick action (finger) (workstation lock at "
          "08:00:08.000); user: VDSIM-PC\\alice",
          "03/02/26 08:00:12.000 # session unlock: -; user: VDSIM-PC\\alice",
          "03/02/26 08:01:16.300 # workstation lock: quick action (card); user: VDSIM-PC\\alice",
          "03/02/26 08:01:16.300 # session lock: quick action (card) (workstation lock at "
          "08:01:16.300); user: VDSIM-PC\\alice",
          "03/02/26 08:01:20.000 # session unlock: -; user: VDSIM-PC\\alice",
          "03/02/26 08:02:20.000 # workstation lock: proximity message 2 (mailslot); user: "
          "VDSIM-PC\\alice",
          "03/02/26 08:02:20.000 # session lock: proximity message 2 (mailslot) (workstation "
          "lock at 08:02:20.000); user: VDSIM-PC\\alice",
          "03/02/26 08:02:24.000 # session unlock: -; user: VDSIM-PC\\alice",
          "03/02/26 08:02:35.000 # log-off: -; user: VDSIM-PC\\alice"}));
}

TEST_F(VdtraceScenarioTest, AFastUserSwitchExplainsTheDisconnect) {
  EXPECT_EQ(Locks(Play("quick-action-fast-switch")),
            (std::vector<std::string>{"03/02/26 08:00:08.000 # session disconnect: quick action "
                                      "(finger), fast user switch; user: VDSIM-PC\\alice"}));
}

TEST_F(VdtraceScenarioTest, AKioskLockTheAgentDidNotAskForHasNoCauseAndTheNextUserIsNamed) {
  // Several handlers trace each notification: it is listed once. At each lock the kiosk asks
  // fast connect to log the user off; the unlock shows it did not.
  EXPECT_EQ(Locks(Play("kiosk-unlock")),
            (std::vector<std::string>{
                "03/02/26 08:00:08.000 # session lock (kiosk): no recognisable cause; user: "
                "VDSIM-PC\\alice",
                "03/02/26 08:00:08.000 # log-off request: kiosk, at the session lock; user: "
                "VDSIM-PC\\alice",
                "03/02/26 08:00:10.000 # session unlock (kiosk): -; user: VDSIM-PC\\alice",
                "03/02/26 08:00:15.000 # session lock (kiosk): no recognisable cause; user: "
                "VDSIM-PC\\bob",
                "03/02/26 08:00:15.000 # log-off request: kiosk, at the session lock; user: "
                "VDSIM-PC\\bob",
                "03/02/26 08:00:16.000 # session unlock (kiosk): -; user: VDSIM-PC\\bob"}));
}

TEST_F(VdtraceScenarioTest, AKioskLogOffAfterTheLockIsTheKiosksDoing) {
  // The kiosk machine of kiosk-unlock, locked and then logged off.
  const std::string kiosk = ReadText(fs::path(VD_SCENARIO_DIR) / "kiosk-unlock.json");
  const std::size_t events = kiosk.find("\"events\": [");
  ASSERT_NE(events, std::string::npos);
  std::ofstream(m_dir / "kiosk-logoff.json")
      << kiosk.substr(0, events)
      << "\"events\": [{\"at\": 8000, \"kind\": \"session\", \"action\": \"lock\"},"
         " {\"after\": 1000, \"kind\": \"session\", \"action\": \"logoff\"}],"
         " \"expect\": {\"exitCode\": 0}}\n";
  EXPECT_EQ(Locks(Play((m_dir / "kiosk-logoff").string())),
            (std::vector<std::string>{
                "03/02/26 08:00:08.000 # session lock (kiosk): no recognisable cause; user: "
                "VDSIM-PC\\alice",
                "03/02/26 08:00:08.000 # log-off request: kiosk, at the session lock; user: "
                "VDSIM-PC\\alice",
                "03/02/26 08:00:09.000 # log-off (kiosk): kiosk (log-off request at "
                "08:00:08.000); user: VDSIM-PC\\alice"}));
}

TEST_F(VdtraceScenarioTest, ErrorsAndScopesPickOutTheLockPathOfAnAgentTrace) {
  const fs::path trace = Play("mailslot");
  // The listener's thread id depends on the order threads started in.
  RunResult r = Run(Quote(trace));
  std::smatch m;
  ASSERT_TRUE(std::regex_search(r.out, m, std::regex(R"( (\d+) U +Lock workstation\.\.\.\n)")));
  const std::string listener = m[1];
  r = Run(Quote(trace) + " --scope OnInboundMessage --thread " + listener);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string prefix =
      "03/02/26 08:00:08.800 " + std::string(6 - listener.size(), ' ') + listener;
  EXPECT_NE(r.out.find(prefix + " >     CVdAgentMain::OnInboundMessage\n" + prefix +
                       " U       Bluetooth proximity message = 0x02\n" + prefix +
                       " U       Lock workstation...\n" + prefix +
                       " <     CVdAgentMain::OnInboundMessage\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("Mailslot::Inbox::Receive"), std::string::npos);
  r = Run(Quote(trace) + " --scope OnInboundMessage --thread " + listener + "0");
  EXPECT_EQ(r.out.find("Bluetooth"), std::string::npos);
  r = Run(Quote(trace) + " --errors --from 08:00:03");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("E         -2147024894 Cannot open the PasswordResets registry key\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find(" >       CheckUserPasswordReset\n"), std::string::npos);
  EXPECT_EQ(r.out.find(" U "), std::string::npos);  // no message of that trace is a failure
}

TEST_F(VdtraceScenarioTest, FiltersNarrowTheSummaryThePageAndTheLockList) {
  const fs::path trace = Play("hotkey-lock");
  // One scope's summary counts it and what ran inside it, not the scopes around it.
  RunResult r = Run(Quote(trace) + " --summary --scope OnHotkeyMessage");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("::OnHotkeyMessage\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("RunMainLoop"), std::string::npos) << r.out;

  // The lock list still reads every record for the cause; the filters pick the entries.
  r = Run(Quote(trace) + " --locks --to 08:00:08.000");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(
      r.out, m, std::regex(R"(08:00:08\.000 +(\d+) workstation lock: quick action \(hotkey\))")))
      << r.out;
  const std::string locker = m[1];
  EXPECT_EQ(Run(Quote(trace) + " --locks --from 08:00:08.001").out.find("lock: quick action"),
            std::string::npos);
  EXPECT_EQ(Run(Quote(trace) + " --locks --thread " + locker + "0").out, "");

  // The page of one thread has one lane.
  const fs::path page = m_dir / "one-thread.html";
  r = Run(Quote(trace) + " --html " + Quote(page) + " --thread " + locker);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::ifstream in(page);
  const std::string html((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::regex lane("class=\"lane\"");
  EXPECT_EQ(
      std::distance(std::sregex_iterator(html.begin(), html.end(), lane), std::sregex_iterator()),
      1);
}

// ---- The timeline page in a browser ----

// Chromium under its Debian name or its older one; empty when neither is installed.
std::string FindChromium() {
  for (const char* name : {"chromium", "chromium-browser"}) {
    const std::string cmd = std::string("command -v ") + name + " >/dev/null 2>&1";
    if (std::system(cmd.c_str()) == 0) return name;
  }
  return {};
}

TEST_F(VdtraceTest, TheTimelinePageShowsLanesScopesAndFailuresInABrowser) {
  const std::string chromium = FindChromium();
  if (chromium.empty())
    GTEST_SKIP() << "chromium is not installed (scripts/setup.sh installs it): the page is not "
                    "checked in a browser";
  sim::Machine machine;
  machine.Registry().SetDword(kTracing, L"DoTrace", 1);
  AgentRun(machine, "<script>document.title='owned'</script>");
  const fs::path page = m_dir / "timeline.html";
  RunResult r = Run(Quote(machine.Files().HostPath(kTraceFile)) + " --html " + Quote(page));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const fs::path dom = m_dir / "dom.html";
  const fs::path shot = fs::path(VD_BUILD_DIR) / "vdtrace-timeline.png";
  const std::string flags = " --headless --no-sandbox --disable-gpu --window-size=1200,800 ";
  std::string cmd = "timeout 120 " + chromium + flags + "--dump-dom 'file://" + page.string() +
                    "' >" + Quote(dom) + " 2>/dev/null";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
  const std::string html = ReadText(dom);
  EXPECT_NE(html.find("<title>vdtrace timeline</title>"), std::string::npos) << html;
  EXPECT_EQ(html.find("<script>document.title"), std::string::npos);
  EXPECT_NE(html.find("&lt;script&gt;document.title="), std::string::npos);
  std::smatch m;
  const std::regex lane("class=\"lane\"");
  EXPECT_EQ(
      std::distance(std::sregex_iterator(html.begin(), html.end(), lane), std::sregex_iterator()),
      1);
  EXPECT_TRUE(std::regex_search(
      html, m, std::regex(R"(class="scope[^"]*holds-failure[^"]*"[^>]*>CVdAgentMain::OnCreate<)")));
  EXPECT_TRUE(std::regex_search(
      html, m, std::regex(R"(class="failure"[^>]*title="[^"]* E -2147467259 VDFPInit")")));
  // On the time axis CPolicy::Init spans its 1234 ms (the run is short enough for 1 px/ms);
  // in record order its three records.
  cmd = "timeout 120 " + chromium + flags + "--dump-dom 'file://" + page.string() + "#time' >" +
        Quote(dom) + " 2>/dev/null";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
  const std::string timed = ReadText(dom);
  EXPECT_TRUE(std::regex_search(timed, m, std::regex(R"(width: 1234px;?"[^>]*>CPolicy::Init<)")))
      << timed;
  EXPECT_TRUE(std::regex_search(html, m, std::regex(R"(width: ?18px;?"[^>]*>CPolicy::Init<)")))
      << html;
  cmd = "timeout 120 " + chromium + flags + "--screenshot=" + Quote(shot) + " 'file://" +
        page.string() + "' >/dev/null 2>&1";
  EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
  EXPECT_GT(fs::exists(shot) ? fs::file_size(shot) : 0, 0u);
}

}  // namespace
