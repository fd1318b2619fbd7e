#include "prep/timestamps.h"

#include <algorithm>

namespace reelfix::prep {
namespace {

// A jump further than this, either way, is a new start of the clock. FFmpeg's command line's
// -dts_delta_threshold.
constexpr std::int64_t kJumpUs = 10 * std::int64_t{AV_TIME_BASE};
// A packet this far before where its stream already was goes backwards.
constexpr std::int64_t kBackwardsUs = AV_TIME_BASE / 10;

void shift(AVPacket& packet, std::int64_t by_us, const AVStream& stream) {
  const std::int64_t by = av_rescale_q(by_us, kMicroseconds, stream.time_base);
  if (packet.dts != AV_NOPTS_VALUE) packet.dts += by;
  if (packet.pts != AV_NOPTS_VALUE) packet.pts += by;
}

}  // namespace

TimestampMending make_timestamp_mending(const AVFormatContext& format) {
  TimestampMending mending;
  mending.jumps_possible = (format.iformat->flags & AVFMT_TS_DISCONT) != 0;
  mending.next_us.assign(format.nb_streams, AV_NOPTS_VALUE);
  mending.reached_us.assign(format.nb_streams, AV_NOPTS_VALUE);
  return mending;
}

void mend_timestamps(TimestampMending& m, AVPacket& packet, const AVStream& stream) {
  if (!m.jumps_possible || packet.dts == AV_NOPTS_VALUE) return;
  const auto i = static_cast<std::size_t>(stream.index);
  if (i >= m.next_us.size()) return;
  shift(packet, m.offset_us, stream);
  const std::int64_t dts_us = av_rescale_q(packet.dts, stream.time_base, kMicroseconds);
  // Against where this stream was to go on, or for its first packet where the input was.
  const std::int64_t expected = m.next_us[i] != AV_NOPTS_VALUE ? m.next_us[i] : m.last_us;
  if (expected != AV_NOPTS_VALUE) {
    const std::int64_t delta = dts_us - expected;
    const bool backwards =
        m.reached_us[i] != AV_NOPTS_VALUE && dts_us + kBackwardsUs < m.reached_us[i];
    if (delta < -kJumpUs || delta > kJumpUs || backwards) {
      m.offset_us -= delta;
      shift(packet, -delta, stream);
    }
  }
  const std::int64_t start_us = av_rescale_q(packet.dts, stream.time_base, kMicroseconds);
  const std::int64_t duration_us =
      packet.duration > 0 ? av_rescale_q(packet.duration, stream.time_base, kMicroseconds) : 0;
  m.next_us[i] = start_us + duration_us;
  m.reached_us[i] =
      m.reached_us[i] == AV_NOPTS_VALUE ? start_us : std::max(m.reached_us[i], start_us);
  m.last_us = start_us;
}

}  // namespace reelfix::prep
