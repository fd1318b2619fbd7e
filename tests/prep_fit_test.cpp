#include <gtest/gtest.h>

#include "prep/fit.h"

namespace reelfix::prep {
namespace {

TEST(PrepFit, EveryShapeGoesIntoTheFrameAsTheModeSays) {
  struct Case {
    int width, height, sar_num, sar_den;
    FitMode mode;
    int scaled_width, scaled_height, x, y;
  };
  const Case cases[] = {
      // 16:9 square pixels: bars of 30 lines above and below.
      {1280, 720, 1, 1, FitMode::kPad, 320, 180, 0, 30},
      {1920, 1080, 0, 1, FitMode::kPad, 320, 180, 0, 30},  // no shape given: square
      // 4:3 fills the frame, with square pixels or with PAL's 16:15 ones.
      {640, 480, 1, 1, FitMode::kPad, 320, 240, 0, 0},
      {720, 576, 16, 15, FitMode::kPad, 320, 240, 0, 0},
      // Anamorphic NTSC 16:9: the pixel shape makes the picture wide.
      {720, 480, 32, 27, FitMode::kPad, 320, 180, 0, 30},
      // An upright phone picture: bars at the sides, 136 columns of picture.
      {1080, 1920, 1, 1, FitMode::kPad, 136, 240, 92, 0},
      // 2.39:1 cinema: 134 lines of picture.
      {1920, 804, 1, 1, FitMode::kPad, 320, 134, 0, 52},
      // Crop fills the frame and cuts the sides evenly (52 and 54 columns).
      {1280, 720, 1, 1, FitMode::kCrop, 426, 240, -52, 0},
      {1080, 1920, 1, 1, FitMode::kCrop, 320, 568, 0, -164},
      {640, 480, 1, 1, FitMode::kCrop, 320, 240, 0, 0},
      // Stretch ignores the shape.
      {1280, 720, 1, 1, FitMode::kStretch, 320, 240, 0, 0},
      // A shape no real picture has stays within bounds.
      {100000, 10, 1, 1, FitMode::kCrop, 5120, 240, -2400, 0},
      {100000, 10, 1, 1, FitMode::kPad, 320, 2, 0, 118},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " mode " +
                 std::to_string(static_cast<int>(c.mode)));
    const Placement p = fit_picture(c.width, c.height, c.sar_num, c.sar_den, c.mode);
    EXPECT_EQ(p.width, c.scaled_width);
    EXPECT_EQ(p.height, c.scaled_height);
    EXPECT_EQ(p.x, c.x);
    EXPECT_EQ(p.y, c.y);
    // Sizes and offsets even, for whole 4:2:0 chroma samples.
    EXPECT_EQ(p.width % 2 + p.height % 2 + p.x % 2 + p.y % 2, 0);
  }
}

}  // namespace
}  // namespace reelfix::prep
