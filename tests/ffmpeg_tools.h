// The FFmpeg command-line tools as the tests use them: to make inputs and to read results
// independently. A test that needs them calls REQUIRE_FFMPEG() first: it is skipped when they
// are not installed, unless REELFIX_REQUIRE_FFMPEG is set (as in CI), when it fails.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "tests/test_support.h"

namespace reelfix::testing {

// Runs a shell command with both streams kept in files of `dir`; its raw status.
int shell(const std::string& command, const TempDir& dir, std::string* output = nullptr,
          std::string* error = nullptr);

bool ffmpeg_present();

// ffprobe's view of each stream of a file: key=value pairs, one map per stream.
std::vector<std::map<std::string, std::string>> probe(const std::string& file, const TempDir& dir);

// Checks a camera movie of `seconds` seconds with ffprobe and a full decode: MJPEG at the
// camera's rate and 8-bit mono sound at 11024 Hz, every frame and sample there, no error.
void expect_ffmpeg_reads(const std::string& file, int seconds, const TempDir& dir);

#define REQUIRE_FFMPEG()                                                                      \
  do {                                                                                        \
    if (!::reelfix::testing::ffmpeg_present()) {                                              \
      if (std::getenv("REELFIX_REQUIRE_FFMPEG")) FAIL() << "ffmpeg and ffprobe are required"; \
      GTEST_SKIP() << "ffmpeg or ffprobe not found; install FFmpeg to run this test";         \
    }                                                                                         \
  } while (false)

}  // namespace reelfix::testing
