// The simulated notification area, popup menus, mouse and input desktop, and a send with a
// time-out to a thread that cannot answer.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <future>
#include <thread>

#include "platform/sim/desktop.h"
#include "platform/sim/menus.h"
#include "platform/sim/notification_area.h"
#include "platform/sim/session_manager.h"
#include "tests/platform/sim_ui_test_util.h"

namespace {

using simtest::TestWindow;

constexpr wchar_t kShellClass[] = L"Shell Test Window";
constexpr UINT kCallback = WM_APP + 100;

using Events = std::vector<std::pair<WPARAM, LPARAM>>;

class SimShellTest : public ::testing::Test {
 protected:
  SimShellTest() {
    TestWindow::RegisterClass(*p, kShellClass);
    w.Create(kShellClass);
  }

  NOTIFYICONDATAW Data(UINT id, UINT flags) const {
    NOTIFYICONDATAW d{};
    d.cbSize = sizeof(d);
    d.hWnd = w.hwnd();
    d.uID = id;
    d.uFlags = flags;
    d.uCallbackMessage = kCallback;
    d.hIcon = reinterpret_cast<HICON>(0x5004);
    std::wcscpy(d.szTip, L"Agent");
    return d;
  }
  BOOL Notify(DWORD message, NOTIFYICONDATAW d) {
    return p->Shell().Shell_NotifyIconW(message, &d);
  }
  BOOL Add(UINT id = 1) { return Notify(NIM_ADD, Data(id, NIF_MESSAGE | NIF_ICON | NIF_TIP)); }
  BOOL Balloon(UINT id, const wchar_t* text, UINT timeout = 5000) {
    auto d = Data(id, NIF_INFO);
    std::wcscpy(d.szInfo, text);
    std::wcscpy(d.szInfoTitle, L"Title");
    d.uTimeout = timeout;
    return Notify(NIM_MODIFY, d);
  }
  DWORD LastError() { return p->Kernel().GetLastError(); }
  // The callbacks the window got, after the test thread ran its messages.
  Events Callbacks() {
    m.RunUntilIdle();
    Events r;
    for (const auto& c : w.Of(kCallback)) r.emplace_back(c.wp, c.lp);
    return r;
  }
  std::vector<std::wstring> TrayTexts() const { return desktop.Texts(1, sim::desktop_kind::kTray); }
  std::vector<std::wstring> MenuTexts() const { return desktop.Texts(1, sim::desktop_kind::kMenu); }

  sim::Machine m;
  sim::Desktop& desktop = m.GetDesktop();
  sim::NotificationArea& tray = desktop.Tray(1);
  std::unique_ptr<sim::Process> p = m.CreateProcess({.sessionId = 1});
  TestWindow w{*p};
};

// ---- Notification area -------------------------------------------------------------------

TEST_F(SimShellTest, IconCallsSucceedOrFailAsTheShellAnswers) {
  ASSERT_TRUE(Add());
  const auto icon = tray.Find(w.hwnd(), 1);
  ASSERT_TRUE(icon);
  EXPECT_EQ(icon->tip, L"Agent");
  EXPECT_EQ(icon->icon, reinterpret_cast<HICON>(0x5004));
  EXPECT_EQ(icon->callbackMessage, kCallback);

  p->Kernel().SetLastError(ERROR_TIMEOUT);
  EXPECT_FALSE(Add()) << "the same (window, id) twice";
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_SUCCESS)) << "a refusal has no reason";
  for (DWORD message : {NIM_MODIFY, NIM_DELETE, NIM_SETFOCUS, NIM_SETVERSION}) {
    EXPECT_FALSE(Notify(message, Data(2, NIF_TIP))) << message << " of an icon not there";
  }
  auto version = Data(1, 0);
  version.uVersion = 5;
  EXPECT_FALSE(Notify(NIM_SETVERSION, version));
  version.uVersion = 4;
  EXPECT_TRUE(Notify(NIM_SETVERSION, version));
  EXPECT_TRUE(Notify(NIM_SETFOCUS, Data(1, 0)));
  // Only the flags given change.
  auto frame = Data(1, NIF_ICON);
  frame.hIcon = reinterpret_cast<HICON>(0x5008);
  std::wcscpy(frame.szTip, L"ignored");
  EXPECT_TRUE(Notify(NIM_MODIFY, frame));
  EXPECT_EQ(tray.Find(w.hwnd(), 1)->tip, L"Agent");
  EXPECT_EQ(tray.Find(w.hwnd(), 1)->icon, reinterpret_cast<HICON>(0x5008));
  EXPECT_TRUE(Notify(NIM_DELETE, Data(1, 0)));
  EXPECT_FALSE(tray.Find(w.hwnd(), 1));

  EXPECT_EQ(TrayTexts(), (std::vector<std::wstring>{
                             L"added 1 message 32868 icon 0x5004 tip \"Agent\"", L"version 1 4",
                             L"focus 1", L"modified 1 icon 0x5008", L"deleted 1"}));
  EXPECT_EQ(tray.CallCount(NIM_ADD), 2);
}

TEST_F(SimShellTest, StructureSizesAndTextsAreCheckedNotTrusted) {
  auto bad = Data(1, NIF_TIP);
  bad.cbSize = sizeof(bad) - 1;
  EXPECT_FALSE(Notify(NIM_ADD, bad));
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(p->Shell().Shell_NotifyIconW(NIM_ADD, nullptr));

  // The oldest structure: a 64-character tip, nothing after it is read.
  auto old = Data(1, NIF_MESSAGE | NIF_TIP | NIF_INFO);
  old.cbSize = offsetof(NOTIFYICONDATAW, szTip) + 64 * sizeof(WCHAR);
  for (auto& ch : old.szTip) ch = L'x';  // no terminator anywhere
  std::wcscpy(old.szInfo, L"not read");
  ASSERT_TRUE(Notify(NIM_ADD, old));
  EXPECT_EQ(tray.Find(w.hwnd(), 1)->tip, std::wstring(64, L'x'));
  EXPECT_FALSE(tray.ShownBalloon());

  // A full tip without terminator stops at the end of its array.
  auto full = Data(2, NIF_TIP);
  for (auto& ch : full.szTip) ch = L'y';
  ASSERT_TRUE(Notify(NIM_ADD, full));
  EXPECT_EQ(tray.Find(w.hwnd(), 2)->tip, std::wstring(128, L'y'));
}

TEST_F(SimShellTest, NoShellNoIconsAndARestartEmptiesTheArea) {
  ASSERT_TRUE(Add(1));
  ASSERT_TRUE(desktop.StopShell(1));
  EXPECT_TRUE(tray.Icons().empty());
  EXPECT_FALSE(Add(1));
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  const UINT taskbarCreated = p->Ui().RegisterWindowMessageW(L"TaskbarCreated");
  ASSERT_TRUE(desktop.StartShell(1));
  m.RunUntilIdle();
  EXPECT_EQ(w.Count(taskbarCreated), 1u);
  EXPECT_TRUE(Add(1)) << "added again after the taskbar came back";
  ASSERT_TRUE(desktop.RestartShell(1));
  EXPECT_TRUE(tray.Icons().empty());
  EXPECT_TRUE(Add(1));
}

TEST_F(SimShellTest, InjectedFailuresComeFirstAndInOrder) {
  ASSERT_TRUE(Add());
  tray.FailNext(NIM_MODIFY, ERROR_TIMEOUT, 2);
  EXPECT_TRUE(Notify(NIM_DELETE, Data(1, 0))) << "other calls are not affected";
  EXPECT_TRUE(Add());
  for (int i = 0; i < 2; ++i) {
    EXPECT_FALSE(Notify(NIM_MODIFY, Data(1, NIF_TIP)));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_TIMEOUT));
  }
  EXPECT_TRUE(Notify(NIM_MODIFY, Data(1, NIF_TIP)));
  const auto calls = tray.Calls();
  ASSERT_EQ(calls.size(), 6u);
  EXPECT_FALSE(calls[3].succeeded);
  EXPECT_EQ(calls[3].error, static_cast<DWORD>(ERROR_TIMEOUT));
  EXPECT_TRUE(calls[5].succeeded);
}

// ---- Balloons ----------------------------------------------------------------------------

TEST_F(SimShellTest, ABalloonShowsAndTimesOutOnTheVirtualClock) {
  ASSERT_TRUE(Add(7));
  ASSERT_TRUE(Balloon(7, L"Hello", 5000));
  EXPECT_EQ(Callbacks(), (Events{{7, NIN_BALLOONSHOW}}));
  // The shell holds a balloon at least ten seconds.
  m.AdvanceBy(9999);
  EXPECT_EQ(Callbacks().size(), 1u);
  m.AdvanceBy(1);
  EXPECT_EQ(Callbacks(), (Events{{7, NIN_BALLOONSHOW}, {7, NIN_BALLOONTIMEOUT}}));
  EXPECT_FALSE(tray.ShownBalloon());
  EXPECT_EQ(TrayTexts().back(), L"balloon timed out 7");
}

TEST_F(SimShellTest, ANewBalloonOrAnEmptyTextHidesTheShownOne) {
  ASSERT_TRUE(Add(1));
  ASSERT_TRUE(Add(2));
  ASSERT_TRUE(Balloon(1, L"first", 30000));
  m.AdvanceBy(5000);
  ASSERT_TRUE(Balloon(2, L"second", 60000));  // held to thirty seconds
  ASSERT_TRUE(Balloon(1, L""));               // not the shown one: nothing happens
  m.AdvanceBy(29999);
  EXPECT_EQ(Callbacks(), (Events{{1, NIN_BALLOONSHOW}, {1, NIN_BALLOONHIDE}, {2, NIN_BALLOONSHOW}}))
      << "the first balloon's time-out must not fire after it was replaced";
  ASSERT_TRUE(Balloon(2, L""));
  EXPECT_EQ(Callbacks().back(), (std::pair<WPARAM, LPARAM>{2, NIN_BALLOONHIDE}));
  m.AdvanceBy(60000);
  EXPECT_EQ(Callbacks().size(), 4u);
}

TEST_F(SimShellTest, ClickingOrDeletingEndsTheBalloon) {
  ASSERT_TRUE(Add(1));
  EXPECT_FALSE(tray.ClickBalloon(w.hwnd(), 1)) << "no balloon shown";
  ASSERT_TRUE(Balloon(1, L"click me"));
  EXPECT_TRUE(tray.ClickBalloon(w.hwnd(), 1));
  ASSERT_TRUE(Balloon(1, L"again"));
  ASSERT_TRUE(Notify(NIM_DELETE, Data(1, 0)));
  m.AdvanceBy(30000);
  EXPECT_EQ(Callbacks(), (Events{{1, NIN_BALLOONSHOW},
                                 {1, NIN_BALLOONUSERCLICK},
                                 {1, NIN_BALLOONSHOW},
                                 {1, NIN_BALLOONHIDE}}));
  EXPECT_EQ(TrayTexts()[1], L"balloon shown 1 \"Title\" \"click me\"");
}

// ---- The user's mouse on the icon ---------------------------------------------------------

TEST_F(SimShellTest, ClicksPostWhatWindowsPostsAndMoveTheCursor) {
  ASSERT_TRUE(Add(3));
  ASSERT_TRUE(tray.Click(w.hwnd(), 3));
  ASSERT_TRUE(tray.DoubleClick(w.hwnd(), 3));
  ASSERT_TRUE(tray.RightClick(w.hwnd(), 3));
  EXPECT_EQ(Callbacks(), (Events{{3, WM_LBUTTONDOWN},
                                 {3, WM_LBUTTONUP},
                                 {3, WM_LBUTTONDOWN},
                                 {3, WM_LBUTTONUP},
                                 {3, WM_LBUTTONDBLCLK},
                                 {3, WM_LBUTTONUP},
                                 {3, WM_RBUTTONDOWN},
                                 {3, WM_RBUTTONUP}}));
  POINT pt{};
  ASSERT_TRUE(p->Ui().GetCursorPos(&pt));
  const POINT at = tray.Find(w.hwnd(), 3)->position;
  EXPECT_EQ(pt.x, at.x);
  EXPECT_EQ(pt.y, at.y);

  // Version 4: the event and id in lParam, the position in wParam.
  auto version = Data(3, 0);
  version.uVersion = 4;
  ASSERT_TRUE(Notify(NIM_SETVERSION, version));
  ASSERT_TRUE(tray.RightClick(w.hwnd(), 3));
  const auto last = Callbacks().back();
  EXPECT_EQ(last.second, static_cast<LPARAM>(WM_RBUTTONUP | (3 << 16)));
  EXPECT_EQ(last.first, static_cast<WPARAM>(at.x | (at.y << 16)));

  EXPECT_FALSE(tray.Click(w.hwnd(), 4)) << "no such icon";
  m.Sessions().Lock(1);
  EXPECT_FALSE(tray.Click(w.hwnd(), 3)) << "the lock screen has the mouse";
  EXPECT_FALSE(p->Ui().GetCursorPos(&pt));
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

// ---- Popup menus -------------------------------------------------------------------------

class SimMenuTest : public SimShellTest {
 protected:
  HMENU Build() {
    auto& ui = p->Ui();
    HMENU menu = ui.CreatePopupMenu();
    EXPECT_TRUE(ui.AppendMenuW(menu, MF_STRING, 32788, L"Open"));
    EXPECT_TRUE(ui.AppendMenuW(menu, MF_SEPARATOR, 0, nullptr));
    EXPECT_TRUE(ui.AppendMenuW(menu, MF_STRING | MF_GRAYED, 40, L"Grey"));
    EXPECT_TRUE(ui.AppendMenuW(menu, MF_STRING, 57664, L"About"));
    EXPECT_TRUE(ui.SetMenuDefaultItem(menu, 0, TRUE));
    return menu;
  }
  void Pick(std::optional<UINT_PTR> id, ULONGLONG openMs = 0) {
    desktop.SetMenuUser([this, id, openMs](const sim::ShownMenu& shown) {
      seen = shown;
      return sim::MenuChoice{id, openMs};
    });
  }
  sim::ShownMenu seen;
};

TEST_F(SimMenuTest, MenusAreCountedUntilDestroyed) {
  auto& ui = p->Ui();
  HMENU menu = Build();
  EXPECT_EQ(ui.GetMenuItemCount(menu), 4);
  EXPECT_EQ(desktop.Menus().LiveCount(p->Pid()), 1);
  EXPECT_FALSE(ui.SetMenuDefaultItem(menu, 1, TRUE)) << "a separator";
  EXPECT_FALSE(ui.SetMenuDefaultItem(menu, 9, TRUE));
  EXPECT_TRUE(ui.DestroyMenu(menu));
  EXPECT_EQ(desktop.Menus().LiveCount(p->Pid()), 0);
  EXPECT_FALSE(ui.DestroyMenu(menu));
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_INVALID_MENU_HANDLE));
  EXPECT_EQ(ui.GetMenuItemCount(menu), -1);
  EXPECT_FALSE(ui.AppendMenuW(menu, MF_STRING, 1, L"x"));

  Build();  // leaked by the process, freed when it ends
  p.reset();
  EXPECT_EQ(desktop.Menus().LiveCount(), 0);
}

TEST_F(SimMenuTest, WithoutAUserTheMenuIsDismissed) {
  HMENU menu = Build();
  p->Kernel().SetLastError(ERROR_TIMEOUT);
  EXPECT_FALSE(
      p->Ui().TrackPopupMenu(menu, TPM_RIGHTBUTTON | TPM_RIGHTALIGN, 5, 6, 0, w.hwnd(), nullptr));
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(MenuTexts(), (std::vector<std::wstring>{
                             L"shown at (5,6): 32788 \"Open\"*, -, 40 \"Grey\", 57664 \"About\"",
                             L"dismissed"}));
  EXPECT_EQ(Callbacks().size(), 0u);
  EXPECT_EQ(w.Count(WM_COMMAND), 0u);
}

TEST_F(SimMenuTest, APickPostsTheCommandOnlyForAnItemThatCanBeChosen) {
  HMENU menu = Build();
  auto& ui = p->Ui();
  Pick(57664);
  EXPECT_TRUE(ui.TrackPopupMenu(menu, 0, 1, 2, 0, w.hwnd(), nullptr));
  EXPECT_EQ(seen.owner, w.hwnd());
  EXPECT_EQ(seen.items.size(), 4u);
  EXPECT_TRUE(seen.items[0].isDefault);
  m.RunUntilIdle();
  ASSERT_EQ(w.Count(WM_COMMAND), 1u);
  EXPECT_EQ(w.Of(WM_COMMAND)[0].wp, 57664u);

  for (UINT_PTR unpickable : {UINT_PTR{40}, UINT_PTR{0}, UINT_PTR{12345}}) {
    Pick(unpickable);
    EXPECT_FALSE(ui.TrackPopupMenu(menu, 0, 1, 2, 0, w.hwnd(), nullptr)) << unpickable;
  }
  Pick(32788);
  EXPECT_EQ(ui.TrackPopupMenu(menu, TPM_RETURNCMD, 1, 2, 0, w.hwnd(), nullptr), 32788);
  m.RunUntilIdle();
  EXPECT_EQ(w.Count(WM_COMMAND), 1u) << "TPM_RETURNCMD posts nothing";
  EXPECT_EQ(MenuTexts()[1], L"picked 57664 \"About\"");

  EXPECT_FALSE(ui.TrackPopupMenu(reinterpret_cast<HMENU>(0x99), 0, 0, 0, 0, w.hwnd(), nullptr));
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_INVALID_MENU_HANDLE));
  EXPECT_FALSE(ui.TrackPopupMenu(menu, 0, 0, 0, 0, nullptr, nullptr));
  EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

TEST_F(SimMenuTest, TheCallerServesItsMessagesWhileTheMenuIsUp) {
  HMENU menu = Build();
  auto& ui = p->Ui();
  ui.SetTimer(w.hwnd(), 9, 100, nullptr);
  std::thread sender;
  desktop.SetMenuUser([&](const sim::ShownMenu&) {
    sender = std::thread([&] {
      auto other = m.CreateProcess({.sessionId = 1});
      other->Ui().SendMessageW(w.hwnd(), WM_APP + 5, 0, 0);
    });
    // The message waits for this thread before the menu's loop starts.
    while (m.Windows().QueuedMessages(m.CurrentThreadId()) == 0) std::this_thread::yield();
    return sim::MenuChoice{std::nullopt, 1000};
  });
  const ULONGLONG start = m.GetClock().NowMs();
  EXPECT_FALSE(ui.TrackPopupMenu(menu, 0, 0, 0, 0, w.hwnd(), nullptr));
  sender.join();
  EXPECT_EQ(m.GetClock().NowMs(), start + 1000);
  EXPECT_EQ(w.Count(WM_TIMER), 10u);
  // Nested: a second menu from the same thread while one is up.
  desktop.SetMenuUser([&](const sim::ShownMenu&) {
    EXPECT_FALSE(ui.TrackPopupMenu(menu, 0, 0, 0, 0, w.hwnd(), nullptr));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_POPUP_ALREADY_ACTIVE));
    return sim::MenuChoice{};
  });
  EXPECT_FALSE(ui.TrackPopupMenu(menu, 0, 0, 0, 0, w.hwnd(), nullptr));
  m.RunUntilIdle();
  EXPECT_EQ(w.Count(WM_APP + 5), 1u);
}

// ---- Mouse settings and input desktops ---------------------------------------------------

TEST_F(SimShellTest, InputDesktopOnlyWhileTheSessionShowsItsOwn) {
  auto& ui = p->Ui();
  EXPECT_EQ(ui.GetDoubleClickTime(), 500u);
  desktop.SetDoubleClickTime(300);
  EXPECT_EQ(ui.GetDoubleClickTime(), 300u);

  HDESK d = ui.OpenInputDesktop(0, FALSE, DESKTOP_SWITCHDESKTOP);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(desktop.OpenDesktopCount(p->Pid()), 1);
  EXPECT_TRUE(ui.CloseDesktop(d));
  EXPECT_FALSE(ui.CloseDesktop(d));
  EXPECT_EQ(desktop.OpenDesktopCount(), 0);

  for (bool locked : {true, false}) {
    if (locked) {
      m.Sessions().Lock(1);
    } else {
      m.Sessions().Unlock(1);
      m.Sessions().Disconnect(1);
    }
    EXPECT_EQ(ui.OpenInputDesktop(0, FALSE, DESKTOP_SWITCHDESKTOP), nullptr);
    EXPECT_EQ(LastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  }
  EXPECT_EQ(desktop.OpenDesktopCount(), 0);
}

// ---- A send with a time-out to a thread that cannot answer ---------------------------------

TEST_F(SimShellTest, ABroadcastSendToAThreadJoiningTheSenderTimesOutOnTheVirtualClock) {
  // The receiver owns a window and then waits, serving nothing, for the sender's thread to
  // end: the policy broadcast of a registry watcher while its owner stops it.
  auto receiverProcess = m.CreateProcess({.sessionId = 1});
  TestWindow::RegisterClass(*receiverProcess, kShellClass);
  TestWindow busy{*receiverProcess};
  auto& kernel = receiverProcess->Kernel();
  HANDLE senderEnded = kernel.CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::promise<void> windowMade;
  std::thread receiver([&] {
    busy.Create(kShellClass);
    windowMade.set_value();
    kernel.WaitForSingleObject(senderEnded, INFINITE);
  });
  windowMade.get_future().wait();

  const ULONGLONG start = m.GetClock().NowMs();
  BOOL sent = FALSE;
  std::thread sender([&] {
    DWORD_PTR result = 0;
    sent = static_cast<BOOL>(p->Ui().SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, 0,
                                                         SMTO_ABORTIFHUNG, 5000, &result));
    kernel.SetEvent(senderEnded);
  });
  // This thread serves its own window meanwhile, as a message loop would.
  // (The event is the receiver process's handle: the same thread may wait through it.)
  for (;;) {
    const DWORD r = receiverProcess->Ui().MsgWaitForMultipleObjects(1, &senderEnded, FALSE,
                                                                    INFINITE, QS_SENDMESSAGE);
    ASSERT_NE(r, WAIT_FAILED);
    if (r == WAIT_OBJECT_0) break;
    m.RunUntilIdle();
  }
  sender.join();
  receiver.join();
  EXPECT_TRUE(sent);
  EXPECT_EQ(m.GetClock().NowMs(), start + 5000);
  EXPECT_EQ(busy.Count(WM_SETTINGCHANGE), 0u) << "withdrawn, never seen late";
  EXPECT_EQ(w.Count(WM_SETTINGCHANGE), 1u);
  kernel.CloseHandle(senderEnded);
}

}  // namespace
