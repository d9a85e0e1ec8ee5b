#include "platform/sim/program_table.h"

#include <cwctype>

#include "platform/sim/clock.h"
#include "platform/sim/desktop.h"
#include "platform/sim/machine.h"
#include "platform/sim/object_manager.h"
#include "platform/sim/sim_text.h"

namespace sim {

namespace {

std::wstring FileNameOf(const std::wstring& path) {
  const auto slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// The command interpreter's "/c exit N" (also "exit /b N"): N, else 0.
DWORD CommandInterpreterExitCode(const std::wstring& commandLine) {
  const std::wstring upper = text::Upper(commandLine);
  auto at = upper.find(L"/C ");
  if (at == std::wstring::npos) return 0;
  at += 3;
  auto skipBlanks = [&] {
    while (at < upper.size() && upper[at] == L' ') ++at;
  };
  skipBlanks();
  if (upper.compare(at, 4, L"EXIT") != 0) return 0;
  at += 4;
  skipBlanks();
  if (upper.compare(at, 2, L"/B") == 0) {
    at += 2;
    skipBlanks();
  }
  DWORD code = 0;
  while (at < upper.size() && std::iswdigit(upper[at])) code = code * 10 + (upper[at++] - L'0');
  return code;
}

}  // namespace

ProgramTable::ProgramTable(Machine& m) : m_machine(m) {
  // Scripts take a while; the agent waits for them on the virtual clock.
  m_behaviours[L"CSCRIPT.EXE"] = {.runMs = 500, .exitCode = 0, .exitCodeOf = {}};
  m_behaviours[L"WSCRIPT.EXE"] = {.runMs = 500, .exitCode = 0, .exitCodeOf = {}};
  m_behaviours[L"CMD.EXE"] = {.runMs = 0, .exitCode = 0, .exitCodeOf = CommandInterpreterExitCode};
}

ProgramTable::~ProgramTable() {
  std::lock_guard lk(m_mu);
  for (const auto& e : m_entries)
    if (e.clockItem) m_machine.GetClock().Cancel(e.clockItem);
}

void ProgramTable::SetBehaviour(const std::wstring& fileName, ProgramBehaviour behaviour) {
  std::lock_guard lk(m_mu);
  m_behaviours[text::Upper(FileNameOf(fileName))] = std::move(behaviour);
}

ProgramTable::Started ProgramTable::Start(ProgramRun run) {
  ObjectManager& objects = m_machine.Objects();
  Started s;
  s.pid = m_machine.NewProcessId();
  s.tid = m_machine.NewThreadId();
  s.process = objects.NewEndObject(KernelObject::Kind::kProcess);
  s.thread = objects.NewEndObject(KernelObject::Kind::kThread);
  run.pid = s.pid;
  run.tid = s.tid;
  run.startMs = m_machine.GetClock().NowMs();
  run.exitCode = STILL_ACTIVE;

  ProgramBehaviour behaviour;
  size_t index;
  {
    std::lock_guard lk(m_mu);
    if (auto it = m_behaviours.find(text::Upper(FileNameOf(run.path))); it != m_behaviours.end())
      behaviour = it->second;
    index = m_entries.size();
    m_entries.push_back(Entry{run, s.process, s.thread, 0});
  }
  const DWORD exitCode =
      behaviour.exitCodeOf ? behaviour.exitCodeOf(run.commandLine) : behaviour.exitCode;
  std::wstring text = L"started \"" + run.path + L"\"";
  if (!run.commandLine.empty()) text += L" " + run.commandLine;
  m_machine.GetDesktop().Record(run.sessionId, desktop_kind::kProcess, std::move(text));

  if (behaviour.runMs == 0) {
    End(index, exitCode);
    return s;
  }
  Clock& clock = m_machine.GetClock();
  const uint64_t item = clock.ScheduleAt(run.startMs + behaviour.runMs,
                                         [this, index, exitCode] { End(index, exitCode); });
  std::lock_guard lk(m_mu);
  // Another thread driving the clock may have ended it already.
  if (!m_entries[index].run.endMs) m_entries[index].clockItem = item;
  return s;
}

void ProgramTable::End(size_t index, DWORD exitCode) {
  std::shared_ptr<KernelObject> process, thread;
  DWORD session;
  std::wstring path;
  {
    std::lock_guard lk(m_mu);
    Entry& e = m_entries[index];
    if (e.run.endMs) return;
    e.run.endMs = m_machine.GetClock().NowMs();
    e.run.exitCode = exitCode;
    e.clockItem = 0;
    process = e.process;
    thread = e.thread;
    session = e.run.sessionId;
    path = e.run.path;
  }
  m_machine.GetDesktop().Record(session, desktop_kind::kProcess,
                                L"ended \"" + path + L"\" exit code " + std::to_wstring(exitCode));
  // The thread ends with the program, and waiters on either wake only after the exit code
  // is readable.
  m_machine.Objects().SignalEnded(thread);
  m_machine.Objects().SignalEnded(process);
}

std::optional<DWORD> ProgramTable::ExitCode(const KernelObject* process) const {
  std::lock_guard lk(m_mu);
  for (const auto& e : m_entries)
    if (e.process.get() == process) return e.run.exitCode;
  return std::nullopt;
}

std::vector<ProgramRun> ProgramTable::Runs() const {
  std::lock_guard lk(m_mu);
  std::vector<ProgramRun> out;
  for (const auto& e : m_entries) out.push_back(e.run);
  return out;
}

std::vector<ProgramRun> ProgramTable::Runs(DWORD sessionId) const {
  std::vector<ProgramRun> out;
  for (auto& r : Runs())
    if (r.sessionId == sessionId) out.push_back(std::move(r));
  return out;
}

}  // namespace sim
