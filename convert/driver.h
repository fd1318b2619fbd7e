// One conversion: open the source, create the destination under a temporary name, run the
// phases in their fixed order on one ConversionState, and put the destination in place only
// when the last phase has run. Any other end removes the temporary file, so an existing
// destination keeps its content and no partial file is left behind.
#pragma once

#include <cstdint>
#include <string>

#include "convert/chunk_io.h"
#include "convert/conversion_state.h"
#include "platform/clock.h"

namespace reelfix {

// What a completed conversion made, for the closing texts.
struct ConversionSummary {
  std::uint32_t seconds = 0;         // seconds written
  std::uint32_t source_seconds = 0;  // whole seconds of video in the source (frames / 15)
  std::uint64_t largest_second_video_bytes = 0;
  std::uint32_t seconds_over_video_limit = 0;
};

// How a conversion ended.
enum class Outcome {
  kCompleted,      // the destination is in place
  kRefused,        // a file could not be opened or created, or the source was refused; the
                   //   message is printed
  kSystemFailure,  // a file operation failed or memory ran out; a line on standard error
};

// Converts the file source_name into the camera layout at dest_name. When the conversion
// completes, `summary` (if given) tells what it made.
Outcome convert_avi(const std::string& source_name, const std::string& dest_name,
                    Console& console, platform::ClockFunction clock = platform::local_time_now,
                    ConversionSummary* summary = nullptr);

}  // namespace reelfix
