// Tray plug-ins for the host's tests: in-process servers "installed" on the simulated
// machine, each described by a FakePluginDesc (roles, items, results, a creation that waits
// for an event), all served by one DllGetClassObject that looks the CLSID up. Every call the
// host makes on them is recorded, as is whether a plug-in's DLL was still loaded when the
// plug-in object went.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "support/tray_plugin_contract.h"
#include "platform/sim/machine.h"
#include "platform/sim/process.h"

namespace plugin_test {

struct FakePluginDesc {
  std::wstring clsid;  // "{...}"; the registration's subkey name
  std::wstring path;   // the DLL
  bool menu = false;
  bool hostAware = false;
  bool subscriber = false;
  UINT items = 0;                 // the count add items reports
  HRESULT addResult = S_OK;
  bool addThrows = false;
  bool executeThrows = false;
  HRESULT subscribeResult = S_OK;
  HRESULT createResult = S_OK;
  bool noFactory = false;         // the class object answers IUnknown only
  UINT strayId = 0;               // non-zero: one more item with this id, outside the count
  HANDLE createGate = nullptr;    // creation waits for this event (a platform wait)
  // At set host: a notification through the host, its result recorded.
  bool notifyAtSetHost = false;
};

struct PluginEvent {
  std::wstring clsid;
  std::string what;  // "create", "add", "execute", "sethost", "subscribe", "released", "notify"
  UINT value = 0;
  HRESULT hr = S_OK;
  bool dllLoaded = false;  // for "released": was the DLL still loaded then
  bool operator==(const PluginEvent&) const = default;
};

class FakePlugins {
 public:
  FakePlugins(sim::Machine& machine, sim::Process& process);
  ~FakePlugins();

  // Installs the DLL (unless `install` is false), writes the registration.
  void Add(const FakePluginDesc& desc, bool install = true);
  // A registration of any value type, for the odd ones.
  void Register(const std::wstring& subkey, DWORD type, const std::wstring& value);

  std::vector<PluginEvent> EventsOf(const std::string& what);
  void Record(PluginEvent e);
  bool DllLoaded(const std::wstring& path);

  const FakePluginDesc* Find(const GUID& clsid);
  sim::Process& Process() { return m_process; }
  std::atomic<int> live{0};

 private:
  sim::Machine& m_machine;
  sim::Process& m_process;
  std::mutex m_mu;
  std::map<std::wstring, FakePluginDesc> m_descs;  // by upper-case CLSID text
  std::vector<PluginEvent> m_events;
};

}  // namespace plugin_test
