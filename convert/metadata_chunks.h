// The second phase: the rest of the header area. The "IDIT" chunk with the local date of the
// conversion closes the hdrl list, an INFO list carries the camera's software tag, and a JUNK
// chunk of zeros fills up to 2048, where the movie list begins.
#pragma once

#include <string>

#include "convert/conversion_state.h"
#include "platform/clock.h"

namespace reelfix {

// "Wed Mar 09 14:05:33 2005\n": 25 characters.
std::string format_date_text(const platform::LocalTime& time);

// Writes offsets 312 to 385 and leaves the destination at 2048; the gap reads as zeros once
// the movie list is written behind it.
void write_metadata_chunks(ConversionState& state);

}  // namespace reelfix
