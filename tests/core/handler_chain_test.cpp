// Who receives which event, in which order, and who consumes it.

#include "agent_fixture.h"
#include "platform/sim/desktop.h"
#include "platform/sim/process_shell.h"
#include "platform/sim/registry_store.h"
#include "platform/sim/session_manager.h"
#include "platform/sim/window_manager.h"
#include "suite_install.h"

namespace {

using Names = std::vector<std::string>;

TEST_F(AgentWindowTest, CreateRunsTheWindowThenTheFingerprintHandlerThenTheTray) {
  // SetUp created the window; look at what WM_CREATE reached (the trace from the start).
  Names create;
  for (auto& r : sink.Records())
    if (r.type == '>' && r.text.find("::OnCreate") != std::string::npos) create.push_back(r.text);
  EXPECT_EQ(create, (Names{"CVdAgentMain::OnCreate", H("CFingerprintHandler", "OnCreate"),
                           H("CTrayIconHandler", "OnCreate")}));
}

struct EventCase {
  const char* name;
  UINT msg;  // 0: a registered message, chosen by `registered`
  int registered;  // 1 VdSettingsChanged, 2 TaskbarCreated
  WPARAM wParam;
  Names receivers;
};

TEST_F(AgentWindowTest, EveryEventReachesExactlyItsReceiversInChainOrder) {
  const EventCase cases[] = {
      {"ready", core::WM_VD_READY, 0, 0,
       {H("CKeyboardHandler", "OnReady"), H("CFingerprintHandler", "OnReady"),
        H("CCardHandler", "OnReady"), H("CKwsHandler", "OnReady"),
        H("CUserSessionHandler", "OnReady"), H("CKioskHandler", "OnReady"),
        H("CPolicyHandler", "OnReady"), H("CUXHandler", "OnReady"), "CVdAgentMain::OnReady"}},
      {"session change", WM_WTSSESSION_CHANGE, 0, WTS_SESSION_LOCK,
       {H("CCardHandler", "OnSessionChange"), H("CUserSessionHandler", "OnSessionChange"),
        H("CKioskHandler", "OnSessionChange"), H("CPolicyHandler", "OnSessionChange"),
        H("CUXHandler", "OnSessionChange"), "CVdAgentMain::OnSessionChange"}},
      {"settings changed", 0, 1, 0,
       {H("CKeyboardHandler", "OnSettingsChanged"), H("CUserSessionHandler", "OnVDSettingsChanged"),
        H("CTrayIconHandler", "OnSettingsChanged")}},
      {"setting change", WM_SETTINGCHANGE, 0, 0, {H("CPolicyHandler", "OnSettingChange")}},
      {"user changed", core::WM_VD_USER_CHANGED, 0, 0,
       {H("CPolicyHandler", "OnUserChanged"), H("CUXHandler", "OnUserChanged")}},
      {"policy changed", core::WM_VD_POLICY_CHANGED, 0, 0, {H("CUXHandler", "OnPolicyChanged")}},
      {"taskbar created", 0, 2, 0, {H("CTrayIconHandler", "OnTaskbarCreated")}},
      {"colours", WM_SYSCOLORCHANGE, 0, 0, {H("CTrayIconHandler", "OnAmbientChange")}},
      {"theme", WM_THEMECHANGED, 0, 0, {H("CTrayIconHandler", "OnAmbientChange")}},
      {"hotkey", WM_HOTKEY, 0, 1,
       {H("CKeyboardHandler", "OnHotkeyMessage"), "CVdAgentMain::OnHotKey"}},
      {"query end session", WM_QUERYENDSESSION, 0, 0, {"CVdAgentMain::OnQueryEndSession"}},
      {"reader event", core::WM_VD_FINGERPRINT, 0, 5,
       {H("CFingerprintHandler", "OnFingerprintMessage")}},
      {"card event", core::WM_VD_CARD, 0, 0, {H("CCardHandler", "OnCardMessage")}},
      {"password manager", core::WM_VD_KWS, 0, 0, {H("CKwsHandler", "OnKwsMessage")}},
      {"token report", core::WM_VD_TOKEN_REPORT_FIRST + 7, 0, 0,
       {H("CUserSessionHandler", "OnTokenEnrollmentReport")}},
      {"tray callback", core::WM_VD_TRAY_CALLBACK, 0, 0, {H("CTrayIconHandler", "OnTrayMessage")}},
  };
  Entered();
  for (const auto& c : cases) {
    UINT msg = c.msg;
    if (c.registered == 1) msg = agent->Messages().vdSettingsChanged;
    if (c.registered == 2) msg = agent->Messages().taskbarCreated;
    Send(msg, c.wParam, 0);
    EXPECT_EQ(Handlers(), c.receivers) << c.name;
  }
}

TEST_F(AgentWindowTest, EndSessionDisposesOnlyWhenTheSessionEndsAndDestroyDisposesAgain) {
  Entered();
  EXPECT_EQ(Send(WM_ENDSESSION, FALSE), 0);
  Names none = Handlers();
  for (auto& n : none) EXPECT_EQ(n.find("Dispose"), std::string::npos) << n;

  Send(WM_ENDSESSION, TRUE);
  EXPECT_EQ(Handlers(),
            (Names{H("CKeyboardHandler", "Dispose"), H("CFingerprintHandler", "Dispose"),
                   H("CKwsHandler", "Dispose"), H("CUserSessionHandler", "OnEndSession"),
                   H("CKioskHandler", "OnEndSession"), H("CTrayIconHandler", "Dispose"),
                   H("CPostTaskHandler", "OnDestroy"), "CVdAgentMain::OnEndSession",
                   "CVdAgentMain::Dispose"}));
  // The window lives on after WM_ENDSESSION; destroying it disposes everything again.
  const DWORD tid = machine.CurrentThreadId();
  EXPECT_FALSE(machine.Windows().QuitPosted(tid).has_value());
  window->DestroyWindow();
  EXPECT_EQ(Handlers(),
            (Names{H("CKeyboardHandler", "Dispose"), H("CFingerprintHandler", "Dispose"),
                   H("CCardHandler", "Dispose"), H("CKwsHandler", "Dispose"),
                   H("CTrayIconHandler", "Dispose"), H("CPolicyHandler", "OnDestroy"),
                   H("CPolicyHandler", "Dispose"),
                   H("CPostTaskHandler", "OnDestroy"), "CVdAgentMain::OnDestroy",
                   "CVdAgentMain::Dispose"}));
  machine.RunUntilIdle();
  EXPECT_EQ(machine.Windows().QuitPosted(tid), 0);
}

TEST_F(AgentWindowTest, AFailedReadyReachesEveryHandlerAndThenEndsTheAgent) {
  Entered();
  Send(core::WM_VD_READY, 1, static_cast<LPARAM>(E_FAIL));
  const Names got = Handlers();
  ASSERT_EQ(got.size(), 9u);
  EXPECT_EQ(got.front(), H("CKeyboardHandler", "OnReady"));
  EXPECT_EQ(got.back(), "CVdAgentMain::OnReady");
  EXPECT_TRUE(sink.Contains('E', "-2147467259 OnReady"));
  machine.RunUntilIdle();
  EXPECT_EQ(machine.Windows().QuitPosted(machine.CurrentThreadId()), 0);
}

TEST_F(AgentWindowTest, PluginBroadcastIsConsumedForEveryCodeAndOnlyEightActs) {
  const UINT vdnx = agent->Messages().vdnxBroadcast;
  Entered();
  for (WPARAM code : {1, 5, 10, 11}) Send(vdnx, code, 42);
  EXPECT_TRUE(Handlers().empty());
  Send(vdnx, core::kVdnxKioskUserIdentified, 42);
  EXPECT_EQ(Handlers(), (Names{"CVdAgentMain::OnVDKioskUserIdentified"}));
}

// Task identifiers start at 10000 (TaskQueueTest); 9999 is the queue's too after a wrap.
TEST_F(AgentWindowTest, TimersBelow9999AreLeftAloneAndAStaleTaskTickRunsNothing) {
  Entered();
  Send(WM_TIMER, 9998);
  EXPECT_TRUE(Entered().empty());  // not the task queue's
  Send(WM_TIMER, 9999);            // the queue's, but no such task: a stale tick
  EXPECT_EQ(Entered(), (Names{}));
}

// The suite is installed (its variables are set before the agent's process starts).
class WindowCommandsTest : public AgentWindowTest {
 protected:
  WindowCommandsTest() {
    suite_test::InstallSuite(machine);
    suite_test::SetInstalledProduct(machine, L"Lumera Workstation");
  }
};

// About and help have tests of their own (LaunchTest, HelpCommandTest).
TEST_F(WindowCommandsTest, WindowCommandsOpenTheConsoleLockAndHideTheIcon) {
  Send(WM_COMMAND, core::ID_OPEN_CONSOLE);
  const auto launched = sim::LaunchedPrograms(machine.GetDesktop(), 1);
  ASSERT_EQ(launched.size(), 1u);
  EXPECT_EQ(launched[0].path, suite_test::kLumeraConsole);
  EXPECT_EQ(launched[0].arguments, L"");

  Send(WM_COMMAND, core::ID_LOCK_WORKSTATION);
  EXPECT_EQ(machine.GetDesktop().LockCount(1), 1);

  Send(WM_COMMAND, core::ID_HIDE_TRAY_ICON);
  const std::wstring hkcu = L"HKU\\" + machine.Sessions().UserSid(1);
  EXPECT_EQ(machine.Registry().GetDword(hkcu + L"\\SOFTWARE\\Veridane\\Applications\\KwAppSettings",
                                        L"ShowTaskbarIcon"),
            0u);
}

TEST_F(AgentWindowTest, BuiltInCommandsComeBeforeThePluginRangeAndOthersAreNotConsumed) {
  window->m_nFirstPluginCommand = 20000;
  window->m_nLastPluginCommand = 20005;
  Entered();
  EXPECT_EQ(Send(WM_COMMAND, core::ID_LOCK_WORKSTATION), 1);
  EXPECT_EQ(Entered(), (Names{"CVdAgentMain::OnLockWorkstation"}));
  Send(WM_COMMAND, 20003);
  EXPECT_EQ(Entered(), (Names{"CVdAgentMain::OnPluginCommand", "CAgentPlugins::ExecTrayMenuItem"}));
  Send(WM_COMMAND, 20006);
  EXPECT_TRUE(Entered().empty());
}

}  // namespace
