// The simulated sessions: identity, session-change notifications, log-off, the shell's
// tray window and the desktop record.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/sim/desktop.h"
#include "platform/sim/session_manager.h"
#include "tests/platform/sim_ui_test_util.h"

namespace {

using simtest::DeliveryLog;
using simtest::TestWindow;

constexpr wchar_t kSessionClass[] = L"Session Test Window";

std::vector<std::pair<WPARAM, LPARAM>> SessionChanges(const TestWindow& w) {
  std::vector<std::pair<WPARAM, LPARAM>> r;
  for (const auto& m : w.Of(WM_WTSSESSION_CHANGE)) r.emplace_back(m.wp, m.lp);
  return r;
}

using Changes = std::vector<std::pair<WPARAM, LPARAM>>;

class SimSessionsTest : public ::testing::Test {
 protected:
  std::unique_ptr<sim::Process> NewProcess(DWORD session) {
    auto p = m.CreateProcess({.sessionId = session});
    TestWindow::RegisterClass(*p, kSessionClass);
    return p;
  }
  // A window of `p` registered for session notifications.
  std::unique_ptr<TestWindow> Listener(sim::Process& p, DWORD flags) {
    auto w = std::make_unique<TestWindow>(p);
    w->Create(kSessionClass);
    EXPECT_TRUE(p.Sessions().WTSRegisterSessionNotification(w->hwnd(), flags));
    return w;
  }
  DWORD Bob(bool remote = true) { return sm.CreateSession({.userName = L"bob", .remote = remote}); }

  sim::Machine m;
  sim::SessionManager& sm = m.Sessions();
  sim::Desktop& desktop = m.GetDesktop();
  std::unique_ptr<sim::Process> p1 = NewProcess(1);
};

TEST_F(SimSessionsTest, TheMachineStartsWithAliceOnTheConsole) {
  const auto s = sm.Find(1);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->userName, L"alice");
  EXPECT_EQ(s->userSid.rfind(L"S-1-5-21-", 0), 0u);
  EXPECT_EQ(std::count(s->userSid.begin(), s->userSid.end(), L'-'), 7);
  EXPECT_EQ(s->State(), sim::SessionState::Active);
  EXPECT_FALSE(s->remote);
  EXPECT_EQ(sm.UserSid(1), s->userSid);
  EXPECT_NE(sm.ShellWindow(1), nullptr);
  EXPECT_EQ(p1->Sessions().WTSGetActiveConsoleSessionId(), 1u);

  // One SID per user, whatever the session.
  const DWORD again = sm.CreateSession({.userName = L"Alice", .remote = true});
  EXPECT_EQ(sm.UserSid(again), s->userSid);
  EXPECT_NE(sm.UserSid(Bob()), s->userSid);

  auto p2 = NewProcess(again);
  DWORD session = 0;
  EXPECT_TRUE(p1->Sessions().ProcessIdToSessionId(p2->Pid(), &session));
  EXPECT_EQ(session, again);
  EXPECT_FALSE(p1->Sessions().ProcessIdToSessionId(12345, &session));
  EXPECT_EQ(m.LastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_THROW(sm.CreateSession({.id = again}), std::invalid_argument);
}

TEST_F(SimSessionsTest, NotificationsReachThisSessionOrAllSessionsListeners) {
  const DWORD s2 = Bob();
  auto p2 = NewProcess(s2);
  auto mine = Listener(*p1, NOTIFY_FOR_THIS_SESSION);
  auto theirs = Listener(*p2, NOTIFY_FOR_THIS_SESSION);
  auto everything = Listener(*p2, NOTIFY_FOR_ALL_SESSIONS);
  TestWindow deaf(*p1);
  deaf.Create(kSessionClass);

  EXPECT_TRUE(sm.Lock(1));
  EXPECT_FALSE(sm.Lock(1));  // already locked: no second event
  m.RunUntilIdle();
  EXPECT_EQ(SessionChanges(*mine), (Changes{{WTS_SESSION_LOCK, 1}}));
  EXPECT_EQ(SessionChanges(*everything), (Changes{{WTS_SESSION_LOCK, 1}}));
  EXPECT_TRUE(SessionChanges(*theirs).empty());

  sm.Lock(s2);
  sm.Unlock(s2);
  m.RunUntilIdle();
  EXPECT_EQ(SessionChanges(*theirs), (Changes{{WTS_SESSION_LOCK, s2}, {WTS_SESSION_UNLOCK, s2}}));
  EXPECT_EQ(SessionChanges(*everything),
            (Changes{{WTS_SESSION_LOCK, 1}, {WTS_SESSION_LOCK, s2}, {WTS_SESSION_UNLOCK, s2}}));
  EXPECT_EQ(SessionChanges(*mine).size(), 1u);
  EXPECT_TRUE(SessionChanges(deaf).empty());
}

TEST_F(SimSessionsTest, ConnectionChangesUseConsoleAndRemoteCodes) {
  auto watcher = Listener(*p1, NOTIFY_FOR_ALL_SESSIONS);
  EXPECT_TRUE(sm.Disconnect(1));
  EXPECT_FALSE(sm.Disconnect(1));
  EXPECT_EQ(sm.Find(1)->State(), sim::SessionState::Disconnected);
  EXPECT_EQ(p1->Sessions().WTSGetActiveConsoleSessionId(), sim::SessionManager::kNoConsoleSession);
  EXPECT_TRUE(sm.Connect(1, /*remote=*/true));
  EXPECT_EQ(p1->Ui().GetSystemMetrics(SM_REMOTESESSION), 1);
  EXPECT_TRUE(sm.Connect(1, /*remote=*/false));  // back to the console, through a disconnect
  EXPECT_EQ(p1->Ui().GetSystemMetrics(SM_REMOTESESSION), 0);
  EXPECT_EQ(sm.ActiveConsoleSession(), 1u);

  // Fast user switching: bob's session starts aside and then takes the console.
  const DWORD s2 = Bob(/*remote=*/false);
  EXPECT_EQ(sm.Find(s2)->State(), sim::SessionState::Disconnected);
  EXPECT_TRUE(sm.Connect(s2, /*remote=*/false));
  EXPECT_EQ(sm.ActiveConsoleSession(), s2);
  EXPECT_EQ(sm.Find(1)->State(), sim::SessionState::Disconnected);
  m.RunUntilIdle();
  EXPECT_EQ(SessionChanges(*watcher), (Changes{
                                          {WTS_CONSOLE_DISCONNECT, 1},
                                          {WTS_REMOTE_CONNECT, 1},
                                          {WTS_REMOTE_DISCONNECT, 1},
                                          {WTS_CONSOLE_CONNECT, 1},
                                          {WTS_CONSOLE_DISCONNECT, 1},
                                          {WTS_CONSOLE_CONNECT, s2},
                                      }));
}

TEST_F(SimSessionsTest, WtsDisconnectSessionPutsTheCallersSessionAside) {
  auto watcher = Listener(*p1, NOTIFY_FOR_THIS_SESSION);
  ASSERT_TRUE(
      p1->Sessions().WTSDisconnectSession(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, TRUE));
  EXPECT_EQ(sm.Find(1)->State(), sim::SessionState::Disconnected);
  EXPECT_EQ(sm.ActiveConsoleSession(), sim::SessionManager::kNoConsoleSession);
  // Already aside: nothing more happens, and that is no failure.
  EXPECT_TRUE(p1->Sessions().WTSDisconnectSession(WTS_CURRENT_SERVER_HANDLE, 1, FALSE));
  m.RunUntilIdle();
  EXPECT_EQ(SessionChanges(*watcher), (Changes{{WTS_CONSOLE_DISCONNECT, 1}}));
  EXPECT_EQ(desktop.Texts(1, sim::desktop_kind::kSession),
            (std::vector<std::wstring>{L"console disconnected"}));

  // The user comes back: the session is still signed in.
  EXPECT_TRUE(sm.Connect(1, /*remote=*/false));
  EXPECT_EQ(sm.Find(1)->State(), sim::SessionState::Active);
}

TEST_F(SimSessionsTest, WtsDisconnectSessionRefusesUnknownAndOtherUsersSessions) {
  platform::ISessions& wts = p1->Sessions();
  EXPECT_FALSE(wts.WTSDisconnectSession(WTS_CURRENT_SERVER_HANDLE, 77, TRUE));
  EXPECT_EQ(m.LastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(wts.WTSDisconnectSession(reinterpret_cast<HANDLE>(0x44), 1, TRUE));
  EXPECT_EQ(m.LastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  const DWORD bob = Bob();
  EXPECT_FALSE(wts.WTSDisconnectSession(WTS_CURRENT_SERVER_HANDLE, bob, TRUE));
  EXPECT_EQ(m.LastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(sm.Find(bob)->State(), sim::SessionState::Active);

  // A second session of alice's is hers to put aside; a service may disconnect anyone's.
  const DWORD alice2 = sm.CreateSession({.userName = L"alice", .remote = true});
  EXPECT_TRUE(wts.WTSDisconnectSession(WTS_CURRENT_SERVER_HANDLE, alice2, TRUE));
  auto service = NewProcess(0);
  auto watcher = Listener(*service, NOTIFY_FOR_ALL_SESSIONS);
  EXPECT_TRUE(service->Sessions().WTSDisconnectSession(WTS_CURRENT_SERVER_HANDLE, bob, FALSE));
  m.RunUntilIdle();
  EXPECT_EQ(SessionChanges(*watcher), (Changes{{WTS_REMOTE_DISCONNECT, bob}}));

  // A logged-off session is gone for terminal services.
  ASSERT_TRUE(sm.LogOff(bob));
  EXPECT_FALSE(service->Sessions().WTSDisconnectSession(WTS_CURRENT_SERVER_HANDLE, bob, FALSE));
  EXPECT_EQ(m.LastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(SimSessionsTest, UnregisteredAndDestroyedWindowsAreNotNotified) {
  auto quitter = Listener(*p1, NOTIFY_FOR_THIS_SESSION);
  auto goner = Listener(*p1, NOTIFY_FOR_ALL_SESSIONS);
  EXPECT_TRUE(p1->Sessions().WTSUnRegisterSessionNotification(quitter->hwnd()));
  EXPECT_TRUE(p1->Sessions().WTSUnRegisterSessionNotification(quitter->hwnd()));  // harmless
  const HWND gone = goner->hwnd();
  p1->Ui().DestroyWindow(gone);
  EXPECT_FALSE(sm.IsRegistered(gone));
  EXPECT_FALSE(p1->Sessions().WTSRegisterSessionNotification(gone, NOTIFY_FOR_THIS_SESSION));
  EXPECT_FALSE(p1->Sessions().WTSRegisterSessionNotification(quitter->hwnd(), 5));
  sm.Lock(1);
  m.RunUntilIdle();
  EXPECT_TRUE(SessionChanges(*quitter).empty());
  EXPECT_TRUE(SessionChanges(*goner).empty());
}

TEST_F(SimSessionsTest, LogOffAsksEveryWindowFirstThenEndsTheSession) {
  const DWORD s2 = Bob();
  auto pa = NewProcess(s2);
  auto pb = NewProcess(s2);
  auto watcher = Listener(*p1, NOTIFY_FOR_ALL_SESSIONS);
  TestWindow x(*pa);
  x.Create(kSessionClass);
  simtest::UiThread thread(*pb);  // y lives on a thread of its own
  TestWindow y(*pb);
  thread.Run([&] { y.Create(kSessionClass); });
  y.SetHandler([](HWND, UINT msg, WPARAM, LPARAM) -> std::optional<LRESULT> {
    if (msg == WM_QUERYENDSESSION) return FALSE;  // objects, and is overridden
    return std::nullopt;
  });
  DeliveryLog log(m.Windows(), {x.hwnd(), y.hwnd()});

  EXPECT_TRUE(sm.LogOff(s2));
  std::vector<std::pair<HWND, UINT>> got;
  for (const auto& d : log.Take()) got.emplace_back(d.hwnd, d.message);
  const std::vector<std::pair<HWND, UINT>> expected{
      {x.hwnd(), WM_QUERYENDSESSION},
      {y.hwnd(), WM_QUERYENDSESSION},
      {x.hwnd(), WM_ENDSESSION},
      {y.hwnd(), WM_ENDSESSION},
  };
  EXPECT_EQ(got, expected);
  const auto end = y.Of(WM_ENDSESSION).at(0);
  EXPECT_EQ(end.wp, static_cast<WPARAM>(TRUE));
  EXPECT_EQ(static_cast<ULONG_PTR>(end.lp), ENDSESSION_LOGOFF);
  EXPECT_EQ(end.tid, thread.Tid());
  EXPECT_EQ(x.Of(WM_QUERYENDSESSION).at(0).lp, static_cast<LPARAM>(ENDSESSION_LOGOFF));

  EXPECT_EQ(sm.Find(s2)->State(), sim::SessionState::LoggedOff);
  EXPECT_EQ(sm.ShellWindow(s2), nullptr);
  EXPECT_FALSE(sm.LogOff(s2));
  m.RunUntilIdle();
  EXPECT_EQ(SessionChanges(*watcher), (Changes{{WTS_SESSION_LOGOFF, s2}}));
  EXPECT_EQ(desktop.Texts(s2, sim::desktop_kind::kSession),
            (std::vector<std::wstring>{std::wstring(L"log off blocked by ") + kSessionClass,
                                       L"logged off"}));

  // Logging on again brings the shell back, which announces itself.
  const UINT taskbarCreated = pa->Ui().RegisterWindowMessageW(L"TaskbarCreated");
  EXPECT_TRUE(sm.LogOn(s2));
  EXPECT_NE(sm.ShellWindow(s2), nullptr);
  m.RunUntilIdle();
  EXPECT_EQ(SessionChanges(*watcher), (Changes{{WTS_SESSION_LOGOFF, s2}, {WTS_SESSION_LOGON, s2}}));
  EXPECT_EQ(x.Count(taskbarCreated), 1u);
}

TEST_F(SimSessionsTest, LockWorkStationLocksTheCallersSession) {
  auto listener = Listener(*p1, NOTIFY_FOR_THIS_SESSION);
  EXPECT_TRUE(p1->Ui().LockWorkStation());
  EXPECT_EQ(sm.Find(1)->State(), sim::SessionState::Locked);
  EXPECT_EQ(desktop.LockCount(1), 1);
  EXPECT_TRUE(p1->Ui().LockWorkStation());  // already locked: still success, no new lock
  EXPECT_EQ(desktop.LockCount(1), 1);
  EXPECT_EQ(desktop.Session(1).lockRequests, 2);
  m.RunUntilIdle();
  EXPECT_EQ(SessionChanges(*listener), (Changes{{WTS_SESSION_LOCK, 1}}));
  EXPECT_TRUE(sm.Unlock(1));
  EXPECT_EQ(desktop.Texts(1, sim::desktop_kind::kSession),
            (std::vector<std::wstring>{L"locked", L"unlocked"}));

  const DWORD gone = sm.CreateSession({.userName = L"carol", .loggedOn = false});
  auto orphan = NewProcess(gone);
  EXPECT_FALSE(orphan->Ui().LockWorkStation());
  EXPECT_EQ(desktop.LockCount(gone), 0);
}

TEST_F(SimSessionsTest, TheShellCanStartLateAndRestartAnnouncingTheTaskbar) {
  const DWORD s2 = sm.CreateSession({.userName = L"bob", .remote = true, .startShell = false});
  auto p2 = NewProcess(s2);
  TestWindow w(*p2), sink(*p2), elsewhere(*p1);
  w.Create(kSessionClass);
  sink.Create(kSessionClass, L"", 0, HWND_MESSAGE);
  elsewhere.Create(kSessionClass);
  const UINT taskbarCreated = p2->Ui().RegisterWindowMessageW(L"TaskbarCreated");
  EXPECT_EQ(p2->Ui().FindWindowW(L"Shell_TrayWnd", nullptr), nullptr);

  EXPECT_TRUE(desktop.StartShell(s2));
  const HWND first = p2->Ui().FindWindowW(L"Shell_TrayWnd", nullptr);
  ASSERT_NE(first, nullptr);
  m.RunUntilIdle();
  EXPECT_EQ(w.Count(taskbarCreated), 1u);

  EXPECT_TRUE(desktop.RestartShell(s2));
  const HWND second = p2->Ui().FindWindowW(L"Shell_TrayWnd", nullptr);
  EXPECT_NE(second, nullptr);
  EXPECT_NE(second, first);
  EXPECT_FALSE(p2->Ui().IsWindow(first));
  m.RunUntilIdle();
  EXPECT_EQ(w.Count(taskbarCreated), 2u);
  EXPECT_EQ(sink.Count(taskbarCreated), 0u);  // message-only windows hear no broadcast
  EXPECT_EQ(elsewhere.Count(taskbarCreated), 0u);
  EXPECT_EQ(desktop.Texts(s2, sim::desktop_kind::kShell),
            (std::vector<std::wstring>{L"shell started", L"taskbar created", L"shell stopped",
                                       L"shell started", L"taskbar created"}));
}

TEST_F(SimSessionsTest, TheShellAnswersInlineWithoutAThreadOfItsOwn) {
  const HWND shell = sm.ShellWindow(1);
  platform::IUi& ui = p1->Ui();
  // Nobody pumps anything: the shell's messages are handled on the caller's thread.
  std::thread caller([&] {
    EXPECT_EQ(ui.SendMessageW(shell, WM_QUERYENDSESSION, 0, 0), TRUE);
    DWORD_PTR r = 0;
    EXPECT_TRUE(ui.SendMessageTimeoutW(shell, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &r));
    EXPECT_TRUE(ui.PostMessageW(shell, WM_USER, 0, 0));
  });
  caller.join();
  DWORD pid = 0;
  EXPECT_EQ(ui.GetWindowThreadProcessId(shell, &pid), sim::WindowManager::kSimThreadId);
  EXPECT_EQ(pid, sim::WindowManager::kSimProcessId);
  EXPECT_FALSE(ui.DestroyWindow(shell));
  EXPECT_EQ(m.LastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(SimSessionsTest, TheDesktopRendersWhatItSawOnTheVirtualClock) {
  m.AdvanceBy(12500);
  sm.Lock(1);
  m.AdvanceBy(500);
  sm.Unlock(1);
  const auto events = desktop.Events(1);
  ASSERT_GE(events.size(), 3u);
  EXPECT_EQ(events.back(), (sim::DesktopEvent{13000, 1, sim::desktop_kind::kSession, L"unlocked"}));
  const std::wstring text = desktop.Render();
  EXPECT_EQ(static_cast<size_t>(std::count(text.begin(), text.end(), L'\n')),
            desktop.Events().size());
  const auto lockedAt = text.find(L"12.500s");
  ASSERT_NE(lockedAt, std::wstring::npos);
  const auto lineEnd = text.find(L'\n', lockedAt);
  EXPECT_NE(text.substr(lockedAt, lineEnd - lockedAt).find(L"locked"), std::wstring::npos);
  EXPECT_LT(lockedAt, text.find(L"13.000s"));
}

}  // namespace
