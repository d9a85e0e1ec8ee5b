// The avatar's rules apart from any window: fitting into the work area, the looks, the
// balloon texts and tip point, and premultiplied alpha.
#include "tray/avatar_rules.h"
#include "tests/tray/rect_text.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using traytest::SameRect;
using traytest::Show;

TEST(AvatarRules, TheSquareIsFittedRightAndBottomFirstThenLeftAndTop) {
  const RECT area{0, 0, 1920, 1040};
  struct Case {
    RECT square;
    RECT expected;
    const char* why;
  } cases[] = {
      {{10, 10, 58, 58}, {10, 10, 58, 58}, "inside stays"},
      {{5000, 5000, 5048, 5048}, {1872, 992, 1920, 1040}, "far right and below: the corner"},
      {{1900, 500, 1948, 548}, {1872, 500, 1920, 548}, "right edge across"},
      {{-30, -70, 18, -22}, {0, 0, 48, 48}, "left of and above the area"},
      {{0, 0, 0, 0}, {0, 0, 0, 0}, "empty stays"},
      {{100, 100, 2100, 1200}, {0, 0, 2000, 1100}, "too large: left and top win"},
  };
  for (const auto& c : cases) {
    const RECT got = tray::FitIntoWorkArea(c.square, area);
    EXPECT_TRUE(SameRect(got, c.expected)) << c.why << ": " << Show(got);
  }
  // An offset work area (taskbar at the left) moves the bounds with it.
  EXPECT_TRUE(
      SameRect(tray::FitIntoWorkArea({0, 0, 48, 48}, {40, 0, 1920, 1080}), {40, 0, 88, 48}));
}

TEST(AvatarRules, LooksBalloonTextsAndTipPoint) {
  const std::pair<int, UINT> looks[] = {{0, 5000}, {1, 1000}, {2, 3000}, {3, 5000}};
  for (const auto& [code, ms] : looks) {
    auto look = tray::LookFor(static_cast<WPARAM>(code));
    ASSERT_TRUE(look) << code;
    EXPECT_EQ(look->frame, code);
    EXPECT_EQ(look->visibleMs, ms);
    EXPECT_EQ(look->balloon, code == 3);
  }
  EXPECT_FALSE(tray::LookFor(4));
  EXPECT_FALSE(tray::LookFor(static_cast<WPARAM>(-1)));

  for (LPARAM r = -1; r <= 20; ++r) {
    UINT expected = 114;
    if ((r >= 1 && r <= 7) || (r >= 11 && r <= 13) || r == 15) expected = 115;
    if (r == 14) expected = 116;
    if (r == 17) expected = 117;
    EXPECT_EQ(tray::BalloonStringFor(r), expected) << r;
  }

  // A third of the side (integer division) toward the middle of the screen.
  const int side = 50;  // 50 / 3 == 16
  auto tip = [&](LONG x, LONG y) { return tray::BalloonTipPoint({x, y}, side, 1920, 1017); };
  EXPECT_EQ(tip(100, 100).x, 116);
  EXPECT_EQ(tip(100, 100).y, 116);
  EXPECT_EQ(tip(1800, 1000).x, 1784);
  EXPECT_EQ(tip(1800, 1000).y, 984);
  EXPECT_EQ(tip(960, 508).x, 944) << "the middle itself counts as the right half";
  EXPECT_EQ(tip(960, 508).y, 492);
}

TEST(AvatarRules, PremultiplyScalesColourByAlpha) {
  // B, G, R, A per pixel.
  std::vector<BYTE> px = {200, 100, 50, 255, 200, 100, 50, 0, 255, 255, 255, 128, 9, 9, 9, 1};
  tray::PremultiplyAlpha(px.data(), 4);
  const std::vector<BYTE> expected = {200, 100, 50,  255, 0, 0, 0, 0,
                                      128, 128, 128, 128, 0, 0, 0, 1};
  EXPECT_EQ(px, expected);
}

}  // namespace
