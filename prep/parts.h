// The movies that one input becomes. The camera plays at most 180 seconds, so a longer input is
// cut at whole seconds into parts: part k (from 1) holds the seconds [180(k-1), 180k) counted
// from the movie's first picture, that is camera frames [2700(k-1), 2700k) and sound samples
// [1984320(k-1), 1984320k). Every picture and every sample goes to exactly one part, so
// nothing is lost or repeated at a cut.
//
// Pictures and sound each arrive in order, but not in step: either may run ahead of the other.
// So two parts may be open at once, each writing its own intermediate source: the part the
// pictures are in and the one before it (its sound still coming), or the part the pictures are
// in and the one after it (its sound already coming). A part is finished (its source closed
// and converted into its movie) when its pictures and its sound are complete; when the
// pictures reach the part after next, its sound has ended early, and the rest of it is silence.
// Sound for a part beyond the one after the pictures is dropped: the pictures have ended.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "convert/camera_layout.h"
#include "prep/source_writer.h"

namespace reelfix::prep {

inline constexpr std::int64_t kPartFrames = std::int64_t{MAX_SECONDS} * FRAMES_PER_SECOND;
inline constexpr std::int64_t kPartSamples = std::int64_t{MAX_SECONDS} * AUDIO_RATE;

// The name of part `number` (1 is the first) when the first is `first`. A stem that ends in
// digits counts on from them with at least as many digits (CLIP0001.AVI, CLIP0002.AVI; a9.avi,
// a10.avi); any other gets "-number" before its extension (holiday.avi, holiday-2.avi; x, x-2).
// The extension (from the last dot of the file's own name) and the folder stay as they are.
std::string part_name(const std::string& first, int number);

// The names in quotes, the last two joined by "and": 'a', 'b' and 'c'.
std::string quoted_names(const std::vector<std::string>& names);

// How many parts a movie of `length_us` microseconds makes (at least one).
int part_count(std::int64_t length_us);

struct Part {
  int number = 0;  // from 1
  std::string name;
  SourceWriter writer;  // its frames and samples are what the part holds so far
};

struct Parts {
  std::string input_name;                  // no part may be the input
  std::string first_name;                  // the output as given: the first part's name
  int planned = 1;                         // the parts whose names were checked before the run
  bool overwrite = false;                  // -y: existing movies may be replaced
  std::function<void(Part&)> convert;      // turns a finished part's closed source into its movie
  std::deque<std::unique_ptr<Part>> open;  // in order; at most two
  int picture_part = 1;                    // the part the pictures are in
  int finished = 0;                        // parts finished so far, all before the open ones
};

// The picture with this index (counting camera frames from the movie's first) is `jpeg`.
void add_picture(Parts& parts, std::int64_t index, AVPacket& jpeg);

// n sound samples, the first with this index (counting from the movie's first sample).
void add_samples(Parts& parts, std::int64_t index, const std::uint8_t* samples, std::size_t n);

// No more pictures or sound come; `frames` pictures were added, a multiple of
// FRAMES_PER_SECOND. Finishes every part that holds pictures, its missing sound silence, and
// drops one that holds only sound.
void finish_parts(Parts& parts, std::int64_t frames);

}  // namespace reelfix::prep
