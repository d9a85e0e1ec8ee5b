// The tray plug-in host on the simulated machine, with fake plug-ins and a fake window: the
// id blocks of the menu, the refused counts, commands routed to the right plug-in, the odd
// registrations, notifications and the console, and an unload that gives up on a loader
// blocked in a plug-in's creation without anything touching the window afterwards.
#include "ext/agent_plugins.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/sim/machine.h"
#include "platform/sim/module_table.h"
#include "platform/sim/process.h"
#include "support/trace/trace.h"
#include "tests/ext/fake_tray_plugins.h"

namespace {

using plugin_test::FakePlugins;
using plugin_test::FakePluginDesc;
using plugin_test::PluginEvent;

constexpr wchar_t kA[] = L"{11111111-0000-0000-0000-000000000001}";
constexpr wchar_t kB[] = L"{22222222-0000-0000-0000-000000000002}";
constexpr wchar_t kC[] = L"{33333333-0000-0000-0000-000000000003}";
constexpr wchar_t kD[] = L"{44444444-0000-0000-0000-000000000004}";

std::wstring DllOf(const wchar_t* clsid) {
  return std::wstring(L"C:\\Program Files\\Suite\\plugin") + (clsid + 1)[0] + L".dll";
}

struct Shown {
  std::wstring title, message;
  DWORD flags;
  UINT timeoutMs, id;
  bool operator==(const Shown&) const = default;
};

// The window as the plug-ins reach it; records outlive it in `log`.
struct WindowLog {
  std::vector<Shown> shown;
  std::vector<std::wstring> launches;
  int focus = 0;
  int callsAfterGone = 0;
};

class FakeWindow : public IPluginWindow {
 public:
  explicit FakeWindow(std::shared_ptr<WindowLog> log) : m_log(std::move(log)) {}
  ~FakeWindow() override { m_gone = true; }
  bool Notify(const std::wstring& title, const std::wstring& message, IUnknown*, DWORD flags,
              UINT timeoutMs, UINT id) override {
    if (m_gone) ++m_log->callsAfterGone;
    m_log->shown.push_back({title, message, flags, timeoutMs, id});
    return true;
  }
  QUERY_USER_NOTIFICATION_STATE CheckQuietTime() override { return state; }
  void FocusTaskbar() override { ++m_log->focus; }
  bool LaunchApp(int appId, const std::wstring& arguments) override {
    m_log->launches.push_back(std::to_wstring(appId) + L":" + arguments);
    return launchResult;
  }
  QUERY_USER_NOTIFICATION_STATE state = QUNS_ACCEPTS_NOTIFICATIONS;
  bool launchResult = true;

 private:
  std::shared_ptr<WindowLog> m_log;
  bool m_gone = false;
};

FakePluginDesc Plain(const wchar_t* clsid) {
  FakePluginDesc s;
  s.clsid = clsid;
  s.path = DllOf(clsid);
  return s;
}

FakePluginDesc Menu(const wchar_t* clsid, UINT items) {
  FakePluginDesc s = Plain(clsid);
  s.menu = true;
  s.items = items;
  return s;
}

class AgentPluginsTest : public ::testing::Test {
 protected:
  void SetUp() override { VDTraceNS::Bind(proc.get()); }
  void TearDown() override {
    plugins.reset();
    window.reset();
    machine.RunUntilIdle();
    if (gate) proc->Kernel().CloseHandle(gate);
    VDTraceNS::Bind(nullptr);
  }
  // Starts the loader on `blocked` and returns once it waits in the plug-in's creation, held
  // until `gate` is set.
  void LoadBlockedIn(FakePluginDesc blocked) {
    gate = proc->Kernel().CreateEventW(nullptr, TRUE, FALSE, nullptr);
    blocked.createGate = gate;
    fakes.Add(blocked);
    plugins->Load();
    while (fakes.EventsOf("create").empty()) machine.RunUntilIdle();
  }
  // Loads what is registered and waits for the loader to end.
  void LoadAll() {
    plugins->Load();
    machine.RunUntilIdle();
  }
  // Builds a menu from 20000; returns [first, last).
  std::pair<UINT, UINT> BuildMenu() {
    HMENU menu = proc->Ui().CreatePopupMenu();
    UINT first = kFirstPluginCommand, last = 0;
    plugins->AddTrayMenuItems(menu, first, last);
    menuIds.clear();
    for (int i = 0; i < proc->Ui().GetMenuItemCount(menu); ++i)
      menuIds.push_back(proc->Ui().GetMenuItemID(menu, i));
    proc->Ui().DestroyMenu(menu);
    return {first, last};
  }
  std::vector<std::pair<UINT, UINT>> Blocks() {
    std::vector<std::pair<UINT, UINT>> out;
    for (const auto& p : plugins->Host().MenuPlugins()) out.emplace_back(p->m_uFirstID, p->m_uLastID);
    return out;
  }
  std::vector<std::wstring> Executed() {
    std::vector<std::wstring> out;
    for (const auto& e : fakes.EventsOf("execute")) out.push_back(e.clsid + L"@" + std::to_wstring(e.value));
    return out;
  }

  sim::Machine machine;
  std::unique_ptr<sim::Process> proc = machine.CreateProcess({});
  FakePlugins fakes{machine, *proc};
  std::vector<UINT> menuIds;  // the last built menu's items
  HANDLE gate = nullptr;
  std::shared_ptr<WindowLog> log = std::make_shared<WindowLog>();
  std::unique_ptr<FakeWindow> window = std::make_unique<FakeWindow>(log);
  std::unique_ptr<CAgentPlugins> plugins = std::make_unique<CAgentPlugins>(*proc, *window);
};

// ---- Menu ids and commands ---------------------------------------------------------------------

TEST_F(AgentPluginsTest, MenuPluginsGetConsecutiveBlocksAndCommandsGoToTheirOwner) {
  auto throwing = Menu(kA, 3);
  throwing.executeThrows = true;  // still its plug-in's command, and the host carries on
  fakes.Add(throwing);
  fakes.Add(Menu(kB, 2));
  LoadAll();

  const auto [first, last] = BuildMenu();
  EXPECT_EQ(first, 20000u);
  EXPECT_EQ(last, 20005u);
  EXPECT_EQ(Blocks(), (std::vector<std::pair<UINT, UINT>>{{20000, 20002}, {20003, 20004}}));

  for (UINT id : {20000u, 20002u, 20003u, 20004u, 20005u, 19999u}) plugins->ExecTrayMenuItem(id);
  EXPECT_EQ(Executed(), (std::vector<std::wstring>{std::wstring(kA) + L"@20000",
                                                   std::wstring(kA) + L"@20002",
                                                   std::wstring(kB) + L"@20003",
                                                   std::wstring(kB) + L"@20004"}));

  // The blocks are those of the menu built last.
  fakes.Add(Menu(kC, 1));  // registered after the load: not loaded
  EXPECT_EQ(BuildMenu().second, 20005u);
}

TEST_F(AgentPluginsTest, FailedEmptyOrOversizedAdditionsGetNoIdsAndStrayItemsLeave) {
  auto failing = Menu(kA, 3);
  failing.addResult = E_FAIL;
  auto oversized = Menu(kC, 40000);  // would run past 0x7FFF into the built-in commands
  auto throwing = Menu(kD, 2);
  throwing.addThrows = true;
  fakes.Add(failing);
  fakes.Add(Menu(kB, 0));
  fakes.Add(oversized);
  fakes.Add(throwing);
  auto good = Menu(L"{55555555-0000-0000-0000-000000000005}", 2);
  good.strayId = 0x8007;  // the lock command's id, outside the plug-in's block
  fakes.Add(good);
  LoadAll();

  EXPECT_EQ(BuildMenu(), (std::pair<UINT, UINT>{20000, 20002}));
  EXPECT_EQ(Blocks(), (std::vector<std::pair<UINT, UINT>>{{kNoPluginId, kNoPluginId},
                                                          {kNoPluginId, kNoPluginId},
                                                          {kNoPluginId, kNoPluginId},
                                                          {kNoPluginId, kNoPluginId},
                                                          {20000, 20001}}));
  // What the refused ones put in the menu, and the stray item, left it again.
  EXPECT_EQ(menuIds, (std::vector<UINT>{20000, 20001}));
  plugins->ExecTrayMenuItem(20000);
  plugins->ExecTrayMenuItem(20001);
  plugins->ExecTrayMenuItem(kNoPluginId);  // the "no ids" mark is no id
  EXPECT_EQ(Executed(), (std::vector<std::wstring>{good.clsid + L"@20000", good.clsid + L"@20001"}));
}

TEST(CMenuPluginTest, IdsStopAtTheLastPluginCommand) {
  struct Counting final : IVDNXTrayMenuPlugin {
    UINT count = 0;
    std::vector<UINT> executed;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE AddMenuItems(HMENU, UINT, UINT* c) override {
      *c = count;
      return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ExecuteMenuItem(UINT id) override {
      executed.push_back(id);
      return S_OK;
    }
  } fake;
  platform::ComPtr<IVDNXTrayMenuPlugin> ptr;
  *ptr.put_void() = static_cast<IVDNXTrayMenuPlugin*>(&fake);  // the fake does not count
  CMenuPlugin menu(std::move(ptr));
  sim::Machine machine;
  auto proc = machine.CreateProcess({});
  platform::IUi& ui = proc->Ui();

  UINT next = 0x7FFE;
  fake.count = 2;  // 0x7FFE, 0x7FFF: fits
  menu.AddSubmenuItems(ui, nullptr, next);
  EXPECT_EQ(menu.m_uFirstID, 0x7FFEu);
  EXPECT_EQ(menu.m_uLastID, 0x7FFFu);
  EXPECT_EQ(next, 0x8000u);

  next = 0x7FFE;
  fake.count = 3;  // would give 0x8000, the first built-in command
  menu.AddSubmenuItems(ui, nullptr, next);
  EXPECT_EQ(menu.m_uFirstID, kNoPluginId);
  EXPECT_EQ(next, 0x7FFEu);

  next = 20000;
  fake.count = 0xFFFFFFFF;  // would wrap around 32 bits
  menu.AddSubmenuItems(ui, nullptr, next);
  EXPECT_EQ(menu.m_uFirstID, kNoPluginId);
  EXPECT_EQ(next, 20000u);
  EXPECT_FALSE(menu.ExecSubMenuItem(20000));
  EXPECT_TRUE(fake.executed.empty());
}

// ---- Loading -----------------------------------------------------------------------------------

TEST_F(AgentPluginsTest, BadRegistrationsAreSkippedAndTheOthersLoad) {
  fakes.Register(L"{not-a-clsid}", REG_SZ, DllOf(kA));
  auto missingDll = Menu(kA, 1);
  fakes.Add(missingDll, /*install=*/false);
  auto noExport = Menu(kB, 1);
  fakes.Add(noExport);
  machine.Modules().RemoveExport(noExport.path, "DllGetClassObject");
  auto noFactory = Menu(kC, 1);
  noFactory.noFactory = true;
  fakes.Add(noFactory);
  auto failingCreation = Menu(kD, 1);
  failingCreation.createResult = E_OUTOFMEMORY;
  fakes.Add(failingCreation);
  fakes.Register(L"{66666666-0000-0000-0000-000000000006}", REG_DWORD, L"");
  fakes.Register(std::wstring(300, L'7'), REG_SZ, DllOf(kA));  // sorts before the good one
  auto good = Menu(L"{88888888-0000-0000-0000-000000000008}", 1);
  fakes.Add(good);
  LoadAll();

  ASSERT_EQ(plugins->Host().MenuPlugins().size(), 1u);
  EXPECT_EQ(plugins->Host().LibraryCount(), 1u);
  BuildMenu();
  plugins->ExecTrayMenuItem(20000);
  EXPECT_EQ(Executed(), (std::vector<std::wstring>{good.clsid + L"@20000"}));
  // Nothing of the failed ones stays loaded.
  for (const auto& path : {noExport.path, noFactory.path, failingCreation.path})
    EXPECT_FALSE(fakes.DllLoaded(path)) << std::string(path.begin(), path.end());
  EXPECT_TRUE(fakes.DllLoaded(good.path));
}

TEST_F(AgentPluginsTest, PluginsOfNoKeptRoleAreReleasedBeforeTheirDllIsFreed) {
  FakePluginDesc aware = Plain(kA), refusing = Plain(kB), subscriber = Plain(kC);
  aware.hostAware = true;
  refusing.subscriber = subscriber.subscriber = true;
  refusing.subscribeResult = E_FAIL;
  fakes.Add(aware);
  fakes.Add(refusing);
  fakes.Add(subscriber);
  LoadAll();

  EXPECT_EQ(fakes.EventsOf("sethost").size(), 1u);
  EXPECT_EQ(fakes.EventsOf("released"),
            (std::vector<PluginEvent>{{kA, "released", 0, S_OK, true}, {kB, "released", 0, S_OK, true}}));
  EXPECT_FALSE(fakes.DllLoaded(aware.path));
  EXPECT_FALSE(fakes.DllLoaded(refusing.path));
  EXPECT_TRUE(fakes.DllLoaded(subscriber.path));
  EXPECT_EQ(plugins->Host().SubscriberCount(), 1u);
  EXPECT_EQ(plugins->Host().LibraryCount(), 1u);

  plugins->UnLoad();
  EXPECT_EQ(plugins->Host().SubscriberCount(), 0u);
  EXPECT_EQ(fakes.live.load(), 0);
}

TEST_F(AgentPluginsTest, TheMenuDoesNotWaitForALoaderBlockedInAPlugin) {
  gate = proc->Kernel().CreateEventW(nullptr, TRUE, FALSE, nullptr);
  auto blocked = Menu(kB, 2);
  blocked.createGate = gate;
  fakes.Add(Menu(kA, 1));
  fakes.Add(blocked);
  plugins->Load();
  // The first one is published before the second's creation returns.
  while (plugins->Host().MenuPlugins().empty()) machine.RunUntilIdle();
  EXPECT_EQ(BuildMenu(), (std::pair<UINT, UINT>{20000, 20001}));

  proc->Kernel().SetEvent(gate);
  machine.RunUntilIdle();
  EXPECT_EQ(BuildMenu(), (std::pair<UINT, UINT>{20000, 20003}));
}

// ---- The host faces ----------------------------------------------------------------------------

TEST_F(AgentPluginsTest, NotificationsHonourQuietTimeAndReadNullStringsAsEmpty) {
  IVDNXTrayNotify& host = *plugins;
  window->state = QUNS_QUIET_TIME;
  EXPECT_EQ(host.ShowNotification(L"T", L"M", 0x80 | 0x1, 5, nullptr), E_ACCESSDENIED);
  EXPECT_TRUE(log->shown.empty());
  EXPECT_EQ(host.ShowNotification(L"T", L"M", 0x1, 5, nullptr), S_OK);
  window->state = QUNS_ACCEPTS_NOTIFICATIONS;
  EXPECT_EQ(host.ShowNotification(nullptr, nullptr, 0x80, 6, nullptr), S_OK);
  EXPECT_EQ(log->shown, (std::vector<Shown>{{L"T", L"M", 0x1, 25000, 5}, {L"", L"", 0x80, 25000, 6}}));
}

TEST_F(AgentPluginsTest, OpenConsoleBuildsItsArgumentsAndRefusesTheReservedId) {
  IVDNXPluginHost& host = *plugins;
  EXPECT_EQ(host.OpenConsole(0xFFFF, L"Cmd", 0, L"p"), static_cast<HRESULT>(0x80070032L));
  EXPECT_EQ(host.OpenConsole(3, L"Cmd", 0, L"a b"), S_OK);
  EXPECT_EQ(host.OpenConsole(3, L"Cmd", 0, L""), S_OK);
  EXPECT_EQ(host.OpenConsole(3, L"Cmd", 0, nullptr), S_OK);
  EXPECT_EQ(host.OpenConsole(3, nullptr, 0, L"ignored"), S_OK);
  window->launchResult = false;
  EXPECT_EQ(host.OpenConsole(3, L"X", 0, nullptr), E_FAIL);
  EXPECT_EQ(log->launches, (std::vector<std::wstring>{L"1:Cmd /Parameters:a b", L"1:Cmd", L"1:Cmd",
                                                      L"1:", L"1:X"}));
  EXPECT_EQ(log->focus, 5);
}

TEST_F(AgentPluginsTest, BothFacesShareOneIdentityAndAnswerNothingElse) {
  void* unknown = nullptr;
  void* notify = nullptr;
  void* hostFace = nullptr;
  void* other = reinterpret_cast<void*>(1);
  ASSERT_EQ(plugins->QueryInterface(IID_IUnknown, &unknown), S_OK);
  ASSERT_EQ(plugins->QueryInterface(IID_IVDNXTrayNotify, &notify), S_OK);
  ASSERT_EQ(static_cast<IVDNXTrayNotify*>(notify)->QueryInterface(IID_IVDNXPluginHost, &hostFace), S_OK);
  EXPECT_EQ(unknown, notify);
  EXPECT_NE(hostFace, notify);
  void* back = nullptr;
  ASSERT_EQ(static_cast<IVDNXPluginHost*>(hostFace)->QueryInterface(IID_IUnknown, &back), S_OK);
  EXPECT_EQ(back, unknown);
  EXPECT_EQ(plugins->QueryInterface(IID_IClassFactory, &other), E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);
  for (void* p : {unknown, notify, back}) static_cast<IVDNXTrayNotify*>(p)->Release();
  static_cast<IVDNXPluginHost*>(hostFace)->Release();
}

TEST_F(AgentPluginsTest, APluginNotifiesWhileLoading) {
  auto notifying = Menu(kA, 1);
  notifying.hostAware = true;
  notifying.notifyAtSetHost = true;
  fakes.Add(notifying);
  LoadAll();
  EXPECT_EQ(fakes.EventsOf("notify"), (std::vector<PluginEvent>{{kA, "notify", 0, S_OK, false}}));
  EXPECT_EQ(log->shown, (std::vector<Shown>{{L"From", kA, 0, 25000, 7}}));
}

// ---- Unloading ---------------------------------------------------------------------------------

TEST_F(AgentPluginsTest, UnloadGivesUpOnABlockedLoaderWhichThenTouchesNothing) {
  auto blocked = Menu(kA, 2);
  blocked.hostAware = true;
  blocked.notifyAtSetHost = true;
  LoadBlockedIn(blocked);

  const ULONGLONG before = machine.GetClock().NowMs();
  plugins->UnLoad();
  EXPECT_EQ(machine.GetClock().NowMs() - before, 2000u);
  EXPECT_FALSE(plugins->LoaderRunning());
  // The window goes, then the plug-in's creation returns.
  plugins.reset();
  window.reset();
  proc->Kernel().SetEvent(gate);
  machine.RunUntilIdle();

  EXPECT_EQ(fakes.EventsOf("notify"),
            (std::vector<PluginEvent>{{kA, "notify", 0, kPluginHostGone, false}}));
  EXPECT_EQ(fakes.EventsOf("released"), (std::vector<PluginEvent>{{kA, "released", 0, S_OK, true}}));
  EXPECT_FALSE(fakes.DllLoaded(blocked.path));
  EXPECT_EQ(fakes.live.load(), 0);
  EXPECT_TRUE(log->shown.empty());
  EXPECT_EQ(log->callsAfterGone, 0);
}

TEST_F(AgentPluginsTest, UnloadLeavesTheMessageLoopsQuitInPlace) {
  LoadBlockedIn(Menu(kA, 1));

  proc->Ui().PostQuitMessage(3);
  const ULONGLONG before = machine.GetClock().NowMs();
  plugins->UnLoad();
  EXPECT_EQ(machine.GetClock().NowMs() - before, 2000u);
  MSG msg{};
  ASSERT_TRUE(proc->Ui().PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(msg.wParam, 3u);
  proc->Kernel().SetEvent(gate);
  machine.RunUntilIdle();
  EXPECT_EQ(fakes.live.load(), 0);
}

TEST_F(AgentPluginsTest, UnloadReleasesEveryPluginAndRefusesLaterCalls) {
  auto both = Menu(kA, 1);
  both.subscriber = true;
  fakes.Add(both);
  LoadAll();
  BuildMenu();
  plugins->UnLoad();
  EXPECT_EQ(fakes.live.load(), 0);
  EXPECT_TRUE(plugins->Host().MenuPlugins().empty());
  EXPECT_EQ(plugins->ShowNotification(L"T", L"M", 0, 1, nullptr), kPluginHostGone);
  EXPECT_EQ(plugins->OpenConsole(1, L"C", 0, nullptr), kPluginHostGone);
  EXPECT_EQ(BuildMenu(), (std::pair<UINT, UINT>{20000, 20000}));
  plugins->Load();  // no second load after the end
  EXPECT_FALSE(plugins->LoaderRunning());
  EXPECT_TRUE(log->shown.empty());
}

}  // namespace
