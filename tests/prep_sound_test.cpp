#include <gtest/gtest.h>

#include "prep/sound.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

#include <cstdlib>
#include <string>
#include <vector>

namespace reelfix::prep {
namespace {

// The samples as runs "value*count", e.g. "128*5512 200*100".
std::string runs(const std::vector<std::uint8_t>& samples) {
  std::string text;
  for (std::size_t i = 0; i < samples.size();) {
    std::size_t j = i;
    while (j < samples.size() && samples[j] == samples[i]) ++j;
    text += (text.empty() ? "" : " ") + std::to_string(samples[i]) + "*" + std::to_string(j - i);
    i = j;
  }
  return text;
}

struct Step {
  enum { kPlace, kOrigin, kFill } what;
  std::int64_t position;  // kPlace: where; kOrigin: the origin; kFill: samples
  std::size_t n = 0;      // kPlace: how many
  std::uint8_t value = 0;
};

TEST(PrepSound, SamplesGoWhereTheirPositionsSay) {
  const std::int64_t far = kMaxPendingSamples;
  struct Case {
    const char* name;
    std::int64_t limit;
    std::vector<Step> steps;
    std::string expected;
  };
  const Case cases[] = {
      {"sound starting half a second late is preceded by silence",
       1 << 30,
       {{Step::kOrigin, 0}, {Step::kPlace, 5512, 100, 200}, {Step::kFill, 11024}},
       "128*5512 200*100 128*5412"},
      {"sound before the movie's start is dropped",
       1 << 30,
       {{Step::kOrigin, 1000}, {Step::kPlace, 0, 3000, 200}},
       "200*2000"},
      {"a gap becomes silence",
       1 << 30,
       {{Step::kOrigin, 0}, {Step::kPlace, 0, 100, 200}, {Step::kPlace, 300, 100, 201}},
       "200*100 128*200 201*100"},
      {"an overlap loses the later sound's overlapping part",
       1 << 30,
       {{Step::kOrigin, 0}, {Step::kPlace, 0, 100, 200}, {Step::kPlace, 50, 100, 201}},
       "200*100 201*50"},
      {"sound held before the start is known is placed the same way",
       1 << 30,
       {{Step::kPlace, 0, 100, 200},
        {Step::kPlace, 150, 100, 201},
        {Step::kPlace, 200, 100, 202},
        {Step::kOrigin, 50}},
       "200*50 128*50 201*100 202*50"},
      {"nothing passes the limit, silence neither",
       150,
       {{Step::kOrigin, 0},
        {Step::kPlace, 0, 100, 200},
        {Step::kPlace, 120, 100, 201},
        {Step::kFill, 11024}},
       "200*100 128*20 201*30"},
      {"a jump far ahead while the start is unknown forgets what came before",
       1 << 30,
       {{Step::kPlace, 0, 10, 200}, {Step::kPlace, 2 * far, 10, 201}, {Step::kOrigin, 2 * far}},
       "201*10"},
      {"only the latest sound is held while the start is unknown",
       1 << 30,
       {{Step::kPlace, 0, static_cast<std::size_t>(far), 200},
        {Step::kPlace, far, 100, 201},
        {Step::kOrigin, 0}},
       "128*100 200*" + std::to_string(far - 100) + " 201*100"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint8_t> movie;
    SoundTimeline timeline;
    timeline.limit = c.limit;
    timeline.sink = [&movie](const std::uint8_t* samples, std::size_t n) {
      movie.insert(movie.end(), samples, samples + n);
    };
    for (const Step& step : c.steps) {
      if (step.what == Step::kPlace) {
        std::vector<std::uint8_t> samples(step.n, step.value);
        place_samples(timeline, step.position, samples.data(), samples.size());
      } else if (step.what == Step::kOrigin) {
        set_origin(timeline, step.position);
      } else {
        fill_with_silence(timeline, step.position);
      }
    }
    EXPECT_EQ(runs(movie), c.expected);
    EXPECT_EQ(timeline.written, static_cast<std::int64_t>(movie.size()));
  }
}

// A decoded frame of `seconds` seconds: every sample of the left channel `left`, of the right
// `right` (a mono frame takes `left`), as planar floats.
FramePtr sound_frame(int rate, int channels, double seconds, float left, float right = 0) {
  FramePtr frame = make_frame();
  frame->format = AV_SAMPLE_FMT_FLTP;
  frame->sample_rate = rate;
  av_channel_layout_default(&frame->ch_layout, channels);
  frame->nb_samples = static_cast<int>(rate * seconds);
  EXPECT_EQ(av_frame_get_buffer(frame.get(), 0), 0);
  for (int c = 0; c < channels; ++c) {
    auto* data = reinterpret_cast<float*>(frame->extended_data[c]);
    std::fill_n(data, frame->nb_samples, c == 0 ? left : right);
  }
  return frame;
}

// The movie's sound from a track fed with (frame, start in seconds) pairs.
std::vector<std::uint8_t> movie_sound(const std::vector<std::pair<FramePtr, double>>& frames) {
  std::vector<std::uint8_t> movie;
  SoundTrack track;
  track.timeline.sink = [&movie](const std::uint8_t* samples, std::size_t n) {
    movie.insert(movie.end(), samples, samples + n);
  };
  set_origin(track.timeline, 0);
  for (const auto& [frame, start] : frames) {
    add_sound(track, *frame, static_cast<std::int64_t>(start * AUDIO_RATE));
  }
  finish_sound(track);
  return movie;
}

// Checks that the samples in [from, to) (seconds) lie within 2 of `value`, leaving out 5 ms at
// either edge for the resampler's filter.
void expect_level(const std::vector<std::uint8_t>& movie, double from, double to, int value) {
  const auto first = static_cast<std::size_t>((from + 0.005) * AUDIO_RATE);
  const auto last = static_cast<std::size_t>((to - 0.005) * AUDIO_RATE);
  ASSERT_LE(last, movie.size());
  for (std::size_t i = first; i < last; ++i) {
    ASSERT_LE(std::abs(movie[i] - value), 2)
        << "sample " << i << " of [" << from << ", " << to << ")";
  }
}

TEST(PrepSound, TimestampsPlaceTheResampledSound) {
  // Half a second, then a gap of half a second, then half a second.
  std::vector<std::pair<FramePtr, double>> frames;
  frames.emplace_back(sound_frame(8000, 1, 0.5, 0.5f), 0.0);
  frames.emplace_back(sound_frame(8000, 1, 0.5, 0.5f), 1.0);
  std::vector<std::uint8_t> movie = movie_sound(frames);
  EXPECT_NEAR(static_cast<double>(movie.size()), 1.5 * AUDIO_RATE, 2);
  expect_level(movie, 0, 0.5, 0xC0);
  expect_level(movie, 0.5, 1.0, 0x80);
  expect_level(movie, 1.0, 1.5, 0xC0);

  // A frame that starts a quarter of a second before the last one ends loses that quarter.
  frames.clear();
  frames.emplace_back(sound_frame(48000, 1, 0.5, 0.5f), 0.0);
  frames.emplace_back(sound_frame(48000, 1, 0.5, -0.5f), 0.25);
  movie = movie_sound(frames);
  EXPECT_NEAR(static_cast<double>(movie.size()), 0.75 * AUDIO_RATE, 2);
  expect_level(movie, 0, 0.5, 0xC0);
  expect_level(movie, 0.5, 0.75, 0x40);
}

TEST(PrepSound, ChannelsAreMixedDownAndAChangeOfFormatKeepsItsPlace) {
  std::vector<std::pair<FramePtr, double>> frames;
  frames.emplace_back(sound_frame(48000, 2, 0.5, 0.5f, 0.5f), 0.0);   // both channels: 0.5
  frames.emplace_back(sound_frame(48000, 2, 0.5, 0.5f, -0.5f), 0.5);  // they cancel out
  frames.emplace_back(sound_frame(44100, 1, 0.5, -0.5f), 1.0);        // another rate, mono
  frames.emplace_back(sound_frame(22050, 6, 0.5, 0.5f, 0.5f), 1.5);   // 5.1: left and right
  std::vector<std::uint8_t> movie = movie_sound(frames);
  EXPECT_NEAR(static_cast<double>(movie.size()), 2.0 * AUDIO_RATE, 2);
  expect_level(movie, 0, 0.5, 0xC0);
  expect_level(movie, 0.5, 1.0, 0x80);
  expect_level(movie, 1.0, 1.5, 0x40);
  // Front left and right at 0.5, the others silent: the mixdown keeps some of both.
  for (std::size_t i = static_cast<std::size_t>(1.55 * AUDIO_RATE); i < movie.size() - 100; ++i) {
    ASSERT_GT(movie[i], 0x90) << i;
  }
}

}  // namespace
}  // namespace reelfix::prep
