// The one file that binds the tray plug-in stand-ins to the simulated machine.
#include "standins/plugins/sim_install.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cwctype>
#include <map>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "platform/sim/desktop.h"
#include "platform/sim/module_table.h"
#include "platform/sim/process.h"
#include "platform/sim/registry_store.h"
#include "standins/plugins/plugin.h"
#include "support/guid_string.h"

namespace plugin_standin {

struct SimTrayPluginInstallation::Impl {
  // A constructor, not an aggregate: clang 14 has no parenthesised aggregate initialisation
  // for make_shared.
  Impl(sim::Machine& m, TrayPluginsDescription d) : machine(m), desc(std::move(d)) {}

  sim::Machine& machine;
  TrayPluginsDescription desc;
  std::atomic<int> live{0};

  const TrayPluginDesc* Find(const GUID& clsid) const {
    const std::wstring text = support::GuidToString(clsid);
    for (const auto& p : desc.plugins)
      if (SameText(p.clsid, text)) return &p;
    return nullptr;
  }
  static bool SameText(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
      if (std::towupper(a[i]) != std::towupper(b[i])) return false;
    return true;
  }
};

namespace {

std::mutex g_mu;
std::map<sim::Machine*, std::weak_ptr<SimTrayPluginInstallation::Impl>> g_installations;

std::shared_ptr<SimTrayPluginInstallation::Impl> CallerInstallation() {
  sim::Process* p = sim::CurrentProcess();
  if (!p) return nullptr;
  std::lock_guard lk(g_mu);
  auto it = g_installations.find(&p->GetMachine());
  return it == g_installations.end() ? nullptr : it->second.lock();
}

// What the plug-ins do shows on the calling process's session; their menu items go into its
// menus; a hang is a platform wait, so the machine sees the thread idle and lets time pass.
class SimPluginSite final : public IPluginSite {
 public:
  explicit SimPluginSite(std::shared_ptr<SimTrayPluginInstallation::Impl> impl)
      : m_impl(std::move(impl)) {}
  void Record(const std::wstring& text) override {
    sim::Process* p = sim::CurrentProcess();
    m_impl->machine.GetDesktop().Record(p ? p->SessionId() : 0, kPluginKind, text);
  }
  void AppendMenuItem(HMENU menu, UINT id, const std::wstring& text) override {
    if (sim::Process* p = sim::CurrentProcess()) p->Ui().AppendMenuW(menu, MF_STRING, id, text.c_str());
  }
  void Block(DWORD ms) override {
    if (sim::Process* p = sim::CurrentProcess()) p->Kernel().Sleep(ms);
  }
  void CountObject(int delta) override { m_impl->live += delta; }

 private:
  std::shared_ptr<SimTrayPluginInstallation::Impl> m_impl;
};

HRESULT STDAPICALLTYPE StandInDllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  auto impl = CallerInstallation();
  const TrayPluginDesc* desc = impl ? impl->Find(clsid) : nullptr;
  if (!desc) return CLASS_E_CLASSNOTAVAILABLE;
  return CreateClassObject(*desc, std::make_shared<SimPluginSite>(impl), riid, ppv);
}

}  // namespace

SimTrayPluginInstallation::SimTrayPluginInstallation(std::shared_ptr<Impl> impl)
    : m_impl(std::move(impl)) {}

SimTrayPluginInstallation::~SimTrayPluginInstallation() {
  std::lock_guard lk(g_mu);
  g_installations.erase(&m_impl->machine);
}

const TrayPluginsDescription& SimTrayPluginInstallation::Description() const {
  return m_impl->desc;
}

int SimTrayPluginInstallation::LiveObjects() const { return m_impl->live.load(); }

DWORD SimTrayPluginInstallation::LongestCreationBlockMs() const {
  DWORD longest = 0;
  for (const auto& p : m_impl->desc.plugins) longest = std::max(longest, p.blockCreationMs);
  return longest;
}

std::unique_ptr<SimTrayPluginInstallation> InstallTrayPluginStandIns(sim::Machine& machine,
                                                                      TrayPluginsDescription desc) {
  auto impl = std::make_shared<SimTrayPluginInstallation::Impl>(machine, std::move(desc));
  {
    std::lock_guard lk(g_mu);
    auto& slot = g_installations[&machine];
    if (slot.lock()) throw std::logic_error("tray plug-ins are installed on this machine already");
    slot = impl;
  }
  auto& reg = machine.Registry();
  for (const auto& p : impl->desc.plugins) {
    if (p.installed)
      machine.Modules().Install(p.path, {{"DllGetClassObject", reinterpret_cast<FARPROC>(
                                              reinterpret_cast<void*>(&StandInDllGetClassObject))}});
    // A 32-bit agent on 64-bit Windows reads the 32-bit view; a 64-bit one the other.
    for (const wchar_t* root : {L"HKLM\\SOFTWARE\\", L"HKLM\\SOFTWARE\\WOW6432Node\\"})
      reg.SetString(std::wstring(root) + L"Veridane\\VDNX\\Plugins\\TrayIcon\\" + p.clsid, L"",
                    p.path);
  }
  return std::unique_ptr<SimTrayPluginInstallation>(new SimTrayPluginInstallation(impl));
}

}  // namespace plugin_standin
