// The tray plug-in host on the simulated machine, tracing off: building the plug-in part of
// the tray menu with 8 menu plug-ins that add 2 items each and do nothing else, so what is
// measured is the host's own work. Must stay within 10 us.
#include <benchmark/benchmark.h>

#include <atomic>
#include <memory>
#include <string>

#include "bench/bench_target.h"
#include "ext/agent_plugins.h"
#include "platform/sim/machine.h"
#include "platform/sim/module_table.h"
#include "platform/sim/process.h"
#include "platform/sim/registry_store.h"
#include "support/trace/trace.h"

namespace {

// A menu plug-in that reports two ids and appends nothing.
class IdlePlugin final : public IVDNXTrayMenuPlugin, public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IVDNXTrayMenuPlugin)
      *ppv = static_cast<IVDNXTrayMenuPlugin*>(this);
    else if (riid == IID_IClassFactory)
      *ppv = static_cast<IClassFactory*>(this);
    else
      return E_NOINTERFACE;
    return S_OK;
  }
  // Lives for the whole run: counting would only add the plug-in's own cost.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE AddMenuItems(HMENU, UINT, UINT* count) override {
    *count = 2;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ExecuteMenuItem(UINT) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID riid, void** ppv) override {
    return QueryInterface(riid, ppv);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

IdlePlugin g_plugin;

HRESULT STDAPICALLTYPE IdleDllGetClassObject(REFCLSID, REFIID riid, LPVOID* ppv) {
  return g_plugin.QueryInterface(riid, ppv);
}

class NoWindow : public IPluginWindow {
 public:
  bool Notify(const std::wstring&, const std::wstring&, IUnknown*, DWORD, UINT, UINT) override {
    return true;
  }
  QUERY_USER_NOTIFICATION_STATE CheckQuietTime() override { return QUNS_ACCEPTS_NOTIFICATIONS; }
  void FocusTaskbar() override {}
  bool LaunchApp(int, const std::wstring&) override { return true; }
};

struct PluginRig {
  sim::Machine machine;
  std::unique_ptr<sim::Process> process = machine.CreateProcess({});
  sim::CurrentProcessScope scope{process.get()};
  NoWindow window;
  std::unique_ptr<CAgentPlugins> plugins;

  PluginRig() {
    VDTraceNS::Bind(nullptr);
    for (int i = 0; i < 8; ++i) {
      const std::wstring path = L"C:\\Plugins\\idle" + std::to_wstring(i) + L".dll";
      machine.Modules().Install(path, {{"DllGetClassObject",
                                        reinterpret_cast<FARPROC>(reinterpret_cast<void*>(
                                            &IdleDllGetClassObject))}});
      machine.Registry().SetString(
          L"HKLM\\SOFTWARE\\WOW6432Node\\Veridane\\VDNX\\Plugins\\TrayIcon\\{0000000" +
              std::to_wstring(i) + L"-0000-0000-0000-000000000000}",
          L"", path);
    }
    plugins = std::make_unique<CAgentPlugins>(*process, window);
    plugins->Load();
    machine.RunUntilIdle();
  }
};

void BM_AddTrayMenuItems8(benchmark::State& state) {
  bench::SetTargetNs(state, 10000);
  PluginRig rig;
  if (rig.plugins->Host().MenuPlugins().size() != 8) {
    state.SkipWithError("the 8 plug-ins did not load");
    return;
  }
  UINT first = kFirstPluginCommand, last = 0;
  for (auto _ : state) {
    rig.plugins->AddTrayMenuItems(nullptr, first, last);
    benchmark::DoNotOptimize(last);
  }
  if (last != kFirstPluginCommand + 16) state.SkipWithError("wrong ids");
}
BENCHMARK(BM_AddTrayMenuItems8);

}  // namespace

BENCHMARK_MAIN();
