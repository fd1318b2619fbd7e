// The picture's way from the input's decoded frames to the camera's 320x240 frames at 15 a
// second: one libavfilter graph running the chain of fit.h.
#pragma once

#include <string>

#include "prep/av_support.h"
#include "prep/fit.h"

namespace reelfix::prep {

struct PictureFilter {
  GraphPtr graph;
  AVFilterContext* source = nullptr;  // "buffer": takes the decoded frames
  AVFilterContext* sink = nullptr;    // "buffersink": gives the camera's frames
  std::string input_name;             // for messages
};

// A graph for frames like `first`, whose timestamps are in `time_base` and whose pixels are
// `aspect` as wide as they are high (0/1 or any zero: square).
PictureFilter make_picture_filter(const AVFrame& first, AVRational time_base, AVRational aspect,
                                  FitMode mode, const std::string& input_name);

// Hands a frame to the graph, which takes over its data. A frame that does not say which colours
// it holds is taken as BT.709 from 720 lines up (HD) and BT.601 below, as players take it.
void push_picture(PictureFilter& filter, AVFrame& frame);

// No frame follows; the last one lasts until `end_pts` (in the time base of the frames).
void end_pictures(PictureFilter& filter, std::int64_t end_pts);

// The next camera frame, in `frame` with its pts counting frames of 1/15 s; false when none is
// ready yet or none is left.
bool pull_picture(PictureFilter& filter, AVFrame& frame);

}  // namespace reelfix::prep
