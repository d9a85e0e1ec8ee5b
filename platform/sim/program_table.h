// Programs started on the simulated machine with CreateProcessW: how long each program runs,
// with which exit code, and a record of every run.
//
//   machine.SetProgramBehaviour(L"cscript.exe", {.runMs = 30000, .exitCode = 1});
//   ... the agent starts a script and waits 20 s for it ...
//   auto runs = machine.Programs().Runs(1);          // session 1's programs, in order
//   EXPECT_EQ(runs.back().commandLine, L"C:\\Windows\\system32\\cscript.exe \"...\" //B");
//   EXPECT_FALSE(runs.back().endMs);                  // still running
//
// No program code runs: a run is a process id, a process and a thread object (signalled for
// good when it ends) and an end on the virtual clock. The desktop of the caller's session
// shows both ends (kind "process"):
//   started "C:\Windows\system32\cmd.exe" cmd.exe /c exit 7
//   ended "C:\Windows\system32\cmd.exe" exit code 7
//
// Behaviour is looked up by file name, without regard to case. Without an entry a program
// ends at once with 0. The machine sets: cscript.exe and wscript.exe run 500 ms and end
// with 0; cmd.exe ends at once with the N of "/c exit N" (0 otherwise).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/win_types.h"

namespace sim {

class Machine;
class KernelObject;

namespace desktop_kind {
inline constexpr wchar_t kProcess[] = L"process";
}  // namespace desktop_kind

struct ProgramBehaviour {
  DWORD runMs = 0;  // virtual time from start to end; 0 ends before CreateProcessW returns
  DWORD exitCode = 0;
  // When set, gives the exit code from the command line instead of `exitCode`.
  std::function<DWORD(const std::wstring& commandLine)> exitCodeOf;
};

struct ProgramRun {
  DWORD pid = 0;
  DWORD tid = 0;
  DWORD parentPid = 0;
  DWORD sessionId = 0;       // the caller's session
  std::wstring path;         // full path of the program file
  std::wstring commandLine;  // what the program gets: lpCommandLine, or the program's name
  std::wstring currentDirectory;
  std::wstring desktop;  // STARTUPINFOW::lpDesktop, empty when none was given
  DWORD creationFlags = 0;
  bool inheritHandles = false;
  ULONGLONG startMs = 0;
  std::optional<ULONGLONG> endMs;  // nothing while it runs
  DWORD exitCode = STILL_ACTIVE;
};

class ProgramTable {
 public:
  explicit ProgramTable(Machine& m);
  ~ProgramTable();
  ProgramTable(const ProgramTable&) = delete;
  ProgramTable& operator=(const ProgramTable&) = delete;

  void SetBehaviour(const std::wstring& fileName, ProgramBehaviour behaviour);

  struct Started {
    DWORD pid = 0;
    DWORD tid = 0;
    std::shared_ptr<KernelObject> process;
    std::shared_ptr<KernelObject> thread;
  };
  // Records `run` (pid, tid, start time and exit code are filled in here) and starts its
  // clock; a program with no run time has ended when this returns.
  Started Start(ProgramRun run);

  // STILL_ACTIVE while the program behind `process` runs, then its exit code; nothing when
  // the object is not a program's process object.
  std::optional<DWORD> ExitCode(const KernelObject* process) const;

  std::vector<ProgramRun> Runs() const;
  std::vector<ProgramRun> Runs(DWORD sessionId) const;

 private:
  struct Entry {
    ProgramRun run;
    std::shared_ptr<KernelObject> process;
    std::shared_ptr<KernelObject> thread;
    uint64_t clockItem = 0;
  };
  void End(size_t index, DWORD exitCode);

  Machine& m_machine;
  mutable std::mutex m_mu;  // never held while calling into the machine's other parts
  std::map<std::wstring, ProgramBehaviour> m_behaviours;  // by upper-cased file name
  std::vector<Entry> m_entries;
};

}  // namespace sim
