#include "prep/fit.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace reelfix::prep {
namespace {

// A picture scaled up to fill the frame (kCrop) stays within this many times the frame's size,
// whatever shape a file claims; a shape beyond it is stretched to this.
constexpr double kMaxOverflow = 16;

// The nearest even whole number, at least 2 and at most `limit`.
int even(double value, double limit) {
  double clamped = std::clamp(value, 2.0, limit);
  return std::max(2, static_cast<int>(std::lround(clamped / 2)) * 2);
}

}  // namespace

Placement fit_picture(int width, int height, int sar_num, int sar_den, FitMode mode) {
  Placement placement;
  if (mode == FitMode::kStretch || width <= 0 || height <= 0) return placement;
  if (sar_num <= 0 || sar_den <= 0) sar_num = sar_den = 1;
  // The shape as shown: width * sar_num / (height * sar_den).
  const double aspect =
      static_cast<double>(width) * sar_num / (static_cast<double>(height) * sar_den);
  const bool wider = std::int64_t{3} * width * sar_num > std::int64_t{4} * height * sar_den;
  // Pad fits the picture's longer side to the frame; crop fits its shorter side.
  if (wider == (mode == FitMode::kPad)) {
    placement.width = kMovieWidth;
    placement.height = even(kMovieWidth / aspect,
                            mode == FitMode::kPad ? kMovieHeight : kMaxOverflow * kMovieHeight);
  } else {
    placement.height = kMovieHeight;
    placement.width = even(kMovieHeight * aspect,
                           mode == FitMode::kPad ? kMovieWidth : kMaxOverflow * kMovieWidth);
  }
  // Centred; offsets even, so that chroma samples stay whole.
  placement.x = (kMovieWidth - placement.width) / 4 * 2;
  placement.y = (kMovieHeight - placement.height) / 4 * 2;
  return placement;
}

std::string picture_filter_description(const Placement& placement, FitMode mode) {
  // fps first: only the frames kept are scaled. The first scaler only scales; the second
  // converts the colours from whatever matrix and range the frames carry to JPEG's full-range
  // BT.601. Between two matrices libswscale goes through RGB, which costs several times a plain
  // scaling at the input's size, and little at the camera's.
  std::string chain = "fps=15,scale=w=" + std::to_string(placement.width) +
                      ":h=" + std::to_string(placement.height) +
                      ",scale=in_color_matrix=auto:out_color_matrix=bt601:out_range=full";
  const std::string frame = std::to_string(kMovieWidth) + ":" + std::to_string(kMovieHeight);
  if (mode == FitMode::kPad) {
    chain += ",pad=" + frame + ":" + std::to_string(placement.x) + ":" +
             std::to_string(placement.y) + ":black";
  } else if (mode == FitMode::kCrop) {
    chain +=
        ",crop=" + frame + ":" + std::to_string(-placement.x) + ":" + std::to_string(-placement.y);
  }
  return chain + ",setsar=1,format=yuvj420p";
}

}  // namespace reelfix::prep
