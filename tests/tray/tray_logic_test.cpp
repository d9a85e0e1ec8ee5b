// The handler's behaviour: clicks on the virtual clock, the menu task, the setting, balloons
// and disposal.
#include "tests/tray/notify_recorder.h"
#include "tests/tray/tray_fixture.h"

namespace traytest {
namespace {

class TrayClickTest : public TrayTest {
 protected:
  void SetUp() override { ShowIcon(); }
  void Mouse(UINT code) { Logic().OnTrayMessage(code); }
  size_t MenusShown() { return plat.ui.tracks.size(); }
};

TEST_F(TrayClickTest, ASingleClickOpensTheMenuAfterTheDoubleClickTimePlusSlack) {
  Mouse(WM_LBUTTONDOWN);
  Mouse(WM_LBUTTONUP);
  host.Advance(549);
  EXPECT_EQ(MenusShown(), 0u);
  EXPECT_NE(Logic().PendingClick(), 0u);
  host.Advance(1);
  ASSERT_EQ(MenusShown(), 1u);
  EXPECT_EQ(Logic().PendingClick(), 0u);
  EXPECT_EQ(plat.ui.tracks[0].x, 640);  // where the button went down
  EXPECT_EQ(host.consoleLaunches, 0);
}

TEST_F(TrayClickTest, ADoubleClickOpensTheConsoleAndNoMenu) {
  Mouse(WM_LBUTTONDOWN);
  Mouse(WM_LBUTTONUP);
  host.Advance(200);
  const UINT single = Logic().PendingClick();
  Mouse(WM_LBUTTONDBLCLK);
  Mouse(WM_LBUTTONUP);  // the double click's own button-up
  EXPECT_EQ(host.cancelled, std::vector<UINT>({single}));
  host.Advance(499);
  EXPECT_EQ(host.consoleLaunches, 0);
  host.Advance(1);
  EXPECT_EQ(host.consoleLaunches, 1);
  EXPECT_EQ(plat.shell.Messages(), std::vector<DWORD>({NIM_SETFOCUS}));
  EXPECT_EQ(plat.ui.foreground, std::vector<HWND>({FakeUi::kTaskbar}));
  host.Advance(5000);
  EXPECT_EQ(MenusShown(), 0u);
  EXPECT_EQ(Logic().PendingClick(), 0u);
}

TEST_F(TrayClickTest, AClickOnABalloonOpensNoMenuAndReachesItsRequester) {
  auto cb = CRecordingCallback::Create();
  ASSERT_TRUE(Logic().Notify(L"t", L"m", nullptr, cb.get(), NIIF_INFO, 0, 42));
  Mouse(NIN_BALLOONUSERCLICK);
  Mouse(WM_LBUTTONUP);  // the shell's button-up of the same click
  EXPECT_TRUE(host.scheduled.empty());
  host.Advance(0);
  EXPECT_EQ(cb->TellsSoFar(), (CRecordingCallback::Told{{NIN_BALLOONUSERCLICK, 42}}));
  Mouse(WM_LBUTTONUP);  // the next click is a click again
  EXPECT_FALSE(host.scheduled.empty());
}

TEST_F(TrayClickTest, BalloonEndsAreRelayedAsTasks) {
  auto cb = CRecordingCallback::Create();
  Logic().Notify(L"t", L"m", nullptr, cb.get(), NIIF_INFO, 0, 1);
  Mouse(NIN_BALLOONSHOW);
  Mouse(NIN_BALLOONTIMEOUT);
  EXPECT_TRUE(cb->TellsSoFar().empty());  // not inside the window procedure
  host.RunPosted();
  Logic().Notify(L"t", L"m", nullptr, cb.get(), NIIF_INFO, 0, 2);
  Mouse(NIN_BALLOONHIDE);
  host.RunPosted();
  EXPECT_EQ(cb->TellsSoFar(),
            (CRecordingCallback::Told{{NIN_BALLOONTIMEOUT, 1}, {NIN_BALLOONHIDE, 2}}));
  EXPECT_EQ(Logic().Balloons().QueueSize(), 1u) << "a hidden balloon waits to be shown again";
}

TEST_F(TrayClickTest, ARightClickOpensTheMenuAndClicksWhileItIsOpenDoNothing) {
  plat.ui.trackResult = FALSE;  // dismissed
  plat.ui.duringTrack = [&] {
    EXPECT_TRUE(Logic().IsMenuOpen());
    Mouse(WM_RBUTTONUP);
    Mouse(WM_LBUTTONUP);
  };
  Mouse(WM_RBUTTONUP);
  host.RunPosted();
  EXPECT_TRUE(host.scheduled.empty());
  ASSERT_EQ(MenusShown(), 1u);
  EXPECT_EQ(plat.ui.tracks[0].flags, static_cast<UINT>(TPM_RIGHTBUTTON | TPM_RIGHTALIGN));
  EXPECT_EQ(plat.ui.tracks[0].owner, kWindow);
  EXPECT_EQ(plat.ui.tracks[0].x, 640);  // no button-down: the cursor
  EXPECT_EQ(plat.ui.tracks[0].y, 1000);
  EXPECT_EQ(plat.ui.foreground.front(), kWindow);
  EXPECT_EQ(plat.shell.Messages(), std::vector<DWORD>({NIM_SETFOCUS}));  // dismissed
  EXPECT_EQ(plat.ui.nullPosts, 1);
  EXPECT_EQ(plat.ui.destroyed, std::vector<HMENU>({plat.ui.tracks[0].menu}));
  EXPECT_FALSE(Logic().IsMenuOpen());
  EXPECT_TRUE(Traced("Menu destroyed"));
}

TEST_F(TrayClickTest, AMenuThatFailsToBuildLeavesItClosed) {
  host.menuFails = true;
  Mouse(WM_RBUTTONUP);
  host.RunPosted();
  EXPECT_FALSE(Logic().IsMenuOpen());
  host.menuFails = false;
  Mouse(WM_RBUTTONUP);
  host.RunPosted();
  EXPECT_EQ(MenusShown(), 1u);
}

TEST_F(TrayClickTest, OnceDisposedClicksDoNothingAndThePendingClickIsCancelled) {
  Mouse(WM_LBUTTONUP);
  const UINT pending = Logic().PendingClick();
  ASSERT_NE(pending, 0u);
  plat.shell.Forget();
  Logic().OnDestroy();
  EXPECT_EQ(host.cancelled, std::vector<UINT>({pending}));
  // The empty balloon, then the removal.
  auto calls = plat.shell.Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].message, NIM_MODIFY);
  EXPECT_EQ(calls[0].flags, static_cast<UINT>(NIF_INFO));
  EXPECT_EQ(calls[0].info, L"");
  EXPECT_EQ(calls[1].message, NIM_DELETE);
  Mouse(WM_LBUTTONUP);
  Mouse(WM_RBUTTONUP);
  Mouse(NIN_BALLOONUSERCLICK);
  EXPECT_TRUE(host.scheduled.empty());
  EXPECT_TRUE(host.posted.empty());
  Logic().OnDestroy();  // twice is harmless
  Logic().OnSettingsChanged();
  Logic().Show(1);
  EXPECT_EQ(plat.shell.Calls().size(), 2u);
}

TEST_F(TrayClickTest, ForgedOrUnknownCodesDoNothing) {
  for (LPARAM code : {LPARAM{0}, LPARAM{NIN_SELECT}, LPARAM{0x7FFF}, LPARAM{WM_MOUSEMOVE}})
    Mouse(static_cast<UINT>(code));
  EXPECT_TRUE(host.scheduled.empty());
  EXPECT_TRUE(host.posted.empty());
  EXPECT_TRUE(plat.shell.Calls().empty());
}

TEST_F(TrayClickTest, DisposalForgetsTheBalloonsWithoutTellingTheirRequesters) {
  auto cb = CRecordingCallback::Create();
  Logic().Notify(L"t", L"m", nullptr, cb.get(), 0, 0, 1);
  Logic().Notify(L"t", L"m", nullptr, cb.get(), 0, 0, 2);
  EXPECT_EQ(cb->OtherReferences(), 2u);
  Logic().OnDestroy();
  Mouse(NIN_BALLOONHIDE);
  host.RunPosted();
  EXPECT_TRUE(cb->TellsSoFar().empty());
  EXPECT_EQ(cb->OtherReferences(), 0u);
  EXPECT_FALSE(Logic().Balloons().HasBalloonOnShow());
}

// ---- The setting ----

TEST_F(TrayTest, TheSettingDecidesAtCreationAndFollowsChanges) {
  machine.Registry().SetDword(KwAppSettingsKey(), L"ShowTaskbarIcon", 0);
  Logic().OnCreate();
  EXPECT_FALSE(Icon().OnTray());
  EXPECT_EQ(plat.shell.Messages(), std::vector<DWORD>({NIM_SETVERSION}));

  Logic().OnTaskbarCreated();
  EXPECT_FALSE(Icon().OnTray());

  machine.Registry().SetDword(KwAppSettingsKey(), L"ShowTaskbarIcon", 1);
  Logic().OnSettingsChanged();
  EXPECT_TRUE(Icon().OnTray());
  machine.Registry().SetDword(KwAppSettingsKey(), L"ShowTaskbarIcon", 0);
  Logic().OnSettingsChanged();
  EXPECT_FALSE(Icon().OnTray());
  EXPECT_EQ(plat.shell.Messages(), std::vector<DWORD>({NIM_SETVERSION, NIM_ADD, NIM_DELETE}));
}

TEST_F(TrayTest, AWronglyTypedSettingIsTracedAndTheIconShown) {
  machine.Registry().SetString(KwAppSettingsKey(), L"ShowTaskbarIcon", L"0");
  Logic().OnCreate();
  EXPECT_TRUE(Icon().OnTray());
  EXPECT_TRUE(Traced("ShowTaskbarIcon has type 1, not a number: ignored"));
}

TEST_F(TrayTest, ExceptionsOfTheIconAreSwallowedAndTraced) {
  Logic().OnCreate();
  host.menuFails = true;
  Logic().ShowMenu();
  EXPECT_NO_THROW(host.RunPosted());
  EXPECT_TRUE(Traced("Exception swallowed: menu"));
}

}  // namespace
}  // namespace traytest
