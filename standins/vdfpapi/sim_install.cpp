// The one file that binds the stand-in to the simulated machine.
#include "standins/vdfpapi/sim_install.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <stdexcept>

#include "platform/security.h"
#include "platform/sim/clock.h"
#include "platform/sim/module_table.h"
#include "platform/sim/session_manager.h"
#include "standins/sim_modal_loop.h"
#include "standins/vdfpapi/exports.h"

namespace vdfp_standin {

namespace {

constexpr DWORD kEventModifyState = 0x0002;
constexpr DWORD kSynchronize = 0x00100000;

// Posts as the process the library instance lives in.
class SimClientSite final : public IClientSite {
 public:
  SimClientSite(sim::Machine& m, DWORD pid) : m_machine(m), m_pid(pid) {}
  BOOL PostMessageW(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) override {
    sim::Process* p = m_machine.FindProcess(m_pid);
    return p ? p->Ui().PostMessageW(hWnd, msg, wParam, lParam) : FALSE;
  }

  // Open for no time (the default here), the dialog returns without running anything.
  void RunModalLoop(std::optional<ULONGLONG> openMs) override {
    if (sim::Process* p = m_machine.FindProcess(m_pid))
      standins::RunSimModalLoop(*p, openMs.value_or(0));
  }

 private:
  sim::Machine& m_machine;
  DWORD m_pid;
};

}  // namespace

struct SimInstallation::Impl final : IHostSite, std::enable_shared_from_this<Impl> {
  Impl(sim::Machine& m, SimInstallOptions opts) : machine(m), options(std::move(opts)) {}

  // ---- IHostSite ----
  void HostStateChanged(bool running) override {
    sim::CurrentProcessScope scope(hostProcess.get());
    auto& k = hostProcess->Kernel();
    if (running) {
      // The agent may have made the event already (it waits on it); else the host makes it.
      if (!readyEvent) {
        readyEvent.reset(
            k.OpenEventW(kEventModifyState | kSynchronize, FALSE, kHostReadyEventName));
      }
      if (!readyEvent) {
        platform::CNullDaclAttributes everyone;
        readyEvent.reset(k.CreateEventW(everyone.get(), TRUE, FALSE, kHostReadyEventName));
      }
      if (readyEvent) k.SetEvent(readyEvent.get());
    } else if (readyEvent) {
      k.ResetEvent(readyEvent.get());
    }
  }

  void RunLater(ULONGLONG delayMs, std::function<void()> fn) override {
    sim::Clock& clock = machine.GetClock();
    std::weak_ptr<Impl> self = weak_from_this();
    clock.ScheduleAt(clock.NowMs() + delayMs, [self, fn = std::move(fn)] {
      auto me = self.lock();
      if (!me) return;  // uninstalled meanwhile
      sim::CurrentProcessScope scope(me->hostProcess.get());
      fn();
    });
  }

  std::shared_ptr<CClientLibrary> ClientFor(DWORD pid) {
    std::lock_guard lk(mu);
    auto& c = clients[pid];
    if (!c) {
      c = std::make_shared<CClientLibrary>(*host, std::make_unique<SimClientSite>(machine, pid),
                                           pid);
      host->Attach(c);
    }
    return c;
  }

  sim::Machine& machine;
  SimInstallOptions options;
  std::vector<std::wstring> installed;
  // Declared in creation order; destroyed the other way round.
  std::unique_ptr<sim::Process> hostProcess;
  std::unique_ptr<CHostService> host;
  mutable std::mutex mu;
  std::map<DWORD, std::shared_ptr<CClientLibrary>> clients;

  // The readiness event, a handle of the host process (closed through its kernel).
  struct EventSlot {
    Impl* owner;
    HANDLE h = nullptr;
    explicit operator bool() const { return h != nullptr; }
    HANDLE get() const { return h; }
    void reset(HANDLE nh) {
      if (h && owner->hostProcess) owner->hostProcess->Kernel().CloseHandle(h);
      h = nh;
    }
  } readyEvent{this};
};

namespace {

std::mutex g_mu;
std::map<sim::Machine*, std::weak_ptr<SimInstallation::Impl>> g_installations;

sim::ModuleTable::Exports Pick(const ExportList& list, const std::vector<std::string>& missing) {
  sim::ModuleTable::Exports out;
  for (const auto& [name, proc] : list)
    if (std::find(missing.begin(), missing.end(), name) == missing.end()) out[name] = proc;
  return out;
}

}  // namespace

std::shared_ptr<CClientLibrary> CurrentClient() {
  sim::Process* p = sim::CurrentProcess();
  std::shared_ptr<SimInstallation::Impl> impl;
  {
    std::lock_guard lk(g_mu);
    if (p) {
      auto it = g_installations.find(&p->GetMachine());
      if (it != g_installations.end()) impl = it->second.lock();
    } else if (g_installations.size() == 1) {
      // Nobody told us whose call this is: count it against the one installation there is.
      if (auto only = g_installations.begin()->second.lock()) only->host->NoteOrphanCall();
    }
  }
  if (!impl || !p) return nullptr;
  return impl->ClientFor(p->Pid());
}

SimInstallation::SimInstallation(std::shared_ptr<Impl> impl) : m_impl(std::move(impl)) {}

SimInstallation::~SimInstallation() {
  {
    std::lock_guard lk(g_mu);
    g_installations.erase(&m_impl->machine);
  }
  for (const auto& path : m_impl->installed) m_impl->machine.Modules().Uninstall(path);
  {
    std::lock_guard lk(m_impl->mu);
    m_impl->clients.clear();
  }
  m_impl->host->Stop();
  m_impl->readyEvent.reset(nullptr);
  m_impl->host.reset();
  m_impl->hostProcess.reset();
}

CHostService& SimInstallation::Host() { return *m_impl->host; }
sim::Machine& SimInstallation::GetMachine() { return m_impl->machine; }
sim::Process& SimInstallation::HostProcess() { return *m_impl->hostProcess; }

void SimInstallation::StartHostAt(ULONGLONG atMs) {
  const ULONGLONG now = m_impl->machine.GetClock().NowMs();
  if (atMs <= now) {
    m_impl->host->Start();
  } else {
    m_impl->host->StartAfter(atMs - now);
  }
}

std::shared_ptr<CClientLibrary> SimInstallation::ClientOf(DWORD processId) const {
  std::lock_guard lk(m_impl->mu);
  auto it = m_impl->clients.find(processId);
  return it == m_impl->clients.end() ? nullptr : it->second;
}

std::unique_ptr<SimInstallation> InstallVdfpApi(sim::Machine& machine, VdfpDescription desc,
                                                SimInstallOptions options) {
  {
    std::lock_guard lk(g_mu);
    auto it = g_installations.find(&machine);
    if (it != g_installations.end() && !it->second.expired())
      throw std::logic_error("the authentication library is already installed on this machine");
  }
  // Users signed in to the machine's sessions carry the SIDs the machine gave them.
  for (auto& u : desc.users) {
    if (u.sidGiven || u.session == 0) continue;
    const auto session = machine.Sessions().Find(u.session);
    if (session && EqualNoCase(session->userName, u.name)) {
      u.sid = session->userSid;
      u.names[VDFP_NAME_SID] = u.sid;
    }
  }
  auto impl = std::make_shared<SimInstallation::Impl>(machine, std::move(options));
  impl->hostProcess =
      machine.CreateProcess({.sessionId = 0,
                             .exePath = L"C:\\Program Files\\Veridane\\VDHost\\VDHost.exe",
                             .is32Bit = false});
  impl->host = std::make_unique<CHostService>(std::move(desc), *impl);
  const auto& opts = impl->options;
  if (opts.installLibrary) {
    machine.Modules().Install(kSimLibraryPath, Pick(ApiExports(), opts.missingExports));
    impl->installed.push_back(kSimLibraryPath);
  }
  if (opts.installDialogs) {
    machine.Modules().Install(kSimDialogLibraryPath, Pick(DialogExports(), opts.missingExports));
    impl->installed.push_back(kSimDialogLibraryPath);
  }
  {
    std::lock_guard lk(g_mu);
    g_installations[&machine] = impl;
  }
  return std::unique_ptr<SimInstallation>(new SimInstallation(std::move(impl)));
}

}  // namespace vdfp_standin
