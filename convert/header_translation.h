// The first phase: the source's RIFF header, hdrl list, main header and both stream lists are
// tested, printed and copied into destination offsets 0 to 311 with the camera's sizes, timing
// and codec values. A video stream must come first and an 8-bit mono audio stream second.
#pragma once

#include "convert/conversion_state.h"

namespace reelfix {

// Prints the source's main header and audio values and any warnings. False, with its message
// printed, on the first deviation that cannot be corrected. On success the destination stands
// at 312 and the stream lists' positions and sizes are set.
bool translate_headers(ConversionState& state);

}  // namespace reelfix
