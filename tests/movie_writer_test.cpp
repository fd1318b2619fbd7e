#include "convert/movie_writer.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "convert/jpeg_fixup.h"
#include "tests/camera_file_check.h"
#include "tests/test_support.h"

namespace reelfix {
namespace {

using testing::Bytes;
using testing::check_camera_file;
using testing::Conversion;
using testing::convert_bytes;
using testing::SourcePlan;
using testing::standard_source;

std::uint32_t u32(const Bytes& file, std::size_t at) { return load_u32(file.data() + at); }

Bytes payload(const Bytes& file, std::size_t i) { return testing::chunk_payload(file, i); }

// What fix_jpeg_frame makes of a frame, for comparison with a stored one.
Bytes fixed(const Bytes& frame) {
  Bytes out(fixed_frame_length(frame.size()));
  std::size_t length = frame.size();
  fix_jpeg_frame(frame.data(), out.data(), length);
  out.resize(length);
  return out;
}

TEST(MovieWriter, TheWorkedExampleLandsOnItsOffsets) {
  SourcePlan plan = standard_source(31, 4999, 0);
  for (auto& chunk : plan.movie) chunk.payload = testing::jpeg_like_frame(4999, 2, chunk.payload[5]);
  plan.movie.push_back({"01wb", Bytes(10000, 1)});
  plan.movie.push_back({"01wb", Bytes(10000, 2)});
  plan.movie.push_back({"01wb", Bytes(5000, 3)});
  Conversion result = convert_bytes(testing::build_source(plan).bytes);
  ASSERT_EQ(result.status, ExitStatus::kCompleted) << result.output;
  const Bytes& f = result.dest;
  EXPECT_EQ(check_camera_file(f), "");
  EXPECT_EQ(f.size(), 187484u);
  EXPECT_EQ(u32(f, 2052), 184908u);
  EXPECT_EQ(u32(f, 140), 30u);
  EXPECT_EQ(u32(f, 48), 30u);
  EXPECT_EQ(u32(f, 264), 22048u);
  EXPECT_EQ(u32(f, 4), 187476u);
  const std::size_t index = 2056 + 184908;
  EXPECT_EQ(u32(f, index + 4), 512u);
  auto offset = [&](std::size_t i) { return u32(f, index + 8 + i * 16 + 8); };
  EXPECT_EQ(offset(0), 4u);
  EXPECT_EQ(offset(1), 11036u);
  EXPECT_EQ(offset(2), 16464u);
  EXPECT_EQ(offset(16), 92456u);
  EXPECT_EQ(offset(17), 103488u);
  EXPECT_EQ(offset(31), 179480u);
  EXPECT_EQ(u32(f, index + 8 + 17 * 16 + 12), 5420u);
  EXPECT_NE(result.output.find("\rConverting second 1 of 2..\rConverting second 2 of 2.."),
            std::string::npos);
  // The last progress text is followed by the closing text, which begins on a line of its own.
  const std::string::size_type last = result.output.rfind("\rConverting second 2 of 2..");
  ASSERT_NE(last, std::string::npos);
  const std::string closing = "\nWrote 2 seconds to '";
  EXPECT_EQ(result.output.substr(last + 27, closing.size()), closing);
  EXPECT_EQ(result.output.substr(result.output.size() - 10), "out.avi'.\n");
  // The second second's audio starts where the first ended, inside the second source chunk.
  Bytes audio(10000, 1);
  audio.resize(11024, 2);
  EXPECT_EQ(payload(f, 0), audio);
}

TEST(MovieWriter, TakesFramesInIndexOrderPastOtherEntries) {
  // 29 frames: one second, and the last 14 frames are not used. The index lists the frames
  // backwards, with audio and other streams' entries between them.
  SourcePlan plan = standard_source(29, 300);
  plan.movie.push_back({"02wb", Bytes(8, 7)});
  std::vector<std::size_t> order;
  std::vector<std::size_t> frames;
  for (std::size_t i = 0; i < plan.movie.size(); ++i) {
    if (plan.movie[i].id == "00dc") frames.push_back(i);
  }
  for (auto it = frames.rbegin(); it != frames.rend(); ++it) {
    order.push_back(*it);
    if (order.size() % 4 == 0) order.push_back(plan.movie.size() - 1);  // the "02wb" chunk
  }
  for (std::size_t i = 0; i < plan.movie.size(); ++i) {
    if (plan.movie[i].id == "01wb") order.push_back(i);
  }
  plan.index_order = order;
  Conversion result = convert_bytes(testing::build_source(plan).bytes);
  ASSERT_EQ(result.status, ExitStatus::kCompleted) << result.output;
  EXPECT_EQ(check_camera_file(result.dest), "");
  EXPECT_EQ(u32(result.dest, 48), 15u);
  for (std::size_t j = 0; j < 15; ++j) {
    EXPECT_EQ(payload(result.dest, 1 + j), fixed(plan.movie[frames[28 - j]].payload)) << j;
  }
}

TEST(MovieWriter, FramesWithoutAUsableMarkerAreStoredAsTheyAreWithAWarning) {
  SourcePlan plan = standard_source(30, 1000);
  std::size_t frame = 0;
  for (auto& chunk : plan.movie) {
    if (chunk.id != "00dc") continue;
    if (frame == 4) chunk.payload = testing::jpeg_like_frame(1001, 0);  // marker at its start
    if (frame == 17) chunk.payload = testing::jpeg_like_frame(999, static_cast<std::size_t>(-1));
    ++frame;
  }
  Conversion result = convert_bytes(testing::build_source(plan).bytes);
  ASSERT_EQ(result.status, ExitStatus::kCompleted) << result.output;
  EXPECT_EQ(check_camera_file(result.dest), "");  // odd lengths, and no pad bytes behind them
  EXPECT_NE(result.output.find("\rConverting second 1 of 2..Warning! ffda (start MJPEG scanline) "
                               "was not found in frame 4\n\rConverting second 2 of 2..Warning! "
                               "ffda (start MJPEG scanline) was not found in frame 17\n"),
            std::string::npos)
      << result.output;
  EXPECT_EQ(payload(result.dest, 5), testing::jpeg_like_frame(1001, 0));
  EXPECT_EQ(payload(result.dest, 16 + 1 + 2).size(), 999u);
  EXPECT_EQ(payload(result.dest, 6).size(), 1420u);
}

TEST(MovieWriter, StopsAt180Seconds) {
  SourcePlan plan = standard_source(2730, 16);
  Conversion result = convert_bytes(testing::build_source(plan).bytes);
  ASSERT_EQ(result.status, ExitStatus::kCompleted);
  EXPECT_EQ(check_camera_file(result.dest), "");
  EXPECT_EQ(u32(result.dest, 48), 2700u);
  EXPECT_EQ(u32(result.dest, 264), 1984320u);
  EXPECT_EQ(u32(result.dest, 2056 + u32(result.dest, 2052) + 4), 46080u);
  EXPECT_NE(result.output.find("\rConverting second 180 of 180.."), std::string::npos);
  // The last second's audio is the source's audio of second 180, not a later one.
  Bytes last_audio = payload(result.dest, 179 * 16);
  EXPECT_EQ(last_audio[0], testing::audio_sample(179 * 11024));
  EXPECT_EQ(last_audio[11023], testing::audio_sample(180 * 11024 - 1));
}

// Larger than the staging buffer of 128 KiB that a frame once had, and larger than the 1 MiB
// window in which the source is read.
TEST(MovieWriter, AFrameLargerThanAnyBufferIsConvertedWhole) {
  for (std::size_t size : {std::size_t{200001}, std::size_t{1500001}}) {
    SCOPED_TRACE(size);
    SourcePlan plan = standard_source(15, 500);
    plan.movie[3].payload = testing::jpeg_like_frame(size, 600);
    Conversion result = convert_bytes(testing::build_source(plan).bytes);
    ASSERT_EQ(result.status, ExitStatus::kCompleted) << result.output;
    EXPECT_EQ(check_camera_file(result.dest), "");
    EXPECT_TRUE(payload(result.dest, 3) == fixed(plan.movie[3].payload));
    EXPECT_EQ(payload(result.dest, 3).size(), fixed_frame_length(size));
  }
}

// The movie does not depend on where the source keeps its chunks: audio next to its frames, or
// all of it behind all frames, megabytes away (each piece then read by itself), gives the same
// file as long as the index lists the chunks in the same order.
TEST(MovieWriter, WhereTheSourceKeepsItsChunksDoesNotChangeTheMovie) {
  SourcePlan interleaved = standard_source(90, 30000, 6 * AUDIO_RATE - 100);
  std::uint8_t seed = 0;
  for (auto& chunk : interleaved.movie) {
    if (chunk.id == "00dc") chunk.payload = testing::jpeg_like_frame(30000 + seed % 7, 2 + seed % 5, seed);
    ++seed;
  }
  SourcePlan apart = interleaved;
  std::stable_partition(apart.movie.begin(), apart.movie.end(),
                        [](const testing::Chunk& chunk) { return chunk.id == "00dc"; });
  Conversion first = convert_bytes(testing::build_source(interleaved).bytes);
  Conversion second = convert_bytes(testing::build_source(apart).bytes);
  ASSERT_EQ(first.status, ExitStatus::kCompleted) << first.output;
  ASSERT_EQ(second.status, ExitStatus::kCompleted) << second.output;
  EXPECT_EQ(check_camera_file(first.dest), "");
  EXPECT_TRUE(first.dest == second.dest);
  auto texts = [](const std::string& output) { return output.substr(0, output.rfind("Wrote")); };
  EXPECT_EQ(texts(first.output), texts(second.output));  // the last line names the directory
  EXPECT_TRUE(payload(first.dest, 16 * 5 + 15) == fixed(interleaved.movie[5 * 16 + 15].payload));
  Bytes audio = payload(first.dest, 16 * 5);
  EXPECT_EQ(audio[AUDIO_RATE - 101], testing::audio_sample(6 * AUDIO_RATE - 101));
  EXPECT_EQ(Bytes(audio.end() - 100, audio.end()), Bytes(100, 0x80));
}

// Frames larger than the writer's 1 MiB window pass through it in pieces: the segment lands
// where it lands for the whole frame, also when the walk along the segments or an FF DA pair
// crosses from one piece to the next.
TEST(MovieWriter, FramesLargerThanTheWindowAreStoredAsWholeFramesAre) {
  constexpr std::size_t kMiB = 1 << 20;
  // FF D8, forty APP1 segments of 65535 bytes whose payloads hold FF DA, then the scan.
  Bytes segments = {0xFF, 0xD8};
  for (int i = 0; i < 40; ++i) {
    Bytes app1(2 + 65535, static_cast<std::uint8_t>(0x10 + i));
    app1[0] = 0xFF;
    app1[1] = 0xE1;
    app1[2] = 0xFF;
    app1[3] = 0xFF;
    app1[100] = 0xFF;
    app1[101] = 0xDA;
    segments.insert(segments.end(), app1.begin(), app1.end());
  }
  const Bytes scan = testing::jpeg_like_frame(5000, 2);
  segments.insert(segments.end(), scan.begin() + 2, scan.end());
  ASSERT_GT(segments.size(), 2 * kMiB);
  // No walkable segments; the first FF DA pair is cut by the window's edge.
  Bytes straddling = testing::jpeg_like_frame(2 * kMiB + 777, static_cast<std::size_t>(-1));
  straddling[kMiB - 1] = 0xFF;
  straddling[kMiB] = 0xDA;
  const Bytes no_pair = testing::jpeg_like_frame(3 * kMiB + 3, static_cast<std::size_t>(-1));

  SourcePlan plan = standard_source(15, 700);
  plan.movie[2].payload = segments;
  plan.movie[5].payload = straddling;
  plan.movie[9].payload = no_pair;
  Conversion result = convert_bytes(testing::build_source(plan).bytes);
  ASSERT_EQ(result.status, ExitStatus::kCompleted) << result.output;
  EXPECT_EQ(check_camera_file(result.dest), "");
  for (std::size_t i : {1u, 2u, 3u, 5u, 9u, 15u}) {
    EXPECT_EQ(payload(result.dest, i), fixed(plan.movie[i].payload)) << i;
  }
  const Bytes stored = payload(result.dest, 2);
  const std::size_t real_scan = 2 + 40 * (2 + 65535);
  EXPECT_EQ(Bytes(stored.begin() + real_scan, stored.begin() + real_scan + 4),
            (Bytes{0xFF, 0xE2, 0x01, 0xA2}));
  EXPECT_NE(result.output.find("was not found in frame 8\n"), std::string::npos);
}

TEST(MovieWriter, MissingAudioBecomesSilence) {
  Conversion result = convert_bytes(testing::build_source(standard_source(15, 100, 5000)).bytes);
  ASSERT_EQ(result.status, ExitStatus::kCompleted) << result.output;
  EXPECT_EQ(check_camera_file(result.dest), "");
  EXPECT_NE(result.output.find("successfully.\nWarning! 6024 bytes of audio are missing and are "
                               "replaced by silence\n\rConverting second 1 of 1.."),
            std::string::npos);
  Bytes audio = payload(result.dest, 0);
  EXPECT_EQ(audio[4999], testing::audio_sample(4999));
  EXPECT_EQ(Bytes(audio.begin() + 5000, audio.end()), Bytes(6024, 0x80));
}

TEST(MovieWriter, AFramePastTheEndOfTheSourceStopsTheRunAndLeavesNoDestination) {
  testing::BuiltSource built = testing::build_source(standard_source(15, 100));
  store_u32(built.bytes.data() + built.idx1 + 8 + 4 * 16 + 8, 0x00F00000);  // the 4th frame
  Conversion result = convert_bytes(built.bytes);
  EXPECT_EQ(result.status, ExitStatus::kRefused);
  EXPECT_NE(result.output.find("\nFrame 3 (index entry 4) lies beyond the end of the file."),
            std::string::npos)
      << result.output;
  EXPECT_FALSE(result.dest_exists);
  EXPECT_EQ(result.left_in_directory, std::vector<std::string>{"in.avi"});
}

// Video that is not JPEG (H.264, raw pictures) would make a movie that nothing can show: the
// first frame with any bytes must begin with FF D8. Later frames keep their per-frame warning.
TEST(MovieWriter, VideoThatIsNotJpegIsRefusedBeforeTheMovieIsWritten) {
  const Bytes h264 = {0x00, 0x00, 0x00, 0x01, 0x67, 0x42, 0xC0, 0x1E, 0xFF, 0xDA, 0x00};
  struct Case {
    const char* name;
    std::vector<Bytes> first_frames;  // the source's first frames; the others stay JPEG
    std::string refusal;              // empty: converted
  };
  const Case cases[] = {
      {"H.264 access unit", {h264}, "\nFrame 0 is not a JPEG picture"},
      {"empty frames, then H.264", {{}, {}, h264}, "\nFrame 2 is not a JPEG picture"},
      {"a frame of one byte", {{0xFF}}, "\nFrame 0 is not a JPEG picture"},
      {"FF D8 alone", {{0xFF, 0xD8}}, ""},
      {"an empty frame, then JPEG", {{}}, ""},
      {"JPEG, then H.264", {testing::jpeg_like_frame(100), h264}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SourcePlan plan = standard_source(15, 100);
    for (std::size_t i = 0; i < c.first_frames.size(); ++i) {
      plan.movie[1 + i].payload = c.first_frames[i];
    }
    Conversion result = convert_bytes(testing::build_source(plan).bytes);
    if (c.refusal.empty()) {
      EXPECT_EQ(result.status, ExitStatus::kCompleted) << result.output;
      continue;
    }
    EXPECT_EQ(result.status, ExitStatus::kRefused);
    const std::string tail =
        c.refusal + " (it does not begin with FF D8). The video must be MJPEG.\n";
    ASSERT_GE(result.output.size(), tail.size());
    EXPECT_EQ(result.output.substr(result.output.size() - tail.size()), tail);
    EXPECT_EQ(result.output.find("Converting"), std::string::npos);
    EXPECT_EQ(result.left_in_directory, std::vector<std::string>{"in.avi"});
  }
}

TEST(MovieWriter, ConvertingTwiceGivesTheSameFile) {
  Bytes source = testing::build_source(standard_source(45, 1001)).bytes;  // rounded lengths
  EXPECT_EQ(convert_bytes(source).dest, convert_bytes(source).dest);
}

}  // namespace
}  // namespace reelfix
