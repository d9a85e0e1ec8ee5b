// The notification area, popup menus, the mouse settings and the input desktop: the answers
// the tray icon's logic relies on.
#include <cstddef>
#include <cwchar>

#include "tests/conformance/backend.h"

namespace conformance {
namespace {

class ShellUiConformance : public ConformanceTest {
 protected:
  platform::IUi& Ui() { return Plat().Ui(); }

  // The taskbar comes up shortly after a fresh Wine prefix starts.
  bool TaskbarUp() {
    return WaitUntil([&] { return Ui().FindWindowW(L"Shell_TrayWnd", nullptr) != nullptr; });
  }
  NOTIFYICONDATAW Icon(HWND owner, UINT id, UINT flags) {
    NOTIFYICONDATAW d{};
    // The structure size every shell since the one with balloons understands.
    d.cbSize = offsetof(NOTIFYICONDATAW, guidItem);
    d.hWnd = owner;
    d.uID = id;
    d.uFlags = flags;
    d.uCallbackMessage = WM_APP + 20;
    std::wcscpy(d.szTip, L"conformance");
    return d;
  }
  BOOL Notify(DWORD message, NOTIFYICONDATAW d) {
    return Plat().Shell().Shell_NotifyIconW(message, &d);
  }
};

TEST_F(ShellUiConformance, NotifyIconAddModifyDeleteAnswerLikeTheShell) {
  ASSERT_TRUE(TaskbarUp());
  RecordingWindow w(Plat(), B().Instance());
  EXPECT_FALSE(Notify(NIM_MODIFY, Icon(w.hwnd(), 7, NIF_TIP))) << "not added yet";
  ASSERT_TRUE(Notify(NIM_ADD, Icon(w.hwnd(), 7, NIF_MESSAGE | NIF_TIP)));
  EXPECT_FALSE(Notify(NIM_ADD, Icon(w.hwnd(), 7, NIF_MESSAGE | NIF_TIP))) << "added twice";
  EXPECT_TRUE(Notify(NIM_MODIFY, Icon(w.hwnd(), 7, NIF_TIP)));
  auto version = Icon(w.hwnd(), 7, 0);
  version.uVersion = 4;
  EXPECT_TRUE(Notify(NIM_SETVERSION, version));
  EXPECT_TRUE(Notify(NIM_DELETE, Icon(w.hwnd(), 7, 0)));
  EXPECT_FALSE(Notify(NIM_DELETE, Icon(w.hwnd(), 7, 0))) << "deleted twice";
  EXPECT_FALSE(Notify(NIM_MODIFY, Icon(w.hwnd(), 7, NIF_TIP))) << "deleted";
}

TEST_F(ShellUiConformance, MenusAreBuiltCountedAndDestroyedOnce) {
  HMENU menu = Ui().CreatePopupMenu();
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(Ui().GetMenuItemCount(menu), 0);
  EXPECT_TRUE(Ui().AppendMenuW(menu, MF_STRING, 32788, L"Open"));
  EXPECT_TRUE(Ui().AppendMenuW(menu, MF_SEPARATOR, 0, nullptr));
  EXPECT_TRUE(Ui().AppendMenuW(menu, MF_STRING, 57664, L"About"));
  EXPECT_TRUE(Ui().SetMenuDefaultItem(menu, 0, TRUE));
  EXPECT_EQ(Ui().GetMenuItemCount(menu), 3);
  EXPECT_TRUE(Ui().DestroyMenu(menu));
  EXPECT_FALSE(Ui().DestroyMenu(menu));
  EXPECT_EQ(Ui().GetMenuItemCount(menu), -1);
}

TEST_F(ShellUiConformance, ADismissedMenuReturnsZeroAndPostsNoCommand) {
  constexpr UINT_PTR kCancelTimer = 77;
  HWND self = nullptr;
  // The window cancels the menu from a timer of the menu's own loop, as a user pressing
  // Escape would; where nobody is at the menu it closes by itself.
  RecordingWindow w(Plat(), B().Instance(), nullptr, [&](UINT msg, WPARAM wp, LPARAM, LRESULT* r) {
    if (msg != WM_TIMER || wp != kCancelTimer) return false;
    Ui().KillTimer(self, kCancelTimer);
    Ui().SendMessageW(self, WM_CANCELMODE, 0, 0);
    *r = 0;
    return true;
  });
  self = w.hwnd();
  HMENU menu = Ui().CreatePopupMenu();
  ASSERT_TRUE(Ui().AppendMenuW(menu, MF_STRING, 32788, L"Open"));
  Ui().SetForegroundWindow(w.hwnd());
  Ui().SetTimer(w.hwnd(), kCancelTimer, 200, nullptr);
  const BOOL shown =
      Ui().TrackPopupMenu(menu, TPM_RIGHTBUTTON | TPM_RIGHTALIGN, 100, 100, 0, w.hwnd(), nullptr);
  // Wine answers TRUE for a menu that was shown, whatever the user did.
  if (!B().IsWine()) {
    EXPECT_EQ(shown, FALSE);
  }
  Ui().KillTimer(w.hwnd(), kCancelTimer);
  B().Pass(50);
  EXPECT_EQ(w.Count(WM_COMMAND), 0u);
  EXPECT_TRUE(Ui().DestroyMenu(menu));
}

TEST_F(ShellUiConformance, MouseSettingsAndTheInputDesktopOfAnUnlockedSession) {
  EXPECT_GT(Ui().GetDoubleClickTime(), 0u);
  POINT pt{-1, -1};
  EXPECT_TRUE(Ui().GetCursorPos(&pt));
  HDESK desk = Ui().OpenInputDesktop(0, FALSE, DESKTOP_SWITCHDESKTOP);
  ASSERT_NE(desk, nullptr);
  EXPECT_TRUE(Ui().CloseDesktop(desk));
}

TEST_F(ShellUiConformance, BalloonProgressComesBackToTheIconsWindow) {
  SKIP_ON_WINE("Wine shows the balloon but sends no NIN_BALLOON* callbacks");
  ASSERT_TRUE(TaskbarUp());
  RecordingWindow w(Plat(), B().Instance());
  ASSERT_TRUE(Notify(NIM_ADD, Icon(w.hwnd(), 8, NIF_MESSAGE | NIF_TIP)));
  auto balloon = Icon(w.hwnd(), 8, NIF_INFO);
  std::wcscpy(balloon.szInfo, L"hello");
  std::wcscpy(balloon.szInfoTitle, L"conformance");
  balloon.uTimeout = 10000;
  ASSERT_TRUE(Notify(NIM_MODIFY, balloon));
  EXPECT_TRUE(WaitUntil([&] {
    for (const auto& r : w.Of(WM_APP + 20)) {
      if (r.lp == static_cast<LPARAM>(NIN_BALLOONSHOW)) return true;
    }
    return false;
  }));
  EXPECT_TRUE(Notify(NIM_DELETE, Icon(w.hwnd(), 8, 0)));
}

}  // namespace
}  // namespace conformance
