// Timestamps that jump. Formats made for broadcast (MPEG-TS, MPEG-PS) carry a clock that may
// start again anywhere: two recordings joined end to end, a camcorder's new shot. Read as they
// are, the pictures and sound after a jump backwards would seem to lie before what came already,
// and be dropped. As FFmpeg's command line does for such formats, a packet whose decoding time
// lies more than ten seconds away from where its stream was expected to go on, or more than a
// tenth of a second before where it was, moves the clock of the whole input by the jump, so that
// it follows on; its other streams follow it. Other formats' timestamps are left as they are.
#pragma once

#include <cstdint>
#include <vector>

#include "prep/av_support.h"

namespace reelfix::prep {

struct TimestampMending {
  bool jumps_possible = false;            // the format's clock may start again (AVFMT_TS_DISCONT)
  std::int64_t offset_us = 0;             // added to every timestamp of the input from here on
  std::int64_t last_us = AV_NOPTS_VALUE;  // the latest decoding time met, any stream
  // Per stream: where its next packet is expected to start, and the latest time it reached.
  std::vector<std::int64_t> next_us;
  std::vector<std::int64_t> reached_us;
};

// Ready for the streams of `format`.
TimestampMending make_timestamp_mending(const AVFormatContext& format);

// Moves the packet's timestamps (of `stream`, its own) by the input's offset, after taking a
// jump into it as described above.
void mend_timestamps(TimestampMending& mending, AVPacket& packet, const AVStream& stream);

}  // namespace reelfix::prep
