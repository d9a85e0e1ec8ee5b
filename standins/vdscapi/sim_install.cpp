// The one file that binds the stand-in card library to the simulated machine.
#include "standins/vdscapi/sim_install.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <stdexcept>

#include "platform/sim/clock.h"
#include "platform/sim/module_table.h"
#include "platform/sim/process.h"
#include "standins/vdscapi/exports.h"

namespace vdsc_standin {

struct SimCardInstallation::Impl final : ICardSite, std::enable_shared_from_this<Impl> {
  Impl(sim::Machine& m, vdfp_standin::SimInstallation& v) : machine(m), vdfp(v) {}

  BOOL PostMessageW(DWORD processId, HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) override {
    // Posted as the subscriber's own process, as the real library's thread in it would.
    sim::Process* p = machine.FindProcess(processId);
    if (!p) return FALSE;
    sim::CurrentProcessScope scope(p);
    return p->Ui().PostMessageW(hWnd, msg, wParam, lParam);
  }

  void RunLater(ULONGLONG delayMs, std::function<void()> fn) override {
    sim::Clock& clock = machine.GetClock();
    std::weak_ptr<Impl> self = weak_from_this();
    clock.ScheduleAt(clock.NowMs() + delayMs, [self, fn = std::move(fn)] {
      if (auto me = self.lock()) fn();  // nothing once uninstalled
    });
  }

  BSTR AllocString(const std::wstring& s) override {
    sim::Process* p = sim::CurrentProcess();
    return p ? p->Com().SysAllocString(s.c_str()) : nullptr;
  }

  std::optional<std::size_t> AuthenticationUser(DWORD processId, HVDFPAUTHENTICATION h) override {
    auto client = vdfp.ClientOf(processId);
    return client ? client->AuthenticationUser(h) : std::nullopt;
  }

  sim::Machine& machine;
  vdfp_standin::SimInstallation& vdfp;
  std::unique_ptr<CCardHost> host;
  bool installed = false;
};

namespace {
std::mutex g_mu;
std::map<sim::Machine*, std::weak_ptr<SimCardInstallation::Impl>> g_installations;
}  // namespace

CCardHost* CurrentCardLibrary(DWORD& processId) {
  sim::Process* p = sim::CurrentProcess();
  if (!p) return nullptr;
  std::lock_guard lk(g_mu);
  auto it = g_installations.find(&p->GetMachine());
  auto impl = it == g_installations.end() ? nullptr : it->second.lock();
  if (!impl) return nullptr;
  processId = p->Pid();
  return impl->host.get();
}

SimCardInstallation::SimCardInstallation(std::shared_ptr<Impl> impl) : m_impl(std::move(impl)) {}

SimCardInstallation::~SimCardInstallation() {
  {
    std::lock_guard lk(g_mu);
    g_installations.erase(&m_impl->machine);
  }
  if (m_impl->installed) m_impl->machine.Modules().Uninstall(kSimCardLibraryPath);
}

CCardHost& SimCardInstallation::Host() { return *m_impl->host; }

std::unique_ptr<SimCardInstallation> InstallVdscApi(sim::Machine& machine,
                                                    vdfp_standin::SimInstallation& vdfp,
                                                    CardsDescription desc,
                                                    CardInstallOptions options) {
  {
    std::lock_guard lk(g_mu);
    auto it = g_installations.find(&machine);
    if (it != g_installations.end() && !it->second.expired())
      throw std::logic_error("the card library is already installed on this machine");
  }
  auto impl = std::make_shared<SimCardInstallation::Impl>(machine, vdfp);
  impl->host = std::make_unique<CCardHost>(std::move(desc), vdfp.Host(), *impl);
  if (options.installLibrary) {
    sim::ModuleTable::Exports exports;
    for (const auto& [name, proc] : CardExports())
      if (std::find(options.missingExports.begin(), options.missingExports.end(), name) ==
          options.missingExports.end())
        exports[name] = proc;
    machine.Modules().Install(kSimCardLibraryPath, std::move(exports));
    impl->installed = true;
  }
  {
    std::lock_guard lk(g_mu);
    g_installations[&machine] = impl;
  }
  return std::unique_ptr<SimCardInstallation>(new SimCardInstallation(std::move(impl)));
}

}  // namespace vdsc_standin
