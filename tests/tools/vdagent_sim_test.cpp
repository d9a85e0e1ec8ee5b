// The simulator's demo: the agent starts through its real entry point, waits for the host,
// becomes ready, sees the session locked and unlocked, and ends at log-off; the trace file it
// wrote decodes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tools/vdagent_sim/scenario.h"
#include "tools/vdagent_sim/scenario_run.h"

namespace {

bool Has(const std::vector<std::string>& lines, const std::string& part) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& l) { return l.find(part) != std::string::npos; });
}

size_t IndexOf(const std::vector<std::string>& lines, const std::string& part) {
  for (size_t i = 0; i < lines.size(); ++i)
    if (lines[i].find(part) != std::string::npos) return i;
  return lines.size();
}

TEST(VdAgentSimTest, TheDemoRunsTheAgentFromStartToLogOff) {
  const auto sc = vdsim::ParseScenario(vdsim::BuiltInDemoScenario());
  const auto r = vdsim::RunScenario(sc);
  EXPECT_TRUE(r.runError.empty()) << r.runError;
  EXPECT_TRUE(vdsim::CheckExpectations(sc.expect, r).empty());
  EXPECT_EQ(r.agentExitCode, 0);
  EXPECT_TRUE(r.traceError.empty()) << r.traceError;
  ASSERT_FALSE(r.headerLines.empty());
  EXPECT_EQ(r.headerLines.front(), "trace3");
  EXPECT_TRUE(Has(r.headerLines, "Product: Lumera Workstation; Version: 5.2.0.100"));

  const auto& t = r.timeline;
  // The host comes up three simulated seconds after the agent; ready follows it.
  const size_t host = IndexOf(t, "Host is started!!!");
  ASSERT_LT(host, t.size());
  EXPECT_NE(t[host].find("08:00:03.000"), std::string::npos);
  const size_t ready = IndexOf(t, "CVdAgentMain::OnReady");
  EXPECT_GT(ready, host);
  EXPECT_LT(ready, t.size());
  EXPECT_TRUE(Has(t, "All done."));
  EXPECT_LT(IndexOf(t, "CVdAgentMain::OnQueryEndSession"), IndexOf(t, "CVdAgentMain::OnDestroy"));

  EXPECT_TRUE(Has(r.desktopLines, "locked"));
  EXPECT_TRUE(Has(r.desktopLines, "logged off"));
}

TEST(VdAgentSimTest, TheShellRestartsAndTrayEventsNeedTheAgentsIcon) {
  auto sc = vdsim::ParseScenario(R"({
    "events": [
      {"at": 5000, "kind": "shell", "action": "stop"},
      {"at": 6000, "kind": "shell", "action": "start"},
      {"at": 6500, "kind": "tray", "action": "menu-dismiss"},
      {"at": 7000, "kind": "tray", "action": "click", "id": 4242},
      {"at": 9000, "kind": "end"}
    ]})");
  const auto r = vdsim::RunScenario(sc);
  EXPECT_TRUE(Has(r.desktopLines, "shell stopped"));
  EXPECT_LT(IndexOf(r.desktopLines, "shell stopped"), IndexOf(r.desktopLines, "taskbar created"));
  EXPECT_NE(r.runError.find("no such icon"), std::string::npos) << r.runError;

  auto twice = vdsim::ParseScenario(R"({
    "events": [
      {"at": 5000, "kind": "shell", "action": "stop"},
      {"at": 5001, "kind": "shell", "action": "stop"}
    ]})");
  EXPECT_NE(vdsim::RunScenario(twice).runError.find("the shell could not stop"), std::string::npos);
}

TEST(VdAgentSimTest, ACommandLineCommandEndsWithoutStartingTheAgent) {
  auto sc = vdsim::ParseScenario(vdsim::BuiltInDemoScenario());
  sc.commandLine = L"-OpenConsole";
  const auto r = vdsim::RunScenario(sc);
  EXPECT_EQ(r.agentExitCode, 0);
  EXPECT_TRUE(Has(r.timeline, "Command: OpenConsole"));
  EXPECT_FALSE(Has(r.timeline, "OK to run"));
}

// The program itself: whatever goes wrong ends as a message on stderr and an exit code, never
// as an abort.
class VdAgentSimProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir =
        std::filesystem::temp_directory_path() / ("vdagent-sim-test-" + std::to_string(::getpid()));
    std::filesystem::create_directories(m_dir);
  }
  void TearDown() override { std::filesystem::remove_all(m_dir); }

  std::string Write(const std::string& name, const std::string& text) {
    const auto p = m_dir / name;
    std::ofstream(p, std::ios::binary) << text;
    return p.string();
  }
  // Runs vdagent-sim with `args`; the exit code (-signal when a signal ended it) and stderr.
  std::pair<int, std::string> Run(const std::string& args) {
    const auto err = m_dir / "stderr.txt";
    const std::string cmd =
        std::string(VDAGENT_SIM_PATH) + " " + args + " >/dev/null 2>" + err.string();
    const int status = std::system(cmd.c_str());
    std::ifstream in(err);
    std::stringstream ss;
    ss << in.rdbuf();
    // The shell reports a signal that ended its child as 128 + signal.
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return {code > 128 ? -(code - 128) : code, ss.str()};
  }

  std::filesystem::path m_dir;
};

TEST_F(VdAgentSimProgramTest, EveryFailureIsAMessageAndAnExitCode) {
  std::string big = "{}";
  big.resize((5u << 20), ' ');
  const std::pair<std::string, std::string> cases[] = {
      {"--machine /dev/zero", "/dev/zero is larger than 4 MiB"},
      {"--machine " + Write("big.json", big), "is larger than 4 MiB"},
      {"--machine " + (m_dir / "missing.json").string(), "cannot read"},
      {"--machine " + Write("bad.json", "{\"users\": [{\"name\": \"x\", \"session\": -1}]}"),
       "\"session\": -1 is out of range"},
      {"--machine " + Write("syntax.json", "{"), "not JSON"},
      {"--keep-trace /dev/null/traces", "/dev/null/traces"},
      {"--scenario " + Write("s1.json", "{\"events\": [{\"at\": 1, \"kind\": \"fingr\"}]}"),
       "events[0].kind: unknown kind 'fingr'"},
      {"--scenario " + Write("s2.json",
                             "{\"events\": [{\"at\": 1, \"kind\": \"end\"}, "
                             "{\"after\": 1, \"kind\": \"session\", \"action\": \"nap\"}]}"),
       "events[1].action: expected one of lock, unlock"},
      {"--scenario " + Write("s3.json",
                             "{\"events\": [{\"at\": 1, \"kind\": \"finger\", "
                             "\"user\": \"a\", \"hand\": 1}]}"),
       "events[0].hand: unknown field of kind 'finger'"},
      {"--scenario " + Write("s4.json", "{\"events\": [{\"kind\": \"end\"}]}"),
       "events[0]: needs exactly one of \"at\" and \"after\""},
      {"--scenario " + Write("s5.json", "{\"events\": [{\"at\": 1, \"kind\": \"avatar\", "
                                        "\"action\": \"wave\"}]}"),
       "expected one of look, drag"},
      {"--scenario " + Write("s9.json",
                             "{\"events\": [{\"at\": 1, \"kind\": \"mailslot\", "
                             "\"id\": 1, \"raw\": \"0102\"}]}"),
       "events[0]: expected \"raw\", or \"id\" and \"code\""},
      {"--scenario " + Write("s10.json",
                             "{\"events\": [{\"at\": 1, \"kind\": \"mailslot\", "
                             "\"id\": 1, \"code\": 2, \"payload\": [1, 256]}]}"),
       "events[0].payload: expected hex digits or a list of bytes"},
      {"--scenario " + Write("s8.json",
                             "{\"events\": [{\"at\": 1, \"kind\": \"card\", "
                             "\"action\": \"insert\"}]}"),
       "events[0].reader: missing"},
      {"--machine " + Write("cards.json", "{\"cards\": [{\"type\": 0, \"id\": 1}]}"),
       "cards[0].type: 0 is no card"},
      {"--scenario " +
           Write("s6.json", "{\"registry\": [{\"key\": \"HKXX\\\\A\", \"name\": \"\"}]}"),
       "registry[0].key: expected a key under HKLM"},
      {"--scenario " + Write("s7.json", "{\"event\": []}"), "scenario.event: unknown member"},
  };
  for (const auto& [args, message] : cases) {
    const auto [code, err] = Run(args);
    // A bad scenario or description is bad input (2); a run that went wrong is 1.
    EXPECT_EQ(code, args.rfind("--keep-trace", 0) == 0 ? 1 : 2) << args << "\n" << err;
    EXPECT_NE(err.find("vdagent-sim: "), std::string::npos) << args << "\n" << err;
    EXPECT_NE(err.find(message), std::string::npos) << args << "\n" << err;
  }
}

// Card events act on the machine's readers and cards; one the machine cannot carry out stops
// the run at that event with the reason.
TEST(VdAgentSimTest, CardEventsRunOnTheDescribedReadersAndAnImpossibleOneStopsTheRun) {
  const std::string machine = R"("machine": {
      "cardReaders": [{"name": "Desk Reader"}],
      "cards": [{"name": "badge", "type": 2, "id": 7, "owner": "alice"},
                {"name": "spare", "type": 4, "id": 8}]})";
  auto sc = vdsim::ParseScenario("{" + machine + R"(, "events": [
      {"at": 9000, "kind": "card-reader", "action": "plug", "reader": "USB Reader"},
      {"after": 100, "kind": "card", "action": "tap", "reader": "Desk Reader", "holdMs": 300},
      {"after": 1000, "kind": "card", "action": "insert", "reader": "Desk Reader"},
      {"after": 100, "kind": "card", "action": "remove", "reader": "Desk Reader"},
      {"after": 100, "kind": "card", "action": "insert", "reader": "USB Reader", "card": "spare"},
      {"after": 100, "kind": "card-reader", "action": "unplug", "reader": "USB Reader"},
      {"after": 100, "kind": "end"}]})");
  auto r = vdsim::RunScenario(sc);
  EXPECT_TRUE(r.runError.empty()) << r.runError;

  // Without the tap's end the badge would still be in the reader at the insert.
  sc = vdsim::ParseScenario("{" + machine + R"(, "events": [
      {"at": 9000, "kind": "card", "action": "tap", "reader": "Desk Reader", "card": "badge",
       "holdMs": 5000},
      {"after": 1000, "kind": "card", "action": "insert", "reader": "Desk Reader"},
      {"after": 100, "kind": "end"}]})");
  r = vdsim::RunScenario(sc);
  EXPECT_NE(r.runError.find("events[1] (card): card reader \"Desk Reader\" holds card \"badge\""),
            std::string::npos)
      << r.runError;

  sc = vdsim::ParseScenario("{" + machine + R"(, "events": [
      {"at": 9000, "kind": "card-reader", "action": "unplug", "reader": "Nowhere"}]})");
  r = vdsim::RunScenario(sc);
  EXPECT_NE(r.runError.find("no card reader \"Nowhere\""), std::string::npos) << r.runError;
}

TEST_F(VdAgentSimProgramTest, AnUnmetExpectationFailsTheRunAndTheJsonTellsWhatHappened) {
  const auto json = (m_dir / "out.json").string();
  const auto [code, err] =
      Run("--json " + json + " --scenario " +
          Write("s.json",
                "{\"events\": [{\"at\": 6000, \"kind\": \"session\", \"action\": \"lock\"},"
                " {\"after\": 100, \"kind\": \"end\"}],"
                " \"expect\": {\"desktop\": [{\"kind\": \"session\", \"text\": \"logged off\"}],"
                " \"notTrace\": [\"CVdAgentMain::OnSessionChange\"]}}"));
  EXPECT_EQ(code, 1) << err;
  EXPECT_NE(err.find("desktop: no {kind session text \"logged off\"}"), std::string::npos) << err;
  EXPECT_NE(err.find("trace: unexpected \"CVdAgentMain::OnSessionChange\""), std::string::npos)
      << err;
  std::ifstream in(json);
  std::stringstream ss;
  ss << in.rdbuf();
  const std::string out = ss.str();
  EXPECT_NE(out.find("\"exitCode\": 0"), std::string::npos) << out;
  EXPECT_NE(out.find("\"kind\": \"session\""), std::string::npos) << out;
  EXPECT_NE(out.find("\"text\": \"locked\""), std::string::npos) << out;
  EXPECT_NE(out.find("\"type\": \">\""), std::string::npos) << out;
}

}  // namespace

namespace {

// The password manager's events: a reply with its value, a feedback state, or the close of
// the open dashboard, one per event; a close with no dashboard up stops the run.
TEST(VdAgentSimTest, PasswordManagerEventsTakeOneFormEachAndACloseNeedsAnOpenDashboard) {
  auto events = [](const std::string& e) {
    return R"({"events": [{"at": 9000, "kind": "pm-reply", )" + e + "}]}";
  };
  for (const char* good :
       {R"("reply": "fill-in", "value": 1)", R"("reply": "feedback", "value": 0)",
        R"("feedback": 2)", R"("closeDashboard": true)"}) {
    SCOPED_TRACE(good);
    EXPECT_NO_THROW(vdsim::ParseScenario(events(good)));
  }
  const std::pair<const char*, const char*> bad[] = {
      {R"("feedback": 1, "closeDashboard": true)", "expected one of"},
      {R"("reply": "fill-in", "feedback": 1, "value": 1)", "expected one of"},
      {R"("reply": "fill-in")", "events[0].value: missing"},
      {R"("value": 1)", "events[0].reply: missing"},
      {R"("closeDashboard": false)", "only true closes"},
      {R"("feedback": "high")", "events[0].feedback: expected a whole number"},
  };
  for (const auto& [fields, message] : bad) {
    SCOPED_TRACE(fields);
    try {
      vdsim::ParseScenario(events(fields));
      ADD_FAILURE() << "accepted";
    } catch (const vdsim::ScenarioError& e) {
      EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
    }
  }
  EXPECT_THROW(vdsim::ParseScenario(R"({"events": [{"at": 1, "kind": "pm-reply"}]})"),
               vdsim::ScenarioError);

  const auto r = vdsim::RunScenario(vdsim::ParseScenario(events(R"("closeDashboard": true)")));
  EXPECT_NE(r.runError.find("events[0] (pm-reply): no mini dashboard is open"), std::string::npos)
      << r.runError;
}


// Toast events steer the user at the session's toasts and the shell's action center; a click
// on a toast the action center does not hold stops the run, and a bad toast description is
// refused before the run.
TEST(VdAgentSimTest, ToastEventsReachTheActionCenterAndAMissingToastStopsTheRun) {
  auto sc = vdsim::ParseScenario(R"({"suite": {"toast": {"otherwise": {"action": "dismiss"}}},
      "events": [
      {"at": 9000, "kind": "toast", "action": "click", "afterMs": 20},
      {"after": 10, "kind": "toast", "action": "activate", "args": "ShowAbout"},
      {"after": 10, "kind": "toast", "action": "activate", "args": null},
      {"after": 100, "kind": "end"}]})");
  auto r = vdsim::RunScenario(sc);
  EXPECT_TRUE(r.runError.empty()) << r.runError;
  const auto shown = IndexOf(r.desktopLines, "toast activated ShowAbout: 0x");
  EXPECT_LT(shown, r.desktopLines.size());
  EXPECT_LT(IndexOf(r.desktopLines, "toast activated (none): 0x"), r.desktopLines.size());

  sc = vdsim::ParseScenario(R"({"events": [
      {"at": 9000, "kind": "toast", "action": "activate", "index": 2},
      {"after": 100, "kind": "end"}]})");
  r = vdsim::RunScenario(sc);
  EXPECT_NE(r.runError.find("events[0] (toast): no toast 2 in the action center"),
            std::string::npos)
      << r.runError;

  for (const char* bad : {
           R"({"suite": {"toast": {"answers": [{"action": "wave"}]}}})",
           R"({"events": [{"at": 1, "kind": "toast", "action": "wave"}]})",
           R"({"events": [{"at": 1, "kind": "toast", "action": "click", "afterMs": -5}]})",
       }) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(vdsim::ParseScenario(bad), vdsim::ScenarioError);
  }
}

// The shell's notification state: a state from 1 to 7, and optionally a failing query.
TEST(VdAgentSimTest, TheNotificationStateKindTakesAStateAndAnOptionalFailure) {
  auto event = [](const std::string& fields) {
    return R"({"events": [{"at": 5000, "kind": "notification-state")" + fields +
           R"(}, {"after": 100, "kind": "end"}]})";
  };
  for (const std::string& bad :
       {std::string{}, std::string(R"(, "state": 0)"), std::string(R"(, "state": 8)"),
        std::string(R"(, "state": 6, "failHr": "nope")")}) {
    EXPECT_THROW(vdsim::ParseScenario(event(bad)), vdsim::ScenarioError) << bad;
  }
  const auto quiet = vdsim::ParseScenario(event(R"(, "state": 6)"));
  const auto failing = vdsim::ParseScenario(event(R"(, "state": 5, "failHr": "0x80004005")"));
  for (const auto* sc : {&quiet, &failing}) {
    const auto r = vdsim::RunScenario(*sc);
    EXPECT_TRUE(r.runError.empty()) << r.runError;
  }
}

}  // namespace

namespace {

// The avatar scenario's timing, which its order-only expectations cannot say: the look's five
// seconds pass while the button is held, and the avatar goes two seconds after the release.
TEST(VdAgentSimTest, TheDraggedAvatarOutlivesItsLookAndHidesTwoSecondsAfterTheRelease) {
  std::ifstream in(std::string(VD_SCENARIO_DIR) + "/avatar.json");
  std::stringstream text;
  text << in.rdbuf();
  const auto sc = vdsim::ParseScenario(text.str());
  const auto r = vdsim::RunScenario(sc);
  ASSERT_TRUE(r.runError.empty()) << r.runError;
  EXPECT_TRUE(vdsim::CheckExpectations(sc.expect, r).empty());
  // The drag: pressed 1 s after look 0 (at 76 s), held 7 s.
  const ULONGLONG look0 = 76000, release = 84000;
  std::vector<ULONGLONG> hidden;
  for (const auto& d : r.desktop)
    if (d.kind == "layered" && d.text == "VD_GlobalAvatarIcon hidden") hidden.push_back(d.t);
  ASSERT_FALSE(hidden.empty());
  EXPECT_EQ(hidden.back(), release + 2000);
  for (ULONGLONG t : hidden) EXPECT_FALSE(t > look0 && t < release) << "hidden at " << t;
}

}  // namespace
