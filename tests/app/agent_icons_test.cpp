// The tray icons' pixel table, as the simulated resource module carries it: complete, well
// formed, and drawn so the tray's colour rule and flash behave as intended.
#include "app/res/agent_icons.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <utility>

namespace {

constexpr unsigned kFirstIcon = IDI_TRAY_NO_READER;
constexpr unsigned kLastIcon = IDI_TRAY_FLASH_4;

const app_res::AgentIconImage* Find(unsigned id, int size) {
  for (const auto& image : app_res::kAgentIcons)
    if (image.id == id && image.size == size) return &image;
  return nullptr;
}

bool InPalette(char key) {
  return std::any_of(std::begin(app_res::kAgentIconPalette), std::end(app_res::kAgentIconPalette),
                     [key](const auto& c) { return c.key == key; });
}

// The per-channel minimum of the image drawn over opaque white, as the tray measures it.
std::uint32_t DarkestOnWhite(const app_res::AgentIconImage& image) {
  unsigned r = 255, g = 255, b = 255;
  for (int y = 0; y < image.size; ++y)
    for (int x = 0; x < image.size; ++x) {
      const std::uint32_t p = app_res::IconPixel(image, x, y);
      if ((p >> 24) == 0) continue;  // white shows through
      r = std::min(r, (p >> 16) & 0xFFu);
      g = std::min(g, (p >> 8) & 0xFFu);
      b = std::min(b, p & 0xFFu);
    }
  return (r << 16) | (g << 8) | b;
}

int CountKey(const app_res::AgentIconImage& image, char key) {
  int n = 0;
  for (int y = 0; y < image.size; ++y)
    n += static_cast<int>(std::count(image.rows[y], image.rows[y] + image.size, key));
  return n;
}

std::set<std::pair<int, int>> Opaque(const app_res::AgentIconImage& image) {
  std::set<std::pair<int, int>> pixels;
  for (int y = 0; y < image.size; ++y)
    for (int x = 0; x < image.size; ++x)
      if (app_res::IconPixel(image, x, y) >> 24) pixels.insert({x, y});
  return pixels;
}

TEST(AgentIconsTest, EveryIconInBothSizesWithSquareRowsOfPaletteKeys) {
  EXPECT_EQ(std::size(app_res::kAgentIcons), 12u);
  for (unsigned id = kFirstIcon; id <= kLastIcon; ++id)
    for (int size : {16, 32}) {
      SCOPED_TRACE(testing::Message() << id << " at " << size);
      const auto* image = Find(id, size);
      ASSERT_NE(image, nullptr);
      for (int y = 0; y < size; ++y) {
        ASSERT_EQ(std::strlen(image->rows[y]), static_cast<std::size_t>(size)) << "row " << y;
        for (int x = 0; x < size; ++x) EXPECT_TRUE(InPalette(image->rows[y][x])) << x << "," << y;
      }
      // Neither empty nor a solid square.
      const auto opaque = Opaque(*image).size();
      EXPECT_GT(opaque, static_cast<std::size_t>(size * size / 8));
      EXPECT_LT(opaque, static_cast<std::size_t>(size * size * 3 / 4));
    }
}

// The colour rule redraws images whose lighter resting icon has no channel below 169 on a
// light taskbar: ours must have dark parts in both resting icons, in both sizes.
TEST(AgentIconsTest, RestingIconsAreDarkEnoughToBeLeftAsTheyAre) {
  for (unsigned id : {IDI_TRAY_NO_READER, IDI_TRAY_READER})
    for (int size : {16, 32}) {
      SCOPED_TRACE(testing::Message() << id << " at " << size);
      const std::uint32_t darkest = DarkestOnWhite(*Find(id, size));
      const unsigned lowest =
          std::min({(darkest >> 16) & 0xFFu, (darkest >> 8) & 0xFFu, darkest & 0xFFu});
      EXPECT_LT(lowest, 169u);
      // Every channel dark, not one by chance: the rule must hold for any taskbar hue.
      EXPECT_LT((darkest >> 16) & 0xFFu, 169u);
      EXPECT_LT((darkest >> 8) & 0xFFu, 169u);
      EXPECT_LT(darkest & 0xFFu, 169u);
    }
}

// A flash lights the fingerprint from the inside out over frames 133 to 136 and returns to a
// resting icon: frames cover the same ridges as the resting no-reader icon, each lights more
// than the one before, and the last lights them all.
TEST(AgentIconsTest, FlashFramesLightMoreRidgesEachOnTheRestingShape) {
  constexpr char kLit = 'L';
  for (int size : {16, 32}) {
    SCOPED_TRACE(size);
    const auto resting = Opaque(*Find(IDI_TRAY_NO_READER, size));
    EXPECT_EQ(CountKey(*Find(IDI_TRAY_NO_READER, size), kLit), 0);
    EXPECT_EQ(CountKey(*Find(IDI_TRAY_READER, size), kLit), 0);
    int previous = 0;
    for (unsigned id = IDI_TRAY_FLASH_1; id <= IDI_TRAY_FLASH_4; ++id) {
      SCOPED_TRACE(id);
      const auto& frame = *Find(id, size);
      EXPECT_EQ(Opaque(frame), resting);
      const int lit = CountKey(frame, kLit);
      EXPECT_GT(lit, previous);
      previous = lit;
    }
    EXPECT_EQ(previous, static_cast<int>(resting.size()));
  }
}

// The reader icon differs from the no-reader one where the user looks: the ready dot.
TEST(AgentIconsTest, ReaderIconCarriesTheReadyDot) {
  for (int size : {16, 32}) {
    SCOPED_TRACE(size);
    EXPECT_EQ(CountKey(*Find(IDI_TRAY_NO_READER, size), 'g'), 0);
    const int dot = CountKey(*Find(IDI_TRAY_READER, size), 'g');
    EXPECT_EQ(dot, (3 * size / 16) * (3 * size / 16));
    // In the lower right corner.
    EXPECT_EQ(Find(IDI_TRAY_READER, size)->rows[size - 1][size - 1], 'g');
  }
}

TEST(AgentIconsTest, PixelOutsideThePaletteReadsTransparent) {
  static constexpr const char* kRows[] = {"?n", ".o"};
  constexpr app_res::AgentIconImage kOdd{999, 2, kRows};
  EXPECT_EQ(app_res::IconPixel(kOdd, 0, 0), 0u);
  EXPECT_EQ(app_res::IconPixel(kOdd, 1, 0), 0xFF123C7Au);
  EXPECT_EQ(app_res::IconPixel(kOdd, 0, 1), 0u);
}

}  // namespace
