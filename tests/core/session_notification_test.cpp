// The main window's session-change registration: made at creation, undone at destruction
// only when it was made.
#include "agent_fixture.h"
#include "platform/sim/session_manager.h"

namespace {

TEST_F(AgentWindowTest, TheWindowRegisteredAtCreationUnregistersOnceWhenDestroyed) {
  const HWND h = window->m_hWnd;
  EXPECT_TRUE(machine.Sessions().IsRegistered(h));
  // (The machine has no authentication library: settings reads trace its absence.)
  for (const auto& e : sink.Texts('E'))
    EXPECT_EQ(e.find("WTSRegisterSessionNotification"), std::string::npos) << e;
  // The registration is live: a lock of the session reaches the window.
  machine.Sessions().Lock(1);
  machine.RunUntilIdle();
  EXPECT_TRUE(sink.Contains('>', "CVdAgentMain::OnSessionChange"));

  window->DestroyWindow();
  EXPECT_EQ(machine.Sessions().UnregisterCalls(h), 1);
  EXPECT_FALSE(machine.Sessions().IsRegistered(h));
}

// The remote desktop services are not up yet when the window is created.
class NoNotificationServiceTest : public AgentWindowTest {
 protected:
  NoNotificationServiceTest() { machine.Sessions().SetNotificationServiceRunning(false); }
};

TEST_F(NoNotificationServiceTest, AFailedRegistrationIsTracedAndNotUndoneAtDestruction) {
  const HWND h = window->m_hWnd;
  EXPECT_FALSE(machine.Sessions().IsRegistered(h));
  // HRESULT_FROM_WIN32(RPC_S_INVALID_BINDING), 0x800706A6.
  EXPECT_TRUE(sink.Contains('E', "-2147023194 WTSRegisterSessionNotification"));
  // The rest of the start went on: the tray handler saw WM_CREATE too.
  EXPECT_TRUE(sink.Contains('>', H("CTrayIconHandler", "OnCreate")));

  // Even once the service runs, nothing that was never registered is unregistered.
  machine.Sessions().SetNotificationServiceRunning(true);
  window->DestroyWindow();
  EXPECT_TRUE(sink.Contains('>', "CVdAgentMain::OnDestroy"));
  EXPECT_EQ(machine.Sessions().UnregisterCalls(h), 0);
}

}  // namespace
