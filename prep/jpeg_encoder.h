// The camera's pictures as JPEG, within its rate: the fifteen frames of every second, as the
// movie stores them, take at most MAX_VIDEO_BYTES_PER_SECOND bytes together, at the best
// picture that allows. Each frame gets the lowest quantiser that keeps it within its share of
// what its second has left; a frame that does not fit even at the coarsest is kept at the
// coarsest (the engine then counts its second as over the rate).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "prep/av_support.h"

namespace reelfix::prep {

inline constexpr int kFinestQuantiser = 1;
inline constexpr int kCoarsestQuantiser = 31;

// The lowest quantiser from kFinestQuantiser to kCoarsestQuantiser for which fits(q) holds,
// taking fits to be monotone (a coarser quantiser never makes a larger frame), or
// kCoarsestQuantiser when none does; fits(result) has been asked. The search starts at `guess`
// and gallops from there, so a right guess costs two questions.
int lowest_fitting_quantiser(int guess, const std::function<bool(int)>& fits);

// The second being written: the bytes its frames took so far and their number.
struct SecondBudget {
  std::int64_t used = 0;
  int frames = 0;
};

// What the next frame of the second may take: an even share of what is left among the frames
// still to come. A small frame leaves more to those after it; a frame that could not be made
// small enough takes from them.
std::int64_t next_frame_budget(const SecondBudget& second);

// Counts a frame of `stored_size` bytes into the second; the fifteenth starts the next second.
void account_frame(SecondBudget& second, std::int64_t stored_size);

struct JpegEncoder {
  std::string output_name;  // the movie the pictures are for, for messages
  CodecPtr codec;
  PacketPtr packet;            // the frame last encoded within its budget
  int quantiser = 4;           // the quantiser of that frame; the next search starts here
  std::int64_t trial_pts = 0;  // every trial is a frame of its own to the encoder
};

// An MJPEG encoder for 320x240 full-range 4:2:0 frames, with the standard Huffman tables of
// JPEG (T.81 K.3): the same tables that every frame of the movie carries for the camera.
JpegEncoder make_jpeg_encoder(const std::string& output_name);

// Encodes the frame at quantiser q into `packet` and returns its stored size: its own size with
// the table segment the movie adds (convert/jpeg_fixup.h). The frame's pts and quality change.
std::int64_t encode_at(JpegEncoder& encoder, AVFrame& frame, int q, AVPacket& packet);

// Encodes the frame at the lowest quantiser whose stored size (with the table segment the movie
// adds) is at most `budget`, or at the coarsest. Leaves the frame in encoder.packet and returns
// its stored size.
std::int64_t encode_within(JpegEncoder& encoder, AVFrame& frame, std::int64_t budget);

}  // namespace reelfix::prep
