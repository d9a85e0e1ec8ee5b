// The avatar's strip as the executable carries it: four square frames whose corners are
// transparent, whose rim is opaque, and whose centres tell the looks apart.
#include "app/res/agent_avatar.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

namespace {

TEST(AgentAvatarTest, FourSquareFramesWithTransparentCornersAndDistinctCentres) {
  constexpr int kSide = app_res::kAvatarSide;
  ASSERT_EQ(app_res::kAvatarFrames, 4);
  ASSERT_EQ(sizeof(app_res::kAvatarRows) / sizeof(app_res::kAvatarRows[0]),
            static_cast<size_t>(kSide));
  for (const char* row : app_res::kAvatarRows)
    ASSERT_EQ(std::strlen(row), static_cast<size_t>(kSide * app_res::kAvatarFrames));
  std::set<std::uint32_t> centres;
  for (int f = 0; f < app_res::kAvatarFrames; ++f) {
    const int x0 = f * kSide;
    SCOPED_TRACE(f);
    for (int c : {0, kSide - 1}) {
      EXPECT_EQ(app_res::AvatarPixel(x0 + c, 0) >> 24, 0u);
      EXPECT_EQ(app_res::AvatarPixel(x0 + c, kSide - 1) >> 24, 0u);
    }
    // Somewhere on the edge the alpha is partial: a soft edge needs per-pixel alpha.
    bool partial = false;
    for (int x = 0; x < kSide; ++x) {
      const std::uint32_t a = app_res::AvatarPixel(x0 + x, 3) >> 24;
      partial = partial || (a > 0 && a < 255);
    }
    EXPECT_TRUE(partial);
    const std::uint32_t centre = app_res::AvatarPixel(x0 + kSide / 2, kSide / 2);
    EXPECT_EQ(centre >> 24, 0xFFu);
    centres.insert(centre);
  }
  EXPECT_EQ(centres.size(), 4u);
}

}  // namespace
