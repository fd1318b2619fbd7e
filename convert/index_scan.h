// The phases between the header area and the movie: find the source's movie list and the idx1
// index behind it, count the audio bytes and frames it lists, and gather the audio that the
// movie will use.
#pragma once

#include "convert/driver.h"

namespace reelfix {

// Walks the chunks behind the second stream list to the movie list, loads the index as far as
// the file holds it and prints the counts. False, with its message printed, when no movie list
// or no idx1 chunk right behind it is found.
bool scan_source_index(ConversionState& state);

// Reads the audio that the converted seconds use, in index order, into audio_data. False, with
// its message printed, when an audio chunk lies beyond the end of the source.
bool gather_audio(ConversionState& state);

}  // namespace reelfix
