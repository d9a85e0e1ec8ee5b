// The simulator's demo: the agent starts through its real entry point, waits for the host,
// becomes ready, sees the session locked and unlocked, and ends at log-off; the trace file it
// wrote decodes.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "tools/vdagent_sim/demo_run.h"

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
  const auto r = vdsim::RunDemo({});
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

  EXPECT_TRUE(Has(r.desktop, "locked"));
  EXPECT_TRUE(Has(r.desktop, "logged off"));
}

TEST(VdAgentSimTest, ACommandLineCommandEndsWithoutStartingTheAgent) {
  vdsim::DemoOptions options;
  options.agentCommandLine = L"-OpenConsole";
  const auto r = vdsim::RunDemo(options);
  EXPECT_EQ(r.agentExitCode, 0);
  EXPECT_TRUE(Has(r.timeline, "Command: OpenConsole"));
  EXPECT_FALSE(Has(r.timeline, "OK to run"));
}

}  // namespace
