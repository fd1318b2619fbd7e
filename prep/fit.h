// How a picture of any size and pixel shape goes into the camera's 320x240 square pixels, and
// the filter chain that does it.
#pragma once

#include <string>

namespace reelfix::prep {

inline constexpr int kMovieWidth = 320;
inline constexpr int kMovieHeight = 240;

enum class FitMode {
  kPad,      // the whole picture, black bars above and below or at the sides
  kCrop,     // the picture fills the frame; what overflows is cut off, evenly on both sides
  kStretch,  // the picture fills the frame; its shape is ignored
};

// Where the scaled picture lies in the 320x240 frame. For kPad it lies inside (x, y >= 0); for
// kCrop the frame lies inside it (x, y <= 0: the frame starts -x, -y into the picture).
struct Placement {
  int width = kMovieWidth;  // the scaled picture, in square pixels
  int height = kMovieHeight;
  int x = 0;
  int y = 0;
};

// The placement of a width x height picture whose pixels are sar_num:sar_den as wide as they are
// high (0:0 or any zero: square). Sizes and offsets are even, as 4:2:0 chroma needs.
Placement fit_picture(int width, int height, int sar_num, int sar_den, FitMode mode);

// The libavfilter chain from decoded frames to the camera's pictures: 15 frames per second
// chosen by time, the placement, square pixels, full-range BT.601 4:2:0 as JPEG stores it.
std::string picture_filter_description(const Placement& placement, FitMode mode);

}  // namespace reelfix::prep
