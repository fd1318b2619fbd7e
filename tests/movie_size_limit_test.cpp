// The movie writer keeps the finished file within what the 32-bit RIFF size can describe. The
// movie is written to /dev/null, so that a movie of 4 GB costs no disk, only the copying.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "convert/movie_writer.h"
#include "tests/test_support.h"

namespace reelfix {
namespace {

constexpr char kTooLarge[] = "would be larger than an AVI file can be (4 GB)";

// 35 seconds of one source frame of `length` bytes, listed 525 times. The frame opens a JPEG
// picture (FF D8), and its scan follows at once (FF DA) when `marker`, so that each copy is
// stored with the 420-byte segment.
struct LargeMovie {
  LargeMovie(std::uint32_t length, bool marker) {
    testing::Bytes source(8 + length, 0);
    source[8] = 0xFF;
    source[8 + 1] = 0xD8;
    if (marker) {
      source[8 + 2] = 0xFF;
      source[8 + 3] = 0xDA;
    }
    testing::write_file(dir.path("in.avi"), source);
    state.source_name = dir.path("in.avi");
    EXPECT_TRUE(open_source(state.source_file, state.source_name, testing::ignored_reason()));
    state.dest_file.handle.native = ::open("/dev/null", O_WRONLY);
    state.dest_file.handle.name = dir.path("out.avi");
    EXPECT_GE(state.dest_file.handle.native, 0);
    seek(state.dest_file, HEADER_AREA_SIZE);
    state.movi_base = 0;  // the source's chunk offsets count from its first byte
    state.frame_count = 35 * FRAMES_PER_SECOND;
    for (std::uint32_t i = 0; i < state.frame_count; ++i) state.source_frames.push_back({0, length, i});
  }
  ~LargeMovie() {
    close(state.dest_file);
    close(state.source_file);
  }
  std::string output() {
    flush(captured.console);
    return captured.output;
  }

  testing::TempDir dir;
  testing::CapturedConsole captured;
  ConversionState state{captured.console, testing::pinned_time};
};

// The file would be 2068 + 35 * (11032 + 256) + 525 * (8 + length) bytes with every frame as it
// is, and 525 * 420 more with the segment in each: the limit is 2^32 - 1 + 8.

// 525 frames of 8180200 bytes: 4295006348 bytes, too long by the index alone. Refused before a
// byte of the movie is written.
TEST(MovieSizeLimit, AMovieTooLargeByItsIndexIsRefusedBeforeItIsWritten) {
  static_assert(2068 + 35 * (11032 + 256) + 525ull * (8 + 8180200) == 4295006348ull);
  LargeMovie movie(8180200, false);
  EXPECT_FALSE(write_movie(movie.state));
  EXPECT_NE(movie.output().find(kTooLarge), std::string::npos);
  EXPECT_EQ(position(movie.state.dest_file), HEADER_AREA_SIZE);
}

// 525 frames of 8180000 bytes: 4294901348 bytes as they are, within the limit, but each receives
// the segment, which takes the movie 220500 bytes further, past it. A writer that counted only
// the index would complete a movie whose 32-bit sizes had wrapped.
TEST(MovieSizeLimit, AMoviePastTheLimitByItsTableSegmentsIsRefused) {
  static_assert(2068 + 35 * (11032 + 256) + 525ull * (8 + 8180000) == 4294901348ull);
  LargeMovie movie(8180000, true);
  EXPECT_FALSE(write_movie(movie.state));
  EXPECT_NE(movie.output().find(kTooLarge), std::string::npos);
}

}  // namespace
}  // namespace reelfix
