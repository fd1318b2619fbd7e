#include "prep/sound.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

#include <algorithm>

namespace reelfix::prep {
namespace {

// A frame that starts this far or less from where the sound so far ends continues it: the
// rounding of timestamps and a resampler's delay stay below it, a gap or an overlap that matters
// does not. 10 ms, a seventh of a picture's time.
constexpr std::int64_t kSlack = AUDIO_RATE / 100;

// n samples of silence on the timeline.
void pad_with_silence(SoundTimeline& timeline, std::int64_t n) {
  hand_on_silence(n, [&timeline](const std::uint8_t* samples, std::size_t run) {
    timeline.sink(samples, run);
    timeline.written += static_cast<std::int64_t>(run);
  });
}

// Keeps samples that came before the origin, as one run without gaps or overlaps.
void hold(SoundTimeline& timeline, std::int64_t position, const std::uint8_t* samples,
          std::size_t n) {
  const std::int64_t end =
      timeline.pending_start + static_cast<std::int64_t>(timeline.pending.size());
  if (timeline.pending.empty() || position > end + kMaxPendingSamples) {
    timeline.pending.clear();
    timeline.pending_start = position;
  } else if (position > end) {
    timeline.pending.insert(timeline.pending.end(), static_cast<std::size_t>(position - end),
                            kSilence);
  } else if (position < end) {
    const auto overlap = static_cast<std::size_t>(std::min<std::int64_t>(end - position, n));
    samples += overlap;
    n -= overlap;
  }
  timeline.pending.insert(timeline.pending.end(), samples, samples + n);
  if (timeline.pending.size() > static_cast<std::size_t>(kMaxPendingSamples)) {
    const std::size_t excess =
        timeline.pending.size() - static_cast<std::size_t>(kMaxPendingSamples);
    timeline.pending.erase(timeline.pending.begin(),
                           timeline.pending.begin() + static_cast<std::ptrdiff_t>(excess));
    timeline.pending_start += static_cast<std::int64_t>(excess);
  }
}

}  // namespace

void hand_on_silence(std::int64_t n,
                     const std::function<void(const std::uint8_t*, std::size_t)>& sink) {
  static const std::vector<std::uint8_t> kSecondOfSilence(AUDIO_RATE, kSilence);
  while (n > 0) {
    const std::int64_t run = std::min<std::int64_t>(n, AUDIO_RATE);
    sink(kSecondOfSilence.data(), static_cast<std::size_t>(run));
    n -= run;
  }
}

void place_samples(SoundTimeline& timeline, std::int64_t position, const std::uint8_t* samples,
                   std::size_t n) {
  if (n == 0) return;
  if (!timeline.origin) {
    hold(timeline, position, samples, n);
    return;
  }
  std::int64_t at = position - *timeline.origin;  // the movie sample of samples[0]
  if (at < timeline.written) {                    // before the movie, or over sound already placed
    const auto skip = static_cast<std::size_t>(std::min<std::int64_t>(timeline.written - at, n));
    samples += skip;
    n -= skip;
    at = timeline.written;
  }
  if (n == 0 || at >= timeline.limit) return;
  pad_with_silence(timeline, at - timeline.written);
  const auto room = static_cast<std::size_t>(std::min<std::int64_t>(n, timeline.limit - at));
  timeline.sink(samples, room);
  timeline.written += static_cast<std::int64_t>(room);
}

void set_origin(SoundTimeline& timeline, std::int64_t origin) {
  timeline.origin = origin;
  std::vector<std::uint8_t> held;
  held.swap(timeline.pending);
  place_samples(timeline, timeline.pending_start, held.data(), held.size());
}

void fill_with_silence(SoundTimeline& timeline, std::int64_t samples) {
  pad_with_silence(timeline, std::min(samples, timeline.limit) - timeline.written);
}

namespace {

// Hands on the resampler's output for `n` input samples (none: what it still holds).
void convert(SoundTrack& track, const std::uint8_t** input, int n) {
  SwrContext* resampler = track.resampler.get();
  const char* doing = "resampling the sound of";
  const int room =
      check(swr_get_out_samples(resampler, n), ExitStatus::kSystemFailure, doing, track.input_name);
  track.buffer.resize(static_cast<std::size_t>(room) + 1);
  std::uint8_t* output = track.buffer.data();
  const int got = check(swr_convert(resampler, &output, room + 1, input, n),
                        ExitStatus::kSystemFailure, doing, track.input_name);
  place_samples(track.timeline, track.next, output, static_cast<std::size_t>(got));
  track.next += got;
}

bool same_format(const SoundTrack& track, const AVFrame& frame) {
  return track.resampler && frame.sample_rate == track.rate && frame.format == track.format &&
         av_channel_layout_compare(&frame.ch_layout, &track.layout) == 0;
}

void restart_resampler(SoundTrack& track, const AVFrame& frame) {
  if (track.resampler) convert(track, nullptr, 0);
  av_channel_layout_uninit(&track.layout);
  const char* doing = "resampling the sound of";
  check(av_channel_layout_copy(&track.layout, &frame.ch_layout), ExitStatus::kSystemFailure, doing,
        track.input_name);
  track.rate = frame.sample_rate;
  track.format = frame.format;
  AVChannelLayout mono{};
  av_channel_layout_default(&mono, 1);
  SwrContext* resampler = nullptr;
  // Mixing down to one channel keeps every channel (stereo: half of each).
  check(swr_alloc_set_opts2(&resampler, &mono, AV_SAMPLE_FMT_U8, static_cast<int>(AUDIO_RATE),
                            &track.layout, static_cast<AVSampleFormat>(frame.format),
                            frame.sample_rate, 0, nullptr),
        ExitStatus::kRefused, doing, track.input_name);
  track.resampler.reset(resampler);
  check(swr_init(resampler), ExitStatus::kRefused, doing, track.input_name);
}

}  // namespace

void add_sound(SoundTrack& track, const AVFrame& frame, std::int64_t position) {
  if (frame.nb_samples <= 0 || frame.sample_rate <= 0) return;
  bool restart = !same_format(track, frame);
  if (!restart) {
    const std::int64_t continuing = continuing_position(track);
    restart = position > continuing + kSlack || position < continuing - kSlack;
  }
  if (restart) {
    restart_resampler(track, frame);
    track.next = position;
  }
  convert(track, const_cast<const std::uint8_t**>(frame.extended_data), frame.nb_samples);
}

std::int64_t continuing_position(const SoundTrack& track) {
  return track.next + (track.resampler ? swr_get_delay(track.resampler.get(), AUDIO_RATE) : 0);
}

void finish_sound(SoundTrack& track) {
  if (track.resampler) convert(track, nullptr, 0);
}

SoundTrack::~SoundTrack() { av_channel_layout_uninit(&layout); }

}  // namespace reelfix::prep
