// The agent's own folder: cut from its module path, kept whole at a root.
#include <gtest/gtest.h>

#include <string>

#include "core/own_dir.h"
#include "platform/sim/machine.h"
#include "platform/sim/process.h"

namespace {

TEST(ModuleFolderTest, CutsTheFilePartAndKeepsTheBackslashOfARoot) {
  const struct {
    const wchar_t* path;
    const wchar_t* folder;
  } kCases[] = {
      {L"C:\\Program Files\\Veridane\\Agent\\VdAgent.exe", L"C:\\Program Files\\Veridane\\Agent"},
      {L"C:\\VdAgent.exe", L"C:\\"},
      {L"C:\\Tools\\VdAgent.exe", L"C:\\Tools"},
      {L"\\\\server\\share\\VdAgent.exe", L"\\\\server\\share\\"},
      {L"\\\\server\\share\\agent\\VdAgent.exe", L"\\\\server\\share\\agent"},
      {L"\\\\?\\C:\\VdAgent.exe", L"\\\\?\\C:\\"},
      {L"\\\\?\\C:\\Long\\VdAgent.exe", L"\\\\?\\C:\\Long"},
      {L"\\\\?\\UNC\\server\\share\\VdAgent.exe", L"\\\\?\\UNC\\server\\share\\"},
      {L"VdAgent.exe", L""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << "path " << testing::PrintToString(std::wstring(c.path)));
    EXPECT_EQ(core::ModuleFolder(c.path), c.folder);
  }
}

TEST(ModuleFolderTest, AnAgentAtADriveRootWorksFromThatRoot) {
  sim::Machine machine;
  auto proc = machine.CreateProcess({.sessionId = 1, .exePath = L"C:\\VdAgent.exe"});
  sim::CurrentProcessScope scope(proc.get());
  auto& k = proc->Kernel();
  ASSERT_TRUE(k.SetCurrentDirectoryW(L"C:\\Windows"));
  core::SetCurrDirToOwnDir(*proc);
  wchar_t dir[MAX_PATH] = {};
  k.GetCurrentDirectoryW(MAX_PATH, dir);
  EXPECT_EQ(std::wstring(dir), L"C:\\");
}

}  // namespace
