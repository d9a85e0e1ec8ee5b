// The main window routes the shell's callbacks and its broadcasts to the tray logic.
#include "core/messages.h"
#include "tests/core/agent_fixture.h"

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

}  // namespace
