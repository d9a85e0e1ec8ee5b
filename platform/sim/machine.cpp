#include "platform/sim/machine.h"

#include <atomic>
#include <random>

#include "platform/sim/class_objects.h"
#include "platform/sim/desktop.h"
#include "platform/sim/file_system.h"
#include "platform/sim/module_table.h"
#include "platform/sim/object_manager.h"
#include "platform/sim/process.h"
#include "platform/sim/process_shell.h"
#include "platform/sim/program_table.h"
#include "platform/sim/registry_store.h"
#include "platform/sim/screen.h"
#include "platform/sim/session_manager.h"
#include "platform/sim/thread_pool.h"
#include "platform/sim/window_manager.h"

namespace sim {

namespace {
std::filesystem::path MakeTempRoot() {
  static std::atomic<unsigned> counter{0};
  std::random_device rd;
  auto dir = std::filesystem::temp_directory_path() /
             ("vdsim-" + std::to_string(rd()) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(dir);
  return dir;
}
}  // namespace

Machine::Machine(MachineDescription desc)
    : m_desc(std::move(desc)), m_appearance(m_desc.appearance) {
  if (m_desc.diskRoot.empty()) {
    m_tempRoot = MakeTempRoot();
    m_desc.diskRoot = m_tempRoot;
  }
  m_clock =
      std::make_unique<Clock>(Clock::SystemTimeToFileTime(m_desc.bootUtc), m_desc.localBiasMinutes);
  m_registry = std::make_unique<RegistryStore>(*this);
  m_objects = std::make_unique<ObjectManager>(*this);
  m_pool = std::make_unique<ThreadPool>(*this);
  m_files = std::make_unique<FileSystem>(*this);
  m_sessions = std::make_unique<SessionManager>(*this);
  m_desktop = std::make_unique<Desktop>(*this);
  m_windows = std::make_unique<WindowManager>(*this);
  m_modules = std::make_unique<ModuleTable>();
  m_programs = std::make_unique<ProgramTable>(*this);
  m_classObjects = std::make_unique<ClassObjectTable>();
  m_screen = std::make_unique<Screen>(*this);
  InstallShell32(*this);
  m_clock->SetSettle([this](bool pump) {
    m_pool->WaitIdle();
    if (pump) m_windows->PumpCurrentThread();
  });
}

Appearance Machine::GetAppearance() {
  std::lock_guard lk(m_mu);
  return m_appearance;
}

void Machine::SetAppearance(Appearance look) {
  std::lock_guard lk(m_mu);
  m_appearance = std::move(look);
}

Machine::~Machine() {
  m_clock->SetSettle(nullptr);
  // Objects left registered are released while the rest of the machine is still there.
  m_classObjects.reset();
  m_screen.reset();
  m_programs.reset();
  m_windows.reset();
  m_desktop.reset();
  m_sessions.reset();
  m_files.reset();
  m_pool.reset();
  m_objects.reset();
  m_registry.reset();
  if (!m_tempRoot.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(m_tempRoot, ec);
  }
}

DWORD Machine::NewProcessId() {
  std::lock_guard lk(m_mu);
  const DWORD pid = m_nextPid;
  m_nextPid += 4;  // Windows process ids are multiples of four
  return pid;
}

DWORD Machine::NewThreadId() {
  std::lock_guard lk(m_mu);
  const DWORD tid = m_nextTid;
  m_nextTid += 4;
  return tid;
}

void Machine::SetProgramBehaviour(const std::wstring& fileName, ProgramBehaviour behaviour) {
  m_programs->SetBehaviour(fileName, std::move(behaviour));
}

std::unique_ptr<Process> Machine::CreateProcess(const ProcessOptions& opts) {
  const DWORD pid = NewProcessId();
  auto p = std::make_unique<Process>(*this, pid, opts);
  std::lock_guard lk(m_mu);
  m_processes[pid] = p.get();
  return p;
}

Process* Machine::FindProcess(DWORD pid) {
  std::lock_guard lk(m_mu);
  auto it = m_processes.find(pid);
  return it == m_processes.end() ? nullptr : it->second;
}

void Machine::Unregister(DWORD pid) {
  std::lock_guard lk(m_mu);
  m_processes.erase(pid);
}

DWORD Machine::CurrentThreadId() {
  std::lock_guard lk(m_mu);
  auto [it, added] = m_threads.try_emplace(std::this_thread::get_id(), ThreadState{0, 0});
  if (added) {
    it->second.id = m_nextTid;
    m_nextTid += 4;
  }
  return it->second.id;
}

DWORD& Machine::LastError() {
  std::lock_guard lk(m_mu);
  auto [it, added] = m_threads.try_emplace(std::this_thread::get_id(), ThreadState{0, 0});
  if (added) {
    it->second.id = m_nextTid;
    m_nextTid += 4;
  }
  // std::map nodes are stable, and only the owning thread touches its own entry.
  return it->second.lastError;
}

void Machine::AdvanceBy(ULONGLONG ms) { m_clock->AdvanceBy(ms, /*pump=*/true); }

void Machine::RunUntilIdle() {
  // Pumping may start pool work and pool work may post messages: repeat until both rest.
  for (int i = 0; i < 1000; ++i) {
    m_pool->WaitIdle();
    if (!m_windows->PumpCurrentThread() && m_pool->IsIdle()) return;
  }
}

}  // namespace sim
