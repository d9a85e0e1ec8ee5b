// The entry point's unregister path hands the agent's settings to the clean-up list.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/agent_main.h"
#include "platform/sim/file_system.h"
#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "platform/sim/registry_store.h"
#include "support/trace/trace.h"
#include "support/trace/trace_sink.h"

namespace {

class UnregisterTest : public ::testing::Test {
 protected:
  void SetUp() override { VDTraceNS::Bind(nullptr); }
  int Run(const wchar_t* cmdLine) {
    auto p = machine.CreateProcess({.sessionId = 1});
    sim::CurrentProcessScope scope(p.get());
    return app::AgentMain(*p, nullptr, cmdLine, SW_SHOWNORMAL);
  }
  sim::Machine machine;
  VDTraceNS::CRecordingSink sink;
};

TEST_F(UnregisterTest, UnregisteringAppendsTheSettingsToTheCleanupList) {
  const std::wstring folder = L"C:\\Program Files\\Veridane";
  machine.Registry().SetString(L"HKLM\\SOFTWARE\\Veridane", L"VeridanePath", folder);
  std::filesystem::create_directories(machine.Files().HostPath(folder));
  EXPECT_EQ(Run(L"/UnRegServer"), 0);
  const auto list = machine.Files().ReadFile(folder + L"\\Cleanup.txt");
  ASSERT_TRUE(list);
  // The mark, then the Control Panel item's two keys and the 36 settings lines, each ending
  // in CR LF (UTF-16LE).
  std::size_t lines = 0;
  for (std::size_t i = 2; i + 3 < list->size(); i += 2)
    lines += list->compare(i, 4, std::string("\r\0\n\0", 4)) == 0;
  EXPECT_EQ(lines, 38u);
  EXPECT_TRUE(sink.Contains('U', "RegServer/UnRegServer done."));
}

TEST_F(UnregisterTest, WithoutAnInstallationFolderUnregisteringStillEnds) {
  EXPECT_EQ(Run(L"/UnRegServer"), 0);
  EXPECT_TRUE(sink.Contains('E', "-2147024894 AddCleanupLine"));  // no "VeridanePath"
  EXPECT_TRUE(sink.Contains('U', "RegServer/UnRegServer done."));
}

}  // namespace
