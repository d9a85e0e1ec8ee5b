#include "platform/sim/process.h"

#include "platform/sim/process_com.h"
#include "platform/sim/process_crypt.h"
#include "platform/sim/process_gdi.h"
#include "platform/sim/process_kernel.h"
#include "platform/sim/process_modules.h"
#include "platform/sim/process_registry.h"
#include "platform/sim/process_sessions.h"
#include "platform/sim/process_shell.h"
#include "platform/sim/process_ui.h"

namespace sim {

namespace {
thread_local Process* t_current = nullptr;

std::wstring FolderOf(const std::wstring& path) {
  const auto slash = path.find_last_of(L'\\');
  return slash == std::wstring::npos ? std::wstring(L"C:\\") : path.substr(0, slash);
}
}  // namespace

Process::Process(Machine& machine, DWORD pid, const ProcessOptions& opts)
    : m_machine(machine),
      m_pid(pid),
      m_sessionId(opts.sessionId),
      m_exePath(opts.exePath),
      m_is32Bit(opts.is32Bit),
      m_elevatedAdmin(opts.elevatedAdmin),
      m_runsAsSystem(opts.runsAsSystem),
      m_currentDirectory(FolderOf(opts.exePath)) {
  m_registry = std::make_unique<ProcessRegistry>(*this);
  m_kernel = std::make_unique<ProcessKernel>(*this);
  m_ui = std::make_unique<ProcessUi>(*this);
  m_sessions = std::make_unique<ProcessSessions>(*this);
  m_com = std::make_unique<ProcessCom>(*this);
  m_modules = std::make_unique<ProcessModules>(*this);
  m_shell = std::make_unique<ProcessShell>(*this);
  m_crypt = std::make_unique<ProcessCrypt>(*this);
  m_gdi = std::make_unique<ProcessGdi>(*this);
}

Process::~Process() {
  // Windows go first (they may still send messages), kernel handles and waits last.
  m_gdi.reset();
  m_crypt.reset();
  m_shell.reset();
  m_modules.reset();
  m_com.reset();
  m_sessions.reset();
  m_ui.reset();
  m_kernel.reset();
  m_registry.reset();
  m_machine.Unregister(m_pid);
}

platform::IRegistry& Process::Registry() { return *m_registry; }
platform::IKernel& Process::Kernel() { return *m_kernel; }
platform::IUi& Process::Ui() { return *m_ui; }
platform::ISessions& Process::Sessions() { return *m_sessions; }
platform::ICom& Process::Com() { return *m_com; }
platform::IModules& Process::Modules() { return *m_modules; }
platform::IShell& Process::Shell() { return *m_shell; }
platform::ICrypt& Process::Crypt() { return *m_crypt; }
platform::IGdi& Process::Gdi() { return *m_gdi; }

bool Process::IsWow64() const { return m_is32Bit && m_machine.Description().is64BitWindows; }

std::wstring Process::CurrentDirectory() const {
  std::lock_guard lk(m_mu);
  return m_currentDirectory;
}

void Process::SetCurrentDirectory(std::wstring dir) {
  std::lock_guard lk(m_mu);
  m_currentDirectory = std::move(dir);
}

Process* CurrentProcess() { return t_current; }

CurrentProcessScope::CurrentProcessScope(Process* p) : m_previous(t_current) { t_current = p; }
CurrentProcessScope::~CurrentProcessScope() { t_current = m_previous; }

}  // namespace sim
