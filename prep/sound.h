// The movie's sound: 11024 unsigned 8-bit mono samples a second, movie sample k belonging to the
// moment t0 + k / 11024 of the input, where t0 is the time of the movie's first picture.
//
// Decoded frames are mixed down and resampled to that format, and their timestamps, not their
// count, say where their samples go. Positions are counted in samples at 11024 Hz on the input's
// clock. Sound that starts after t0 or leaves a gap is preceded by silence (0x80); sound that
// overlaps what is already there loses its overlap; sound before t0 is dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "convert/camera_layout.h"
#include "prep/av_support.h"

namespace reelfix::prep {

inline constexpr std::uint8_t kSilence = 0x80;

inline constexpr std::int64_t kMaxPendingSamples = std::int64_t{MAX_SECONDS} * AUDIO_RATE;

// Hands n samples of silence to `sink`, at most a second at a time; nothing when n <= 0.
void hand_on_silence(std::int64_t n,
                     const std::function<void(const std::uint8_t*, std::size_t)>& sink);

// Places runs of samples, each with its position, on the movie's clock and hands the movie's
// samples on in order, from sample 0 without a gap.
struct SoundTimeline {
  std::optional<std::int64_t> origin;  // the position of movie sample 0, once t0 is known
  std::int64_t limit = std::numeric_limits<std::int64_t>::max();  // movie samples from here
                                                                  //   on are dropped
  std::int64_t written = 0;                                       // movie samples handed on so far
  // Samples that came before the origin was known, the first at pending_start. Only the last
  // kMaxPendingSamples are kept, so that memory stays bounded when a file holds far more sound
  // than picture at its start; a file that interleaves its streams gives its first picture long
  // before that.
  std::vector<std::uint8_t> pending;
  std::int64_t pending_start = 0;
  std::function<void(const std::uint8_t*, std::size_t)> sink;  // takes movie samples in order
};

// n samples belonging at `position` and on.
void place_samples(SoundTimeline& timeline, std::int64_t position, const std::uint8_t* samples,
                   std::size_t n);

// t0 is known: movie sample 0 belongs at `origin`. Samples held so far are placed.
void set_origin(SoundTimeline& timeline, std::int64_t origin);

// Silence until the movie holds `samples` samples (or the limit).
void fill_with_silence(SoundTimeline& timeline, std::int64_t samples);

// The resampler between the input's decoded frames and the timeline.
struct SoundTrack {
  SoundTrack() = default;
  ~SoundTrack();
  SoundTrack(const SoundTrack&) = delete;
  SoundTrack& operator=(const SoundTrack&) = delete;

  std::string input_name;  // for messages
  SoundTimeline timeline;
  ResamplerPtr resampler;
  // What the resampler was made for; a frame of another format starts a new one.
  AVChannelLayout layout{};
  int rate = 0;
  int format = -1;
  std::int64_t next = 0;  // the position of the resampler's next output sample
  std::vector<std::uint8_t> buffer;
};

// The frame's samples, its first one belonging at `position`. A frame that starts more than a
// few milliseconds away from where the sound so far ends (a gap, an overlap, a jump) or that
// has another format restarts the resampler there.
void add_sound(SoundTrack& track, const AVFrame& frame, std::int64_t position);

// Where the first sample of a frame belongs that goes on from the sound so far: behind what the
// resampler gave and what it still holds.
std::int64_t continuing_position(const SoundTrack& track);

// Hands on what the resampler still holds.
void finish_sound(SoundTrack& track);

}  // namespace reelfix::prep
