// The suite's stand-ins reached the way the agent reaches them: paths from the registry
// views a 32-bit agent sees, libraries loaded by path, entry points called, and what the
// simulated desktop and the stand-ins' counters show afterwards.
#include <gtest/gtest.h>

#include "platform/sim/desktop.h"
#include "standins/suite/sim_install.h"
#include "support/registry_read.h"
#include "tests/auth/auth_test_util.h"
#include "tests/standins/standin_exports.h"

namespace {

using authtest::Posted;
using authtest::RecordingWindow;
using suite_standin::SuiteDescription;

using standintest::Export;

class SuiteTest : public authtest::SimAgentTest {
 protected:
  void InstallSuite(const std::string& json = "{}") {
    m_suite = suite_standin::InstallSuiteStandIns(m_machine, SuiteDescription::FromJson(json));
  }
  std::optional<std::wstring> AgentString(HKEY root, const wchar_t* path, const wchar_t* name) {
    return support::ReadString(Agent().Registry(), root, path, name, 0, MAX_PATH);
  }
  HMODULE Load(const std::wstring& path) {
    return Agent().Modules().LoadLibraryExW(path.c_str(), nullptr, 0);
  }
  std::vector<std::wstring> Desktop(const wchar_t* kind) {
    return m_machine.GetDesktop().Texts(1, kind);
  }
  void TearDown() override {
    m_suite.reset();
    m_vdfp.reset();
  }

  std::unique_ptr<suite_standin::SimSuiteInstallation> m_suite;
};

// ---- Sounds -------------------------------------------------------------------------------

TEST_F(SuiteTest, EventSoundsShowInTheCallersSessionByName) {
  InstallSuite();
  HMODULE lib = Load(L"C:\\Windows\\system32\\VDNXUtils.dll");
  ASSERT_NE(lib, nullptr);
  auto play = Export<PFN_VDPlayEventSound>(Agent(), lib, kVDPlayEventSoundExport);
  ASSERT_NE(play, nullptr);
  for (DWORD e : {1u, 2u, 3u, 9u}) EXPECT_EQ(play(e), S_OK);
  EXPECT_EQ(Desktop(suite_standin::kSoundKind),
            (std::vector<std::wstring>{L"success", L"failure", L"quality", L"9"}));
  auto other = m_machine.CreateProcess({.sessionId = 2});
  sim::CurrentProcessScope scope(other.get());
  EXPECT_EQ(play(1), S_OK);
  EXPECT_EQ(m_machine.GetDesktop().Texts(2, suite_standin::kSoundKind),
            std::vector<std::wstring>{L"success"});
}

TEST_F(SuiteTest, PiecesLeftOutAreNotThere) {
  InstallSuite(R"({"sounds": false, "fastConnect": false, "fillIn": {"installed": false},
                  "passwordManager": {"installed": false}})");
  EXPECT_EQ(Load(L"C:\\Windows\\system32\\VDNXUtils.dll"), nullptr);
  EXPECT_FALSE(AgentString(HKEY_LOCAL_MACHINE, kVDKwsPluginKey, L""));
  EXPECT_FALSE(AgentString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Veridane\\Applications", L"BinDir"));
  EXPECT_FALSE(AgentString(HKEY_CLASSES_ROOT,
                           L"CLSID\\{FA676DEB-D10A-4D84-925D-66B4C232D571}\\InprocServer32", L""));
  EXPECT_EQ(m_suite->PasswordManager(), nullptr);
}

TEST_F(SuiteTest, UninstallingRemovesWhatTheInstallerWrote) {
  InstallSuite();
  m_suite.reset();
  EXPECT_FALSE(AgentString(HKEY_LOCAL_MACHINE, kVDKwsPluginKey, L""));
  EXPECT_FALSE(AgentString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Veridane\\Applications", L"BinDir"));
  EXPECT_EQ(Load(L"C:\\Windows\\system32\\VDNXUtils.dll"), nullptr);
  InstallSuite();  // and a second installation is then allowed
}

// ---- Terminal-services client ------------------------------------------------------------

TEST_F(SuiteTest, TheTerminalServicesClientCountsItsRegistrationsAndAnswersAsDescribed) {
  InstallSuite(R"({"tsClient": {"registerResult": "0x80070005"}})");
  // By name, as the agent loads it.
  HMODULE lib = Load(L"VDTSClnt.dll");
  ASSERT_NE(lib, nullptr);
  auto reg = Export<HRESULT(WINAPI*)()>(Agent(), lib, "DllRegisterServer");
  ASSERT_NE(reg, nullptr);
  EXPECT_EQ(reg(), E_ACCESSDENIED);
  EXPECT_EQ(reg(), E_ACCESSDENIED);
  EXPECT_EQ(m_suite->TsClientRegistrations(), 2);
  EXPECT_EQ(Desktop(suite_standin::kTsClientKind),
            (std::vector<std::wstring>{L"DllRegisterServer 0x80070005",
                                       L"DllRegisterServer 0x80070005"}));
  Agent().Modules().FreeLibrary(lib);
  m_suite.reset();
  EXPECT_EQ(Load(L"VDTSClnt.dll"), nullptr) << "gone with the installation";
  InstallSuite(R"({"tsClient": {"installed": false}})");
  EXPECT_EQ(Load(L"VDTSClnt.dll"), nullptr);
}

// ---- Fast connect -------------------------------------------------------------------------

TEST_F(SuiteTest, FastConnectFilesAreInTheBinariesFolderOfBothViews) {
  InstallSuite();
  const auto bin = AgentString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Veridane\\Applications", L"BinDir");
  ASSERT_TRUE(bin);
  EXPECT_EQ(*bin, m_suite->BinDir());
  for (const wchar_t* f : {kVDFastConnectDll, kVDRunDllExe}) {
    const DWORD a = Agent().Kernel().GetFileAttributesW((*bin + L"\\" + f).c_str());
    EXPECT_NE(a, INVALID_FILE_ATTRIBUTES) << f;
  }
  // A 64-bit agent reads the other view.
  EXPECT_EQ(
      AgentString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Veridane\\Applications", L"BinDir").value_or(L""),
      support::ReadString(Agent().Registry(), HKEY_LOCAL_MACHINE,
                          L"SOFTWARE\\Veridane\\Applications", L"BinDir", KEY_WOW64_64KEY)
          .value_or(L"-"));
}

// ---- The fill-in component ------------------------------------------------------------------

class FillInTest : public SuiteTest {
 protected:
  void Start(const std::string& json) {
    Install();
    InstallSuite(json);
    const auto path = AgentString(HKEY_LOCAL_MACHINE, kVDKwsPluginKey, L"");
    ASSERT_TRUE(path);
    HMODULE lib = Load(*path);
    ASSERT_NE(lib, nullptr);
    m_init = Export<PFN_VDKWSInit>(Agent(), lib, "VDKWSInit");
    m_command = Export<PFN_VDKWSCommand>(Agent(), lib, "VDKWSCommand");
    m_terminate = Export<PFN_VDKWSTerminate>(Agent(), lib, "VDKWSTerminate");
    ASSERT_TRUE(m_init && m_command && m_terminate);
    ASSERT_EQ(m_init(m_window.hwnd(), kVDKwsReplyMessage), S_OK);
  }
  // An authentication operation of the library, as the quick action hands it over.
  ULONG_PTR Authentication() {
    HMODULE vdfp = Load(L"C:\\Windows\\system32\\VDFPApi.dll");
    using PfnInit = HRESULT(WINAPI*)();
    using PfnCreate = HRESULT(WINAPI*)(LPCWSTR, DWORD, HVDFPAUTHENTICATION*);
    EXPECT_EQ(Export<PfnInit>(Agent(), vdfp, "VDFPInit")(), S_OK);
    HVDFPAUTHENTICATION h = nullptr;
    EXPECT_EQ(Export<PfnCreate>(Agent(), vdfp, "VDFPCreateAuthentication")(L"VDSIM-PC\\alice",
                                                                           VDFP_NAME_SAM, &h),
              S_OK);
    return reinterpret_cast<ULONG_PTR>(h);
  }

  RecordingWindow m_window{Agent(), kVDKwsReplyMessage, kVDKwsReplyMessage};
  PFN_VDKWSInit m_init = nullptr;
  PFN_VDKWSCommand m_command = nullptr;
  PFN_VDKWSTerminate m_terminate = nullptr;
};

TEST_F(FillInTest, CommandsAnswerAsDescribedAndDefaultToSuccessWithNoResult) {
  Start(
      R"({"fillIn": {"commands": {"5": {"result": 7}, "6": {"hr": "0x80004005", "result": 9}}}})");
  DWORD result = 0xCCCCCCCC;
  EXPECT_EQ(m_command(1, 0, &result), S_OK);
  EXPECT_EQ(result, 0u);
  EXPECT_EQ(m_command(5, 0x20, &result), S_OK);
  EXPECT_EQ(result, 7u);
  result = 0xCCCCCCCC;
  EXPECT_EQ(m_command(6, 0, &result), E_FAIL);
  EXPECT_EQ(result, 0u) << "a failed command gives no result";
  EXPECT_EQ(m_command(1, 0, nullptr), E_POINTER);
  EXPECT_EQ(Desktop(suite_standin::kFillInKind),
            (std::vector<std::wstring>{L"init message 1424", L"command 1 param 0x0",
                                       L"command 5 param 0x20", L"command 6 param 0x0"}));
  m_machine.RunUntilIdle();
  EXPECT_EQ(m_window.Take(), std::vector<Posted>{}) << "no reply was described";
}

TEST_F(FillInTest, CommandWithAnAuthenticationRepliesLaterAndGivesTheHandleBack) {
  Start(R"({"fillIn": {"commands": {"100": {"result": 1, "reply": [1, 1], "replyAfterMs": 50}}}})");
  const ULONG_PTR h = Authentication();
  ASSERT_EQ(Host().OutstandingAuthentications(), 1u);
  DWORD result = 0;
  EXPECT_EQ(m_command(100, h, &result), S_OK);
  EXPECT_EQ(result, 1u);
  auto c = m_suite->FillIn(Agent().Pid());
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->HandlesReceived(), 1u);
  EXPECT_EQ(c->HandlesReleased(), 1u);
  EXPECT_EQ(Host().OutstandingAuthentications(), 0u) << "the component owns the handle";

  m_machine.AdvanceBy(49);
  EXPECT_EQ(m_window.Take(), std::vector<Posted>{});
  m_machine.AdvanceBy(1);
  EXPECT_EQ(m_window.Take(), (std::vector<Posted>{{kVDKwsReplyMessage, 1, 1}}));
}

TEST_F(FillInTest, RepliesAtWillAndNoneAfterTerminate) {
  Start(R"({"fillIn": {"commands": {"100": {"reply": [2, 1], "replyAfterMs": 100}}}})");
  EXPECT_EQ(m_suite->PostReply(2, 2), 1);
  m_machine.RunUntilIdle();
  EXPECT_EQ(m_window.Take(), (std::vector<Posted>{{kVDKwsReplyMessage, 2, 2}}));

  DWORD result = 0;
  EXPECT_EQ(m_command(100, 0, &result), S_OK);  // no handle: nothing to give back
  EXPECT_EQ(m_suite->FillIn(Agent().Pid())->HandlesReceived(), 0u);
  m_terminate();
  m_machine.AdvanceBy(200);
  EXPECT_EQ(m_window.Take(), std::vector<Posted>{}) << "the reply was due after terminate";
  EXPECT_EQ(m_suite->PostReply(1, 1), 0);
  EXPECT_EQ(Desktop(suite_standin::kFillInKind).back(), L"terminate");
}

TEST_F(FillInTest, EachProcessHasItsOwnComponent) {
  Start("{}");
  auto other = m_machine.CreateProcess({.sessionId = 1});
  {
    sim::CurrentProcessScope scope(other.get());
    DWORD result = 0;
    EXPECT_EQ(m_command(3, 0, &result), S_OK);
  }
  EXPECT_EQ(m_suite->FillIn(other->Pid())->Window(), nullptr) << "never initialised there";
  EXPECT_EQ(m_suite->FillIn(Agent().Pid())->Window(), m_window.hwnd());
  EXPECT_EQ(m_suite->PostReply(1, 0, other->Pid()), 0);
  EXPECT_EQ(m_suite->PostReply(1, 0, Agent().Pid()), 1);
}

// ---- The password-manager object ------------------------------------------------------------

class PasswordManagerTest : public SuiteTest {
 protected:
  // The object, created as COM would: the registered server's class factory.
  platform::ComPtr<IVDPasswordManager> Create() {
    const auto path = AgentString(
        HKEY_CLASSES_ROOT, L"CLSID\\{FA676DEB-D10A-4D84-925D-66B4C232D571}\\InprocServer32", L"");
    EXPECT_TRUE(path);
    platform::ComPtr<IVDPasswordManager> pm;
    if (!path) return pm;
    HMODULE lib = Load(*path);
    auto get = Export<PFN_DLLGETCLASSOBJECT>(Agent(), lib, "DllGetClassObject");
    EXPECT_NE(get, nullptr);
    if (!get) return pm;
    platform::ComPtr<IClassFactory> factory;
    EXPECT_EQ(get(CLSID_VDPasswordManager, IID_IClassFactory, factory.put_void()), S_OK);
    if (factory) {
      EXPECT_EQ(factory->CreateInstance(nullptr, IID_IVDPasswordManager, pm.put_void()), S_OK);
    }
    return pm;
  }
};

TEST_F(PasswordManagerTest, CallsAreRecordedAndTheObjectsAllGoAway) {
  InstallSuite(R"({"passwordManager": {"trainingResult": "0x80070005"}})");
  {
    auto pm = Create();
    ASSERT_TRUE(pm);
    EXPECT_EQ(pm->ShowMiniDashboard(1), S_OK);
    EXPECT_EQ(pm->InitUserTrainingTool(), E_ACCESSDENIED);
    EXPECT_EQ(pm->Reserved3(), E_NOTIMPL);
  }
  EXPECT_EQ(m_suite->PasswordManager()->LiveObjects(), 0);
  EXPECT_EQ(Desktop(suite_standin::kPasswordManagerKind),
            (std::vector<std::wstring>{L"mini dashboard opened trained 1", L"mini dashboard closed",
                                       L"training tool"}));
}

TEST_F(PasswordManagerTest, AFailingDashboardNeverOpensAndEachCallFailsOnItsOwn) {
  InstallSuite(R"({"passwordManager": {"showResult": "0x80004005", "dashboardOpenMs": 5000}})");
  auto pm = Create();
  ASSERT_TRUE(pm);
  const ULONGLONG start = m_machine.GetClock().NowMs();
  EXPECT_EQ(pm->ShowMiniDashboard(1), E_FAIL);
  EXPECT_EQ(m_machine.GetClock().NowMs(), start) << "no time spent in a dashboard";
  EXPECT_EQ(pm->InitUserTrainingTool(), S_OK);
  // Steered while installed: the dashboard opens again, the training tool fails instead.
  m_suite->PasswordManager()->SetShowResult(S_OK);
  m_suite->PasswordManager()->SetDashboardOpenMs(0);
  m_suite->PasswordManager()->SetTrainingResult(E_ACCESSDENIED);
  EXPECT_EQ(pm->ShowMiniDashboard(0), S_OK);
  EXPECT_EQ(pm->InitUserTrainingTool(), E_ACCESSDENIED);
  EXPECT_EQ(Desktop(suite_standin::kPasswordManagerKind),
            (std::vector<std::wstring>{L"mini dashboard failed 0x80004005", L"training tool",
                                       L"mini dashboard opened trained 0", L"mini dashboard closed",
                                       L"training tool"}));
}

TEST_F(PasswordManagerTest, ClosingEndsTheOpenDashboardAtOnceAndOnlyThatOne) {
  InstallSuite(R"({"passwordManager": {"dashboardOpenMs": 60000}})");
  auto* server = m_suite->PasswordManager();
  EXPECT_FALSE(server->CloseDashboard()) << "nothing open yet";
  auto pm = Create();
  ASSERT_TRUE(pm);
  RecordingWindow w(Agent(), WM_USER, WM_USER + 10);
  auto& clock = m_machine.GetClock();
  const ULONGLONG start = clock.NowMs();
  bool closedInside = false;
  // The user closes it 1.5 s in; a message that arrives later runs after the call returned.
  clock.ScheduleAt(start + 1500,
                   [server, &closedInside] { closedInside = server->CloseDashboard(); });
  sim::Process* agent = &Agent();
  const HWND hwnd = w.hwnd();
  clock.ScheduleAt(start + 2000,
                   [agent, hwnd] { agent->Ui().PostMessageW(hwnd, WM_USER + 3, 0, 0); });
  EXPECT_EQ(pm->ShowMiniDashboard(1), S_OK);
  EXPECT_TRUE(closedInside);
  EXPECT_EQ(clock.NowMs(), start + 1500);
  EXPECT_TRUE(w.Take().empty());
  EXPECT_EQ(server->OpenDashboards(), 0);

  // The next one stays open for its whole time: the earlier close is spent.
  m_machine.GetClock().AdvanceBy(1000);
  w.Take();
  server->SetDashboardOpenMs(3000);
  const ULONGLONG second = clock.NowMs();
  EXPECT_EQ(pm->ShowMiniDashboard(1), S_OK);
  EXPECT_EQ(clock.NowMs(), second + 3000);
  EXPECT_EQ(
      Desktop(suite_standin::kPasswordManagerKind),
      (std::vector<std::wstring>{L"mini dashboard opened trained 1", L"mini dashboard closed",
                                 L"mini dashboard opened trained 1", L"mini dashboard closed"}));
}

TEST_F(PasswordManagerTest, AQuitMessageEndsTheDashboardAndIsLeftForTheCallersLoop) {
  InstallSuite(R"({"passwordManager": {"dashboardOpenMs": 60000}})");
  auto pm = Create();
  ASSERT_TRUE(pm);
  auto& clock = m_machine.GetClock();
  const ULONGLONG start = clock.NowMs();
  sim::Process* agent = &Agent();
  clock.ScheduleAt(start + 700, [agent] { agent->Ui().PostQuitMessage(3); });
  EXPECT_EQ(pm->ShowMiniDashboard(0), S_OK);
  EXPECT_EQ(clock.NowMs(), start + 700);
  MSG msg{};
  ASSERT_TRUE(Agent().Ui().PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(msg.wParam, 3u);
}

TEST_F(PasswordManagerTest, AnOpenDashboardKeepsTheCallersMessagesRunning) {
  InstallSuite(R"({"passwordManager": {"dashboardOpenMs": 5000}})");
  RecordingWindow w(Agent(), WM_USER, WM_USER + 10);
  auto pm = Create();
  ASSERT_TRUE(pm);
  // One message waiting when it opens, one a second later from elsewhere.
  Agent().Ui().PostMessageW(w.hwnd(), WM_USER + 1, 0, 0);
  auto& clock = m_machine.GetClock();
  const ULONGLONG start = clock.NowMs();
  sim::Process* agent = &Agent();
  const HWND hwnd = w.hwnd();
  clock.ScheduleAt(start + 1000,
                   [agent, hwnd] { agent->Ui().PostMessageW(hwnd, WM_USER + 2, 0, 0); });
  EXPECT_EQ(pm->ShowMiniDashboard(0), S_OK);
  EXPECT_EQ(clock.NowMs(), start + 5000);
  EXPECT_EQ(w.Take(), (std::vector<Posted>{{WM_USER + 1, 0, 0}, {WM_USER + 2, 0, 0}}))
      << "both ran while the dashboard was open";
  EXPECT_EQ(m_suite->PasswordManager()->OpenDashboards(), 0);
}

TEST_F(PasswordManagerTest, OnlyItsOwnClassAndInterface) {
  InstallSuite();
  auto pm = Create();
  ASSERT_TRUE(pm);
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(pm->QueryInterface(IID_IClassFactory, &p), E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);
  IClassFactory* f = nullptr;
  EXPECT_EQ(m_suite->PasswordManager()->GetClassObject(IID_IUnknown, IID_IClassFactory,
                                                       reinterpret_cast<void**>(&f)),
            CLASS_E_CLASSNOTAVAILABLE);
}

// ---- The description ------------------------------------------------------------------------

TEST(SuiteDescriptionTest, ReadsEveryMemberAndRefusesWhatItCannotUse) {
  const auto d = SuiteDescription::FromJson(R"({
    "fillIn": {"installed": true, "commands": {"100": {"hr": -2147467259, "result": 1,
                                                        "reply": [1, 2], "replyAfterMs": 30},
                                               "2": {"hr": 2147500037}}},
    "passwordManager": {"installed": false, "dashboardOpenMs": 250},
    "sounds": false, "fastConnect": true})");
  const auto& c = d.fillIn.commands.at(100);
  EXPECT_EQ(c.hr, E_FAIL);
  EXPECT_EQ(c.result, 1u);
  ASSERT_TRUE(c.reply);
  EXPECT_EQ(*c.reply, (suite_standin::FillInReply{1, 2, 30}));
  EXPECT_EQ(d.fillIn.commands.at(2).hr, E_FAIL) << "the unsigned reading of the same code";
  EXPECT_FALSE(d.passwordManager.installed);
  EXPECT_EQ(d.passwordManager.dashboardOpenMs, 250u);
  EXPECT_FALSE(d.sounds);

  for (const char* bad : {R"([])", R"({"sounds": 1})", R"({"fillIn": {"commands": {"x": {}}}})",
                          R"({"fillIn": {"commands": {"-1": {}}}})",
                          R"({"fillIn": {"commands": {"1": {"reply": [1]}}}})",
                          R"({"fillIn": {"commands": {"1": {"replyAfterMs": 5}}}})",
                          R"({"fillIn": {"commands": {"1": {"hr": 4294967296}}}})",
                          R"({"fillIn": {"commands": {"1": {"hr": "80004005"}}}})",
                          R"({"passwordManager": {"dashboardOpenMs": -1}})", R"({"sounds": tru})",
                          R"({"tsClient": []})", R"({"tsClient": {"registerResult": "x"}})"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(SuiteDescription::FromJson(bad), suite_standin::SuiteDescriptionError);
  }
}

}  // namespace
