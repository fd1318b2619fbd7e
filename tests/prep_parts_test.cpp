#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "prep/parts.h"
#include "tests/test_support.h"

namespace reelfix::prep {
namespace {

TEST(PrepParts, LaterPartsCountOnFromTheNameOrTakeANumber) {
  struct Case {
    const char* first;
    const char* second;
    const char* third;
  };
  const Case cases[] = {
      {"CLIP0001.AVI", "CLIP0002.AVI", "CLIP0003.AVI"},  // a card's numbered name, its case kept
      {"MVI_0009.avi", "MVI_0010.avi", "MVI_0011.avi"},  // the width kept across a carry
      {"a9.avi", "a10.avi", "a11.avi"},                  // a number that needs another digit
      {"CLIP9999.AVI", "CLIP10000.AVI", "CLIP10001.AVI"},
      {"holiday.avi", "holiday-2.avi", "holiday-3.avi"},
      {"x", "x-2", "x-3"},                                   // no extension
      {"take.2.avi", "take.3.avi", "take.4.avi"},            // the stem is all before the last dot
      {"dir.v1/clip", "dir.v1/clip-2", "dir.v1/clip-3"},     // a dot in the folder is no extension
      {"cards/7/.avi", "cards/7/.avi-2", "cards/7/.avi-3"},  // nor a dot that starts the name
      {"2024/07.avi", "2024/08.avi", "2024/09.avi"},         // the folder's digits stay
      {"99999999999999999999.avi", "100000000000000000000.avi", "100000000000000000001.avi"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.first);
    EXPECT_EQ(part_name(c.first, 1), c.first);
    EXPECT_EQ(part_name(c.first, 2), c.second);
    EXPECT_EQ(part_name(c.first, 3), c.third);
  }
  EXPECT_EQ(part_name("CLIP0001.AVI", 12), "CLIP0012.AVI");
}

TEST(PrepParts, EveryStartedPartOfTheCameraLengthIsAPart) {
  EXPECT_EQ(part_count(0), 1);
  EXPECT_EQ(part_count(180'000'000), 1);
  EXPECT_EQ(part_count(180'000'001), 2);
  EXPECT_EQ(part_count(400'000'000), 3);
}

// What a finished part held when it was converted.
struct Converted {
  int number;
  std::int64_t frames;
  std::int64_t samples;
  bool operator==(const Converted&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Converted& c) {
  return out << "part " << c.number << ": " << c.frames << " frames, " << c.samples << " samples";
}

// Parts written into a scratch directory; the conversion only notes what each part holds.
struct PartsRun {
  testing::TempDir dir;
  Parts parts;
  std::vector<Converted> converted;
  PacketPtr picture = make_packet();
  std::int64_t frames = 0;
  std::int64_t samples = 0;
  std::size_t most_open = 0;

  PartsRun() {
    parts.first_name = dir.path("CLIP0001.AVI");
    parts.planned = 3;
    parts.convert = [this](Part& part) {
      converted.push_back({part.number, part.writer.frames, part.writer.samples});
    };
    EXPECT_GE(av_new_packet(picture.get(), 16), 0);
  }

  void add_seconds_of_pictures(int seconds) {
    for (std::int64_t i = 0; i < std::int64_t{seconds} * FRAMES_PER_SECOND; ++i) {
      add_picture(parts, frames++, *picture);
      most_open = std::max(most_open, parts.open.size());
    }
  }

  void add_seconds_of_sound(int seconds) {
    const std::vector<std::uint8_t> second(AUDIO_RATE, 0x80);
    for (int i = 0; i < seconds; ++i) {
      add_samples(parts, samples, second.data(), second.size());
      samples += AUDIO_RATE;
      most_open = std::max(most_open, parts.open.size());
    }
  }

  // Pictures and sound of `seconds` seconds, in steps of one second, sound `lead` seconds ahead
  // (behind when negative).
  void add_interleaved(int seconds, int lead) {
    if (lead > 0) add_seconds_of_sound(lead);
    if (lead < 0) add_seconds_of_pictures(-lead);
    for (int i = std::abs(lead); i < seconds; ++i) {
      add_seconds_of_pictures(1);
      add_seconds_of_sound(1);
    }
    if (lead > 0) add_seconds_of_pictures(lead);
    if (lead < 0) add_seconds_of_sound(-lead);
  }
};

constexpr std::int64_t kSecondFrames = FRAMES_PER_SECOND;
constexpr std::int64_t kSecondSamples = AUDIO_RATE;

TEST(PrepParts, PicturesAndSoundGoToThePartOfTheirTime) {
  const std::vector<Converted> three_parts = {
      {1, kPartFrames, kPartSamples},
      {2, kPartFrames, kPartSamples},
      {3, 40 * kSecondFrames, 40 * kSecondSamples},
  };
  for (int lead : {0, 5, -5}) {
    SCOPED_TRACE("sound ahead by " + std::to_string(lead) + " s");
    PartsRun run;
    run.add_interleaved(400, lead);
    finish_parts(run.parts, run.frames);
    EXPECT_EQ(run.converted, three_parts);
    EXPECT_LE(run.most_open, 2u);
    EXPECT_TRUE(run.parts.open.empty());
    EXPECT_EQ(run.dir.names(), std::vector<std::string>{}) << "every intermediate is gone";
  }
}

TEST(PrepParts, SoundThatEndsEarlyIsCompletedWithSilence) {
  PartsRun run;
  run.add_interleaved(100, 0);  // sound for the first 100 seconds only
  run.add_seconds_of_pictures(260);
  // The pictures fill the second part; only when they reach the third is the first one's sound
  // taken to have ended:
  // it is finished, its last 80 seconds silence.
  EXPECT_TRUE(run.converted.empty());
  run.add_seconds_of_pictures(1);
  ASSERT_EQ(run.converted.size(), 1u);
  EXPECT_EQ(run.converted[0], (Converted{1, kPartFrames, kPartSamples}));
  finish_parts(run.parts, run.frames);
  EXPECT_EQ(run.converted, (std::vector<Converted>{{1, kPartFrames, kPartSamples},
                                                   {2, kPartFrames, kPartSamples},
                                                   {3, kSecondFrames, kSecondSamples}}));
  EXPECT_LE(run.most_open, 2u);
}

TEST(PrepParts, SoundPastThePicturesIsDropped) {
  PartsRun run;
  run.add_interleaved(10, 0);
  run.add_seconds_of_sound(400);  // the pictures end after 10 s, the sound goes on
  finish_parts(run.parts, run.frames);
  EXPECT_EQ(run.converted, (std::vector<Converted>{{1, 10 * kSecondFrames, kPartSamples}}));
  EXPECT_LE(run.most_open, 2u);
  EXPECT_EQ(run.dir.names(), std::vector<std::string>{});
}

}  // namespace
}  // namespace reelfix::prep
