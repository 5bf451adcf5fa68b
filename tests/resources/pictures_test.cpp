// The painted pictures: their sizes and depths, the colour limit of the
// 256-colour picture, and that each actually shows something.
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "resources/resources.h"

namespace {

int DistinctColours(const uint8_t* px, int pixels, int channels) {
  std::set<uint32_t> seen;
  for (int i = 0; i < pixels; ++i) {
    const uint8_t* p = px + size_t(i) * channels;
    seen.insert(uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]);
  }
  return int(seen.size());
}

struct BitmapCase {
  int32_t id, width, height, bits;
  int minColours, maxColours;
};

class PictureBitmap : public testing::TestWithParam<BitmapCase> {};

TEST_P(PictureBitmap, HasItsSizeDepthAndColours) {
  const BitmapCase& want = GetParam();
  const BitmapResource* b = res::Bitmap(want.id);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->id, want.id);
  EXPECT_EQ(b->width, want.width);
  EXPECT_EQ(b->height, want.height);
  EXPECT_EQ(b->bitsPerPixel, want.bits);
  ASSERT_NE(b->rgb, nullptr);
  int colours = DistinctColours(b->rgb, b->width * b->height, 3);
  EXPECT_GE(colours, want.minColours) << "picture looks blank";
  EXPECT_LE(colours, want.maxColours);
}

INSTANTIATE_TEST_SUITE_P(Both, PictureBitmap,
                         testing::Values(BitmapCase{110, 125, 25, 24, 64, 125 * 25},
                                         BitmapCase{120, 695, 125, 8, 64, 256}));

// The name is lettered in light strokes over the darker sky: the picture's
// title band holds near-white pixels that the sky alone never has.
TEST(PictureBitmap, CarriesLightLettering) {
  for (int32_t id : {110, 120}) {
    const BitmapResource* b = res::Bitmap(id);
    ASSERT_NE(b, nullptr);
    int light = 0;
    for (int i = 0; i < b->width * b->height; ++i) {
      const uint8_t* p = b->rgb + size_t(i) * 3;
      if (p[0] > 230 && p[1] > 220 && p[2] > 200) ++light;
    }
    EXPECT_GT(light, b->width * b->height / 100) << id;
  }
}

TEST(PictureBitmap, RepaintingGivesTheSamePixels) {
  const BitmapResource* before = res::Bitmap(120);
  ASSERT_NE(before, nullptr);
  std::vector<uint8_t> first(before->rgb, before->rgb + size_t(before->width) * before->height * 3);
  res::ResetPictures();
  const BitmapResource* after = res::Bitmap(120);
  ASSERT_NE(after, nullptr);
  EXPECT_EQ(std::vector<uint8_t>(after->rgb, after->rgb + first.size()), first);
}

TEST(ProgramIcon, IsARoundedTileWithTransparentCorners) {
  const IconResource* icon = res::Icon(100);
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(icon->id, 100);
  ASSERT_EQ(icon->width, 32);
  ASSERT_EQ(icon->height, 32);
  ASSERT_NE(icon->rgba, nullptr);
  auto alpha = [&](int x, int y) { return icon->rgba[(size_t(y) * 32 + x) * 4 + 3]; };
  for (auto [x, y] : {std::pair{0, 0}, {31, 0}, {0, 31}, {31, 31}}) EXPECT_EQ(alpha(x, y), 0) << x << "," << y;
  for (auto [x, y] : {std::pair{16, 16}, {4, 16}, {16, 4}, {27, 27}}) EXPECT_EQ(alpha(x, y), 255) << x << "," << y;
  EXPECT_GE(DistinctColours(icon->rgba, 32 * 32, 4), 16);
}

}  // namespace
