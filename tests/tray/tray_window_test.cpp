// The main window routes the shell's callbacks and its broadcasts to the tray logic.
#include "core/messages.h"
#include "tests/core/agent_fixture.h"
#include "tests/tray/fake_toast_library.h"

namespace {

TEST_F(AgentWindowTest, TheShellsCallbackReachesTheTrayAndARightClickRunsTheMenuTask) {
  Entered();
  Send(core::WM_VD_TRAY_CALLBACK, 1, WM_RBUTTONUP);
  EXPECT_FALSE(window->TrayLogic().IsMenuOpen());
  machine.RunUntilIdle();
  const auto scopes = Entered();
  EXPECT_NE(std::find(scopes.begin(), scopes.end(),
                      "CTrayIconHandler<class CVdAgentMain>::ShowMenu::Task"),
            scopes.end());
  EXPECT_TRUE(sink.Contains('U', "Menu destroyed"));
  EXPECT_FALSE(window->TrayLogic().IsMenuOpen());
}

TEST_F(AgentWindowTest, AfterDestroyTheTrayIgnoresItsCallbacks) {
  auto& tray = window->TrayLogic();
  window->DestroyWindow();
  EXPECT_TRUE(tray.IsDisposed());
  tray.OnTrayMessage(WM_LBUTTONUP);
  EXPECT_EQ(tray.PendingClick(), 0u);
}

TEST_F(AgentWindowTest, AnEndOfSessionSomeoneRefusedLeavesTheTrayAlone) {
  Send(WM_ENDSESSION, FALSE, 0);
  EXPECT_FALSE(window->TrayLogic().IsDisposed());
  Send(WM_ENDSESSION, TRUE, 0);
  EXPECT_TRUE(window->TrayLogic().IsDisposed());
}

TEST_F(AgentWindowTest, AToastIsShownFromTheWindowsQueueAndAForgedWakeUpHandsItNothing) {
  traytest::FakeToastLibrary library(machine);
  ASSERT_TRUE(window->TrayLogic().Notify(L"t", L"m", L"OpenConsole", nullptr, 0, 0, 5));
  EXPECT_TRUE(library.Calls().empty()) << "shown on the window's turn, not in the caller";
  machine.RunUntilIdle();
  ASSERT_EQ(library.Calls().size(), 1u);
  EXPECT_EQ(library.Calls()[0].param, L"OpenConsole");

  // Another program of the session posts the wake-up with a pointer of its choosing.
  auto other = machine.CreateProcess({});
  {
    sim::CurrentProcessScope in(other.get());
    EXPECT_TRUE(other->Ui().PostMessageW(window->m_hWnd, core::WM_VD_SHOW_TOAST, 0x1234,
                                         static_cast<LPARAM>(0xDEADBEEF)));
  }
  machine.RunUntilIdle();
  EXPECT_EQ(library.Calls().size(), 1u);
  EXPECT_EQ(library.Complete(0, 0), E_INVALIDARG) << "no callback was given";
}

}  // namespace
