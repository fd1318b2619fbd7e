#include <gtest/gtest.h>

#include "prep/fit.h"

extern "C" {
#include <libavutil/display.h>
}

#include <array>

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

TEST(PrepFit, TheDisplayMatrixTurnsThePictureAsFfmpegDoes) {
  constexpr std::int32_t kOne = 1 << 16;  // 1.0 in the matrix's 16.16 entries
  constexpr std::int32_t kW = 1 << 30;    // 1.0 in its last entry, 2.30
  using Matrix = std::array<std::int32_t, 9>;
  struct Case {
    const char* what;
    Matrix matrix;
    const char* filters;
    bool swaps_sides;
  };
  const Case cases[] = {
      {"upright", {kOne, 0, 0, 0, kOne, 0, 0, 0, kW}, "", false},
      // As a phone stores an upright video ("rotate" 90 in FFmpeg's metadata) and the other way.
      {"a quarter", {0, -kOne, 0, kOne, 0, 0, 0, 0, kW}, "transpose=cclock", true},
      {"three quarters", {0, kOne, 0, -kOne, 0, 0, 0, 0, kW}, "transpose=clock", true},
      {"half", {-kOne, 0, 0, 0, -kOne, 0, 0, 0, kW}, "hflip,vflip", false},
      {"mirrored", {-kOne, 0, 0, 0, kOne, 0, 0, 0, kW}, "hflip", false},
      {"upside down mirrored", {kOne, 0, 0, 0, -kOne, 0, 0, 0, kW}, "vflip", false},
      {"a quarter mirrored", {0, kOne, 0, kOne, 0, 0, 0, 0, kW}, "transpose=cclock_flip", true},
      {"three quarters mirrored",
       {0, -kOne, 0, -kOne, 0, 0, 0, 0, kW},
       "transpose=clock_flip",
       true},
      {"no scale at all", {0, 0, 0, 0, 0, 0, 0, 0, kW}, "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Orientation o = orientation_of(c.matrix.data());
    EXPECT_EQ(o.filters, c.filters);
    EXPECT_EQ(o.swaps_sides, c.swaps_sides);
  }
  EXPECT_EQ(orientation_of(nullptr).filters, "");
  // An odd angle (here 30 degrees clockwise) turns by that angle, in the same frame.
  Matrix odd{};
  av_display_rotation_set(odd.data(), 30);
  EXPECT_EQ(orientation_of(odd.data()).filters, "rotate=30.000000*PI/180");
  EXPECT_FALSE(orientation_of(odd.data()).swaps_sides);
}

}  // namespace
}  // namespace reelfix::prep
