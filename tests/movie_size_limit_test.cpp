// The movie writer keeps the finished file within what the 32-bit RIFF size can describe. The
// movie is written to /dev/null, so that a movie of 4 GB costs no disk, only the copying.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "convert/movie_writer.h"
#include "tests/test_support.h"

namespace reelfix {
namespace {

// 35 seconds whose first 34 bring the movie list to 4294956270 bytes: within the limit for
// frames (2^32 - 1 - 2056 - 35 * 256 = 4294956279), but the next audio chunk of 11032 bytes
// takes it past 2^32. A writer that counted only the frames against the limit wrapped its
// 32-bit movie size there and completed a movie whose sizes and index were wrong.
TEST(MovieSizeLimit, AnAudioChunkThatWouldPassTheLimitIsRefused) {
  constexpr std::uint32_t kLarge = 8420739;  // 509 frames of this and one of kTuned
  constexpr std::uint32_t kTuned = kLarge + 208;
  static_assert(4 + 34 * (AUDIO_RATE + 8) + 510 * 8 + 509ull * kLarge + kTuned == 4294956270ull);

  testing::TempDir dir;
  // Two frame chunks without FF DA, so they are copied unchanged: their lengths stay exact.
  testing::Bytes source(8 + kLarge + 8 + kTuned, 0);
  testing::write_file(dir.path("in.avi"), source);

  testing::CapturedConsole captured;
  ConversionState state(captured.console, testing::pinned_time);
  state.source_name = dir.path("in.avi");
  ASSERT_TRUE(open_source(state.source_file, state.source_name));
  state.dest_file.handle.native = ::open("/dev/null", O_WRONLY);
  state.dest_file.handle.name = dir.path("out.avi");
  ASSERT_GE(state.dest_file.handle.native, 0);
  seek(state.dest_file, HEADER_AREA_SIZE);

  state.movi_base = 0;  // the source's chunk offsets count from its first byte
  state.frame_count = 35 * FRAMES_PER_SECOND;
  for (std::uint32_t i = 0; i < state.frame_count; ++i) {
    const bool tuned = i == 0;
    state.source_frames.push_back({tuned ? 8 + kLarge : 0, tuned ? kTuned : kLarge, i});
  }

  EXPECT_FALSE(write_movie(state));
  flush(captured.console);
  EXPECT_NE(captured.output.find("would be larger than an AVI file can be (4 GB)"),
            std::string::npos);
  close(state.dest_file);
  close(state.source_file);
}

}  // namespace
}  // namespace reelfix
