// The simulated user's input: the keyboard of a session, hotkeys, the screen saver and
// system broadcasts, and what the desktop records of them.
#include <gtest/gtest.h>

#include "platform/sim/desktop.h"
#include "platform/sim/session_manager.h"
#include "tests/platform/sim_ui_test_util.h"

namespace {

using simtest::TestWindow;
using simtest::UiThread;
using Texts = std::vector<std::wstring>;

constexpr wchar_t kInputClass[] = L"Input Test Window";
constexpr SHORT kDown = static_cast<SHORT>(0x8000u);
constexpr UINT kCtrlWin = MOD_CONTROL | MOD_WIN;

LPARAM HotKeyLParam(UINT mods, UINT vk) { return static_cast<LPARAM>((vk << 16) | mods); }

class SimInputTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(TestWindow::RegisterClass(*p, kInputClass), 0); }
  std::unique_ptr<TestWindow> Window(sim::Process& in, HWND parent = nullptr) {
    auto w = std::make_unique<TestWindow>(in);
    EXPECT_NE(w->Create(kInputClass, L"", WS_POPUP, parent), nullptr);
    return w;
  }
  DWORD Error() { return m.LastError(); }
  SHORT Key(int vk) { return ui.GetAsyncKeyState(vk); }

  sim::Machine m;
  std::unique_ptr<sim::Process> p = m.CreateProcess({});
  platform::IUi& ui = p->Ui();
  sim::WindowManager& wm = m.Windows();
  sim::Desktop& desktop = m.GetDesktop();
  sim::SessionManager& sm = m.Sessions();
};

// ---- Keyboard -------------------------------------------------------------------------------

TEST_F(SimInputTest, GenericModifiersPressTheLeftKeyAndReadAsEitherSide) {
  EXPECT_EQ(Key('A'), 0);
  desktop.PressKeys(1, {VK_CONTROL, VK_RSHIFT, 'A'});
  EXPECT_EQ(Key('A'), kDown);
  EXPECT_EQ(Key(VK_CONTROL), kDown);
  EXPECT_EQ(Key(VK_LCONTROL), kDown);
  EXPECT_EQ(Key(VK_RCONTROL), 0);
  EXPECT_EQ(Key(VK_SHIFT), kDown);
  EXPECT_EQ(Key(VK_RSHIFT), kDown);
  EXPECT_EQ(Key(VK_LSHIFT), 0);
  EXPECT_EQ(Key(VK_MENU), 0);
  EXPECT_EQ(desktop.ModifiersDown(1), static_cast<UINT>(MOD_CONTROL | MOD_SHIFT));

  // Releasing the generic key lets the left one go, not the right one.
  desktop.PressKeys(1, {VK_RCONTROL});
  desktop.ReleaseKeys(1, {VK_CONTROL});
  EXPECT_EQ(Key(VK_LCONTROL), 0);
  EXPECT_EQ(Key(VK_CONTROL), kDown) << "the right Ctrl is still held";
  desktop.PressKeys(1, {VK_RWIN});
  EXPECT_EQ(desktop.ModifiersDown(1), static_cast<UINT>(MOD_CONTROL | MOD_SHIFT | MOD_WIN));

  desktop.ReleaseAll(1);
  for (int vk : {int{'A'}, VK_CONTROL, VK_RCONTROL, VK_SHIFT, VK_RSHIFT, VK_RWIN}) {
    EXPECT_EQ(Key(vk), 0) << vk;
  }
  // Codes outside 1..254 are never down.
  desktop.PressKeys(1, {0, 255, -1});
  for (int vk : {0, 255, -1}) EXPECT_EQ(Key(vk), 0) << vk;
}

TEST_F(SimInputTest, EachSessionHasItsOwnKeyboard) {
  const DWORD bob = sm.CreateSession({.userName = L"bob", .remote = true});
  auto other = m.CreateProcess({.sessionId = bob});
  desktop.PressKeys(bob, {VK_LCONTROL});
  EXPECT_EQ(other->Ui().GetAsyncKeyState(VK_CONTROL), kDown);
  EXPECT_EQ(Key(VK_CONTROL), 0);
}

TEST_F(SimInputTest, KeysReadUpWhileLockedAndGoUpWhenTheTerminalGoes) {
  desktop.PressKeys(1, {VK_LCONTROL});
  ASSERT_TRUE(sm.Lock(1));
  EXPECT_EQ(Key(VK_CONTROL), 0) << "the lock screen has the keyboard";
  ASSERT_TRUE(sm.Unlock(1));
  EXPECT_EQ(Key(VK_CONTROL), kDown);

  ASSERT_TRUE(sm.Disconnect(1));
  ASSERT_TRUE(sm.Connect(1, false));
  EXPECT_EQ(Key(VK_CONTROL), 0) << "a key stayed held across a disconnect";
}

// ---- Hotkeys --------------------------------------------------------------------------------

TEST_F(SimInputTest, ACombinationBelongsToOneWindowAndIdUntilUnregistered) {
  auto a = Window(*p);
  auto b = Window(*p);
  ASSERT_TRUE(ui.RegisterHotKey(a->hwnd(), 1, kCtrlWin, 'H'));
  // MOD_NOREPEAT does not make it another combination.
  EXPECT_FALSE(ui.RegisterHotKey(b->hwnd(), 1, kCtrlWin | MOD_NOREPEAT, 'H'));
  EXPECT_EQ(Error(), static_cast<DWORD>(ERROR_HOTKEY_ALREADY_REGISTERED));
  EXPECT_FALSE(ui.RegisterHotKey(a->hwnd(), 2, kCtrlWin, 'H')) << "another id of the holder";
  EXPECT_EQ(Error(), static_cast<DWORD>(ERROR_HOTKEY_ALREADY_REGISTERED));

  // The same window and id again: the hotkey moves, and the old combination is free.
  ASSERT_TRUE(ui.RegisterHotKey(a->hwnd(), 1, MOD_CONTROL | MOD_ALT, 'L'));
  EXPECT_EQ(wm.HotKeys(1), (std::vector<sim::HotKeyInfo>{{1, a->hwnd(), m.CurrentThreadId(), 1,
                                                          MOD_CONTROL | MOD_ALT, 'L'}}));
  EXPECT_TRUE(ui.RegisterHotKey(b->hwnd(), 1, kCtrlWin, 'H'));

  EXPECT_FALSE(ui.UnregisterHotKey(a->hwnd(), 7));
  EXPECT_EQ(Error(), static_cast<DWORD>(ERROR_HOTKEY_NOT_REGISTERED));
  EXPECT_TRUE(ui.UnregisterHotKey(a->hwnd(), 1));
  EXPECT_FALSE(ui.UnregisterHotKey(a->hwnd(), 1));
  EXPECT_EQ(Error(), static_cast<DWORD>(ERROR_HOTKEY_NOT_REGISTERED));
  EXPECT_TRUE(ui.UnregisterHotKey(b->hwnd(), 1));
  EXPECT_TRUE(wm.HotKeys(1).empty());

  EXPECT_EQ(desktop.Texts(1, sim::desktop_kind::kHotKey),
            (Texts{L"registered Ctrl+Win+0x48 id 1",
                   L"refused Ctrl+Win+0x48 id 1: held by another window",
                   L"refused Ctrl+Win+0x48 id 2: held by another window",
                   L"registered Ctrl+Alt+0x4C id 1", L"registered Ctrl+Win+0x48 id 1",
                   L"unregistered Ctrl+Alt+0x4C id 1", L"unregistered Ctrl+Win+0x48 id 1"}));
}

TEST_F(SimInputTest, OnlyTheOwnerThreadRegistersForAWindowOfItsSession) {
  auto w = Window(*p);
  UiThread other(*p);
  other.Run([&] {
    EXPECT_FALSE(ui.RegisterHotKey(w->hwnd(), 1, kCtrlWin, 'H'));
    EXPECT_EQ(Error(), 1408u);  // ERROR_WINDOW_OF_OTHER_THREAD
  });
  EXPECT_FALSE(ui.RegisterHotKey(reinterpret_cast<HWND>(0x1234), 1, kCtrlWin, 'H'));
  EXPECT_EQ(Error(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));

  // Hotkeys are per session: bob may hold the same combination.
  const DWORD bob = sm.CreateSession({.userName = L"bob", .remote = true});
  auto bobs = m.CreateProcess({.sessionId = bob});
  TestWindow::RegisterClass(*bobs, kInputClass);
  auto theirs = Window(*bobs);
  ASSERT_TRUE(ui.RegisterHotKey(w->hwnd(), 1, kCtrlWin, 'H'));
  EXPECT_TRUE(bobs->Ui().RegisterHotKey(theirs->hwnd(), 1, kCtrlWin, 'H'));
  EXPECT_TRUE(desktop.PressHotKey(bob, kCtrlWin, 'H'));
  m.RunUntilIdle();
  EXPECT_EQ(theirs->Count(WM_HOTKEY), 1u);
  EXPECT_EQ(w->Count(WM_HOTKEY), 0u);
}

TEST_F(SimInputTest, APressPostsWmHotKeyToTheHolderWithTheCombination) {
  auto w = Window(*p);
  ASSERT_TRUE(ui.RegisterHotKey(w->hwnd(), 1, kCtrlWin | MOD_NOREPEAT, 'H'));
  EXPECT_TRUE(desktop.PressHotKey(1, kCtrlWin, 'H'));
  EXPECT_EQ(w->Count(WM_HOTKEY), 0u) << "posted, not sent";
  m.RunUntilIdle();
  ASSERT_EQ(w->Count(WM_HOTKEY), 1u);
  EXPECT_EQ(w->Of(WM_HOTKEY)[0].wp, 1u);
  EXPECT_EQ(w->Of(WM_HOTKEY)[0].lp, HotKeyLParam(kCtrlWin, 'H'));

  EXPECT_FALSE(desktop.PressHotKey(1, MOD_ALT, 'H'));

  // Keys pressed one by one fire it when the key goes down with exactly those modifiers,
  // once per press.
  desktop.PressKeys(1, {VK_LCONTROL, VK_RWIN, 'H'});
  desktop.PressKeys(1, {'H'});
  m.RunUntilIdle();
  EXPECT_EQ(w->Count(WM_HOTKEY), 2u);
  desktop.ReleaseKeys(1, {'H'});
  desktop.PressKeys(1, {VK_SHIFT, 'H'});
  desktop.PressKeys(1, {'Q'});  // nobody's: no record for ordinary typing
  m.RunUntilIdle();
  EXPECT_EQ(w->Count(WM_HOTKEY), 2u) << "Ctrl+Shift+Win is another combination";

  EXPECT_EQ(desktop.Texts(1, sim::desktop_kind::kHotKey),
            (Texts{L"registered Ctrl+Win+0x48 id 1", L"pressed Ctrl+Win+0x48 id 1",
                   L"pressed Alt+0x48, not registered", L"pressed Ctrl+Win+0x48 id 1"}));
}

TEST_F(SimInputTest, APressReachesNoProgramWhileTheSessionIsLockedOrDisconnected) {
  auto w = Window(*p);
  ASSERT_TRUE(ui.RegisterHotKey(w->hwnd(), 1, kCtrlWin, 'H'));
  ASSERT_TRUE(sm.Lock(1));
  EXPECT_FALSE(desktop.PressHotKey(1, kCtrlWin, 'H'));
  ASSERT_TRUE(sm.Unlock(1));
  ASSERT_TRUE(sm.Disconnect(1));
  EXPECT_FALSE(desktop.PressHotKey(1, kCtrlWin, 'H'));
  m.RunUntilIdle();
  EXPECT_EQ(w->Count(WM_HOTKEY), 0u);
  const Texts texts = desktop.Texts(1, sim::desktop_kind::kHotKey);
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts[1], L"pressed Ctrl+Win+0x48, ignored: session locked");
  EXPECT_EQ(texts[2], L"pressed Ctrl+Win+0x48, ignored: session disconnected");
}

TEST_F(SimInputTest, HotKeysGoWithTheirWindowOrTheirProcess) {
  auto w = Window(*p);
  ASSERT_TRUE(ui.RegisterHotKey(w->hwnd(), 1, kCtrlWin, 'H'));
  ASSERT_TRUE(ui.DestroyWindow(w->hwnd()));
  EXPECT_TRUE(wm.HotKeys(1).empty());
  EXPECT_FALSE(desktop.PressHotKey(1, kCtrlWin, 'H'));

  // A thread hotkey (no window) arrives as a thread message and goes when its process
  // ends.
  auto other = m.CreateProcess({});
  ASSERT_TRUE(other->Ui().RegisterHotKey(nullptr, 5, MOD_ALT, 'K'));
  ASSERT_TRUE(desktop.PressHotKey(1, MOD_ALT, 'K'));
  MSG msg{};
  ASSERT_TRUE(ui.PeekMessageW(&msg, nullptr, WM_HOTKEY, WM_HOTKEY, PM_REMOVE));
  EXPECT_EQ(msg.hwnd, nullptr);
  EXPECT_EQ(msg.wParam, 5u);
  EXPECT_EQ(msg.lParam, HotKeyLParam(MOD_ALT, 'K'));
  other.reset();
  EXPECT_TRUE(wm.HotKeys(1).empty());
  EXPECT_TRUE(ui.RegisterHotKey(nullptr, 5, MOD_ALT, 'K'));
}

// ---- Screen saver ---------------------------------------------------------------------------

TEST_F(SimInputTest, TheScreenSaverQueryReadsTheSessionsScreenSaver) {
  BOOL running = 0xCC;
  ASSERT_TRUE(ui.SystemParametersInfoW(SPI_GETSCREENSAVERRUNNING, 0, &running, 0));
  EXPECT_EQ(running, FALSE);

  EXPECT_TRUE(desktop.StartScreenSaver(1));
  EXPECT_FALSE(desktop.StartScreenSaver(1));
  running = 0xCC;
  ASSERT_TRUE(ui.SystemParametersInfoW(SPI_GETSCREENSAVERRUNNING, 0, &running, 0));
  EXPECT_EQ(running, TRUE);
  const DWORD bob = sm.CreateSession({.userName = L"bob", .remote = true});
  auto other = m.CreateProcess({.sessionId = bob});
  running = 0xCC;
  ASSERT_TRUE(other->Ui().SystemParametersInfoW(SPI_GETSCREENSAVERRUNNING, 0, &running, 0));
  EXPECT_EQ(running, FALSE) << "bob's session has its own";

  EXPECT_TRUE(desktop.StopScreenSaver(1));
  EXPECT_FALSE(desktop.StopScreenSaver(1));
  EXPECT_FALSE(desktop.ScreenSaverRunning(1));
  EXPECT_EQ(desktop.Texts(1, sim::desktop_kind::kScreenSaver), (Texts{L"started", L"stopped"}));

  EXPECT_FALSE(ui.SystemParametersInfoW(SPI_GETSCREENSAVERRUNNING, 0, nullptr, 0));
  EXPECT_EQ(Error(), static_cast<DWORD>(ERROR_NOACCESS));
  EXPECT_FALSE(ui.SystemParametersInfoW(0x0010 /* SPI_GETSCREENSAVEACTIVE */, 0, &running, 0));
  EXPECT_EQ(Error(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

// ---- System broadcasts ----------------------------------------------------------------------

class SimBroadcastTest : public SimInputTest {
 protected:
  void SetUp() override {
    SimInputTest::SetUp();
    TestWindow::RegisterClass(*peer, kInputClass);
    mine = Window(*p);
    theirs = Window(*peer);
    messageOnly = Window(*peer, HWND_MESSAGE);
    const DWORD bob = sm.CreateSession({.userName = L"bob", .remote = true});
    bobs = m.CreateProcess({.sessionId = bob});
    TestWindow::RegisterClass(*bobs, kInputClass);
    elsewhere = Window(*bobs);
  }
  size_t Got(const TestWindow& w) { return w.Count(msg); }

  std::unique_ptr<sim::Process> peer = m.CreateProcess({});
  std::unique_ptr<sim::Process> bobs;
  std::unique_ptr<TestWindow> mine, theirs, messageOnly, elsewhere;
  const UINT msg = ui.RegisterWindowMessageW(L"VDNX_BROADCAST_NOTIFICATION");
};

TEST_F(SimBroadcastTest, APostReachesTheSessionsTopLevelWindowsOnly) {
  DWORD info = BSM_APPLICATIONS;
  EXPECT_GT(ui.BroadcastSystemMessageW(BSF_POSTMESSAGE, &info, msg, 9, 4000), 0);
  EXPECT_EQ(info, static_cast<DWORD>(BSM_APPLICATIONS));
  EXPECT_EQ(Got(*mine), 0u) << "posted, not sent";
  m.RunUntilIdle();
  EXPECT_EQ(Got(*mine), 1u);
  ASSERT_EQ(Got(*theirs), 1u);
  EXPECT_EQ(theirs->Of(msg)[0].wp, 9u);
  EXPECT_EQ(theirs->Of(msg)[0].lp, 4000);
  EXPECT_EQ(Got(*messageOnly), 0u);
  EXPECT_EQ(Got(*elsewhere), 0u);
  // The two windows and the taskbar.
  EXPECT_EQ(desktop.Texts(1, sim::desktop_kind::kBroadcast),
            (Texts{L"posted VDNX_BROADCAST_NOTIFICATION wParam 9 lParam 4000 to 3 windows"}));

  EXPECT_GT(
      ui.BroadcastSystemMessageW(BSF_POSTMESSAGE | BSF_IGNORECURRENTTASK, nullptr, msg, 1, -1), 0);
  m.RunUntilIdle();
  EXPECT_EQ(Got(*mine), 1u) << "the caller's own windows are left out";
  EXPECT_EQ(Got(*theirs), 2u);
  EXPECT_EQ(desktop.Texts(1, sim::desktop_kind::kBroadcast).back(),
            L"posted VDNX_BROADCAST_NOTIFICATION wParam 1 lParam -1 to 2 windows");
}

TEST_F(SimBroadcastTest, ASendIsAnsweredBeforeItReturnsAndAQueryCanBeDenied) {
  // Windows of this thread run the message at once.
  EXPECT_GT(ui.BroadcastSystemMessageW(0, nullptr, WM_APP + 3, 0, 0), 0);
  EXPECT_EQ(mine->Count(WM_APP + 3), 1u);
  EXPECT_EQ(desktop.Texts(1, sim::desktop_kind::kBroadcast).back(),
            L"sent 0x8003 wParam 0 lParam 0 to 3 windows");

  theirs->SetHandler([&](HWND, UINT got, WPARAM, LPARAM) -> std::optional<LRESULT> {
    if (got == msg) return 0x424D5144;  // BROADCAST_QUERY_DENY
    return std::nullopt;
  });
  // In handle order: the taskbar, this window, then the one that denies.
  DWORD info = BSM_APPLICATIONS;
  EXPECT_EQ(ui.BroadcastSystemMessageW(0x1 /* BSF_QUERY */, &info, msg, 0, 0), 0);
  EXPECT_EQ(desktop.Texts(1, sim::desktop_kind::kBroadcast).back(),
            L"sent VDNX_BROADCAST_NOTIFICATION wParam 0 lParam 0 to 3 windows, denied");
}

TEST_F(SimBroadcastTest, UnknownFlagsOrRecipientsAreRefused) {
  DWORD info = BSM_APPLICATIONS;
  EXPECT_EQ(ui.BroadcastSystemMessageW(BSF_POSTMESSAGE | 0x1 /* BSF_QUERY */, &info, msg, 0, 0),
            -1);
  EXPECT_EQ(Error(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(ui.BroadcastSystemMessageW(0x10000, &info, msg, 0, 0), -1);
  info = 0x100;
  EXPECT_EQ(ui.BroadcastSystemMessageW(BSF_POSTMESSAGE, &info, msg, 0, 0), -1);
  m.RunUntilIdle();
  EXPECT_EQ(Got(*theirs), 0u);
  EXPECT_TRUE(desktop.Texts(1, sim::desktop_kind::kBroadcast).empty());
}

}  // namespace
