// IShell of one simulated process. A program started through ShellExecuteExW is recorded on
// the desktop of the process's session (kind "launch"); no simulated process is created for
// it. A program that is not on the simulated disk fails as on Windows.
//
//   machine.Files().WriteFile(L"C:\\Program Files\\Veridane\\Console.exe", "");   // installed
//   ... the agent launches it ...
//   auto launched = sim::LaunchedPrograms(machine.GetDesktop(), 1);
//   EXPECT_EQ(launched.back().arguments, L"-mode:UserReset");
#pragma once

#include <string>
#include <vector>

#include "platform/shell.h"
#include "platform/sim/desktop.h"
#include "platform/sim/process.h"

namespace sim {

namespace desktop_kind {
// Text: the verb, the full path in quotes, then the arguments when there are any:
//   open "C:\Program Files\Veridane\Agent\VdAgent.exe" -ShowAbout
inline constexpr wchar_t kLaunch[] = L"launch";
}  // namespace desktop_kind

struct LaunchedProgram {
  ULONGLONG timeMs = 0;
  std::wstring verb;
  std::wstring path;  // full path, environment variables expanded
  std::wstring arguments;

  bool operator==(const LaunchedProgram&) const = default;
};

// The programs started in a session, in order.
std::vector<LaunchedProgram> LaunchedPrograms(const Desktop& desktop, DWORD sessionId);

class ProcessShell : public platform::IShell {
 public:
  explicit ProcessShell(Process& p);
  ProcessShell(const ProcessShell&) = delete;
  ProcessShell& operator=(const ProcessShell&) = delete;

  BOOL ShellExecuteExW(SHELLEXECUTEINFOW* pExecInfo) override;

 private:
  std::wstring Expand(const std::wstring& s);

  Process& m_process;
  Machine& m_machine;
};

}  // namespace sim
