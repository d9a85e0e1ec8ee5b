// The avatar window on the simulated machine, made through CGuideWindow as the agent makes it
// (a strip of four 16-pixel frames in the agent's module): placing, looks, balloon, drag,
// focus and close.
#include "tray/guide_window.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/sim/desktop.h"
#include "platform/sim/machine.h"
#include "platform/sim/module_table.h"
#include "platform/sim/process.h"
#include "platform/sim/process_gdi.h"
#include "platform/sim/registry_store.h"
#include "platform/sim/screen.h"
#include "platform/sim/session_manager.h"
#include "platform/sim/window_manager.h"
#include "support/trace/trace.h"
#include "support/trace/trace_sink.h"
#include "tests/tray/rect_text.h"

namespace {

using tray::kAvatarMessage;

using traytest::SameRect;
using traytest::Show;

constexpr int kSide = 16;
// Frame n's pixels: straight alpha 0x80, red n * 60, and a transparent corner.
DWORD FramePixel(int frame, int x, int y) {
  if (x == 0 && y == 0) return 0x00FFFFFFu;
  return 0x80000000u | (static_cast<DWORD>(frame * 60) << 16) | 0x0000C8u;
}
// What the window shows for frame n after premultiplying: red and blue * 128 / 255.
DWORD DrawnPixel(int frame) {
  return 0x80000000u | (static_cast<DWORD>(frame * 60 * 128 / 255) << 16) | (200 * 128 / 255);
}

class AvatarWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    VDTraceNS::Bind(proc.get());
    sim::IconImage strip{4 * kSide, kSide, {}};
    for (int y = 0; y < kSide; ++y)
      for (int x = 0; x < 4 * kSide; ++x) strip.argb.push_back(FramePixel(x / kSide, x % kSide, y));
    machine.Modules().SetBitmap(sim::ProcessOptions{}.exePath, tray::kAvatarBitmap, strip);
    agentKey =
        L"HKU\\" + machine.Sessions().UserSid(1) + L"\\SOFTWARE\\Veridane\\Applications\\Agent";
  }
  void TearDown() override {
    guide.reset();
    VDTraceNS::Bind(nullptr);
  }

  void Start() {
    auto module = reinterpret_cast<HINSTANCE>(proc->Modules().GetModuleHandleW(nullptr));
    guide = std::make_unique<tray::CGuideWindow>(
        *proc, module, [](UINT id) { return L"text " + std::to_wstring(id); });
    avatar = guide->Window();
  }
  void Post(WPARAM code, LPARAM result) {
    proc->Ui().PostMessageW(avatar, kAvatarMessage, code, result);
    machine.RunUntilIdle();
  }
  bool Visible() { return proc->Ui().IsWindowVisible(avatar) != FALSE; }
  RECT Place() { return screen.Rect(avatar).value_or(RECT{-1, -1, -1, -1}); }
  DWORD Centre() { return screen.PictureOf(avatar)->At(kSide / 2, kSide / 2); }
  HWND OtherWindow() {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = proc->Ui().DefWindowProcAddress();
    wc.lpszClassName = L"Other";
    proc->Ui().RegisterClassExW(&wc);
    return proc->Ui().CreateWindowExW(0, L"Other", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                      nullptr, nullptr);
  }
  std::optional<sim::Screen::Tip> Balloon() {
    HWND b = guide->Avatar().BalloonWindow();
    return b ? screen.TipOf(b) : std::nullopt;
  }

  sim::Machine machine;
  std::unique_ptr<sim::Process> proc = machine.CreateProcess({});
  sim::Screen& screen = machine.GetScreen();
  VDTraceNS::CRecordingSink sink;
  std::wstring agentKey;
  std::unique_ptr<tray::CGuideWindow> guide;
  HWND avatar = nullptr;
};

TEST_F(AvatarWindowTest, CreatedHiddenTopMostLayeredAtTheSavedCorner) {
  Start();
  ASSERT_NE(avatar, nullptr);
  EXPECT_EQ(guide->MessageId(), 1325u);
  auto info = machine.Windows().Info(avatar);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->className, L"VD_GlobalAvatarIconClass");
  EXPECT_EQ(info->title, L"VD_GlobalAvatarIcon");
  EXPECT_EQ(info->style & WS_POPUP, static_cast<DWORD>(WS_POPUP));
  EXPECT_EQ(info->exStyle, static_cast<DWORD>(WS_EX_TOOLWINDOW | WS_EX_LAYERED));
  EXPECT_EQ(info->parent, nullptr);
  EXPECT_FALSE(Visible());
  EXPECT_TRUE(screen.IsTopmost(avatar));
  EXPECT_TRUE(SameRect(Place(), {10, 10, 10 + kSide, 10 + kSide})) << Show(Place());
  EXPECT_EQ(Centre(), DrawnPixel(1)) << "frame 1 first, premultiplied";
  EXPECT_EQ(screen.PictureOf(avatar)->At(0, 0), 0u) << "transparent stays transparent";
}

TEST_F(AvatarWindowTest, ASavedCornerOffTheWorkAreaLandsInItsBottomRightCorner) {
  machine.Registry().SetDword(agentKey, L"SaveFeedbackIconX", 5000);
  machine.Registry().SetDword(agentKey, L"SaveFeedbackIconY", 5000);
  Start();
  // The taskbar takes the bottom 40 pixels of 1920 x 1080.
  EXPECT_TRUE(SameRect(Place(), {1920 - kSide, 1040 - kSide, 1920, 1040})) << Show(Place());
}

TEST_F(AvatarWindowTest, WithoutItsPictureTheAvatarIsUnusable) {
  machine.Modules().SetBitmap(sim::ProcessOptions{}.exePath, tray::kAvatarBitmap, {});
  Start();
  EXPECT_EQ(guide->MessageId(), 0u);
  EXPECT_EQ(guide->Window(), nullptr);
  EXPECT_TRUE(
      sink.Contains('E', std::to_string(static_cast<long>(E_FAIL)) + " Failed to create window."));
}

TEST_F(AvatarWindowTest, ALookShowsItsFrameForItsTimeAndDrawsLeaveNoObjects) {
  Start();
  const sim::GdiCounts before = sim::GdiObjects(*proc);
  Post(2, 0);
  EXPECT_TRUE(Visible());
  EXPECT_EQ(Centre(), DrawnPixel(2)) << "premultiplied once only, however often drawn";
  machine.AdvanceBy(2999);
  EXPECT_TRUE(Visible());
  machine.AdvanceBy(1);
  EXPECT_FALSE(Visible());
  for (WPARAM code : {0, 1, 2, 3, 0}) Post(code, 0);
  EXPECT_EQ(Centre(), DrawnPixel(0));
  EXPECT_EQ(sim::GdiObjects(*proc), before);

  // A new look restarts the time: look 1 (1 s) right after look 0 hides after 1 s.
  Post(0, 0);
  Post(1, 0);
  machine.AdvanceBy(1000);
  EXPECT_FALSE(Visible());
  // Code 3 without a result code and codes above 3 do nothing at all.
  Post(3, 0);
  Post(4, 14);
  EXPECT_FALSE(Visible());
  EXPECT_EQ(Centre(), DrawnPixel(1));
}

TEST_F(AvatarWindowTest, LookThreeShowsTheResultTextInABalloonPointingAtTheAvatar) {
  Start();
  Post(3, 14);
  auto tip = Balloon();
  ASSERT_TRUE(tip);
  EXPECT_EQ(tip->text, L"text 116");
  EXPECT_TRUE(tip->active);
  EXPECT_EQ(tip->owner, avatar);
  EXPECT_EQ(tip->style, 0x80000043u);
  EXPECT_EQ(tip->toolFlags, static_cast<UINT>(TTF_TRACK));
  EXPECT_EQ(tip->toolId, 1u);
  EXPECT_EQ(tip->toolRecordSize, sizeof(TOOLINFOW)) << "Windows 10 takes the longer record";
  EXPECT_EQ(tip->maxWidth, 1920);
  EXPECT_TRUE(tip->title.empty());
  // Centre (10 + 8, 10 + 8) in the top-left quarter: a third of 16 (5) right and down.
  EXPECT_EQ(tip->track.x, 23);
  EXPECT_EQ(tip->track.y, 23);
  EXPECT_EQ(machine.GetDesktop().Texts(1, sim::desktop_kind::kTooltip).back(),
            L"shown: \"text 116\" at (23, 23)");

  // Another result code: the old balloon goes and a new one says the other text.
  const HWND first = guide->Avatar().BalloonWindow();
  Post(3, 99);
  EXPECT_FALSE(machine.Windows().Info(first));
  ASSERT_TRUE(Balloon());
  EXPECT_EQ(Balloon()->text, L"text 114");

  // The hide timer takes the balloon with the avatar.
  const HWND second = guide->Avatar().BalloonWindow();
  machine.AdvanceBy(5000);
  EXPECT_FALSE(Visible());
  EXPECT_FALSE(guide->Avatar().HasBalloon());
  EXPECT_FALSE(machine.Windows().Info(second));
}

TEST_F(AvatarWindowTest, AClickOnTheBalloonHidesIt) {
  Start();
  Post(3, 17);
  const HWND b = guide->Avatar().BalloonWindow();
  ASSERT_TRUE(proc->Ui().IsWindowVisible(b));
  proc->Ui().PostMessageW(b, WM_LBUTTONDOWN, MK_LBUTTON, 0);
  machine.RunUntilIdle();
  EXPECT_FALSE(proc->Ui().IsWindowVisible(b));
  EXPECT_TRUE(Visible()) << "the avatar itself stays for its time";
}

TEST_F(AvatarWindowTest, DraggingStoresTheNewCornerAndHidesTwoSecondsAfterRelease) {
  Start();
  Post(0, 0);
  ASSERT_TRUE(screen.PressLeft(1, {15, 15}));
  machine.RunUntilIdle();
  EXPECT_TRUE(guide->Avatar().IsDragging());
  EXPECT_EQ(proc->Ui().GetCapture(), avatar);
  ASSERT_TRUE(screen.MoveMouse(1, {215, 115}));
  machine.RunUntilIdle();
  EXPECT_TRUE(SameRect(Place(), {210, 110, 210 + kSide, 110 + kSide})) << Show(Place());
  EXPECT_EQ(Centre(), DrawnPixel(0)) << "repainted where it went";
  // Held longer than the look's 5 s: it stays.
  machine.AdvanceBy(6000);
  EXPECT_TRUE(Visible());
  ASSERT_TRUE(screen.ReleaseLeft(1, {215, 115}));
  machine.RunUntilIdle();
  EXPECT_FALSE(guide->Avatar().IsDragging());
  EXPECT_EQ(proc->Ui().GetCapture(), nullptr);
  EXPECT_EQ(machine.Registry().GetDword(agentKey, L"SaveFeedbackIconX"), 210u);
  EXPECT_EQ(machine.Registry().GetDword(agentKey, L"SaveFeedbackIconY"), 110u);
  machine.AdvanceBy(1999);
  EXPECT_TRUE(Visible());
  machine.AdvanceBy(1);
  EXPECT_FALSE(Visible());
}

TEST_F(AvatarWindowTest, LosingTheCaptureMidDragEndsTheDrag) {
  Start();
  Post(0, 0);
  screen.PressLeft(1, {15, 15});
  machine.RunUntilIdle();
  screen.MoveMouse(1, {35, 15});
  machine.RunUntilIdle();
  proc->Ui().SetCapture(OtherWindow());  // another window of the thread takes the mouse
  machine.RunUntilIdle();
  EXPECT_FALSE(guide->Avatar().IsDragging());
  EXPECT_EQ(machine.Registry().GetDword(agentKey, L"SaveFeedbackIconX"), 30u);
  machine.AdvanceBy(2000);
  EXPECT_FALSE(Visible()) << "not kept up by a drag that can never end";
}

TEST_F(AvatarWindowTest, FocusGoesBackAndCloseOnlyHidesTheBalloon) {
  Start();
  const HWND other = OtherWindow();
  proc->Ui().SendMessageW(avatar, WM_SETFOCUS, reinterpret_cast<WPARAM>(other), 0);
  EXPECT_EQ(machine.GetDesktop().Focus(1), other);

  Post(3, 5);
  ASSERT_TRUE(guide->Avatar().HasBalloon());
  proc->Ui().SendMessageW(avatar, WM_CLOSE, 0, 0);
  EXPECT_FALSE(guide->Avatar().HasBalloon());
  EXPECT_TRUE(proc->Ui().IsWindow(avatar)) << "it lives as long as the main window";
}

}  // namespace
