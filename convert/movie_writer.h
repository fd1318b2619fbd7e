// The last phases: the movie list, one second at a time (one audio chunk of 11024 bytes, then
// fifteen fixed-up frames), the destination index, and the patches of the open lengths.
#pragma once

#include "convert/conversion_state.h"

namespace reelfix {

// Writes the movie list from offset 2048 and builds out_index. False, with its message printed,
// when a frame lies beyond the end of the source or the movie would not fit a RIFF file.
bool write_movie(ConversionState& state);

// Appends the idx1 chunk and patches the movie list size, the frame counts, the audio length
// and the RIFF size.
void finalise_output(ConversionState& state);

}  // namespace reelfix
