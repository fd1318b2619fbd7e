// Real files through real decoders: FFmpeg's own reading of what reelfix writes. Skipped when
// FFmpeg is not installed, unless REELFIX_REQUIRE_FFMPEG is set (as in CI), when that fails.
#include <gtest/gtest.h>

#include "tests/camera_file_check.h"
#include "tests/ffmpeg_tools.h"
#include "tests/test_support.h"

namespace reelfix {
namespace {

using testing::read_text;
using testing::shell;
using testing::TempDir;

TEST(Interop, FfmpegReadsAndDecodesTheConvertedSample) {
  REQUIRE_FFMPEG();
  TempDir dir;
  const std::string sample = std::string(REELFIX_SOURCE_DIR) + "/samples/sample.avi";
  testing::ProgramRun run = testing::run_reelfix({sample, dir.path("camera.avi")});
  ASSERT_EQ(run.status, 0) << run.output << run.error;
  EXPECT_EQ(testing::check_camera_file(testing::read_file(dir.path("camera.avi"))), "");
  testing::expect_ffmpeg_reads(dir.path("camera.avi"), 3, dir);
}

// The README tells users one FFmpeg command that turns any video into a source; it must keep
// working. The command is taken from the README itself.
TEST(Interop, TheDocumentedPreparationCommandMakesAnAcceptableSource) {
  REQUIRE_FFMPEG();
  const std::string readme = read_text(std::string(REELFIX_SOURCE_DIR) + "/README.md");
  const std::string start = "ffmpeg -i input.mp4 ";
  auto at = readme.find(start);
  ASSERT_NE(at, std::string::npos) << "the README has no preparation command";
  std::string command = readme.substr(at, readme.find('\n', at) - at);
  TempDir dir;
  // Any video: 25 frames a second, 44.1 kHz stereo, an odd size.
  ASSERT_EQ(shell("ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=352x288:rate=25 -f lavfi "
                  "-i sine=frequency=300:sample_rate=44100 -ac 2 -t 2.5 -c:v mpeg4 "
                  "-c:a pcm_s16le '" + dir.path("input.mkv") + "'",
                  dir),
            0);
  command.replace(command.find("input.mp4"), 9, "'" + dir.path("input.mkv") + "'");
  command.replace(command.find("source.avi"), 10, "'" + dir.path("source.avi") + "'");
  ASSERT_EQ(shell(command.replace(0, 6, "ffmpeg -nostdin"), dir), 0) << command;
  testing::ProgramRun run = testing::run_reelfix({dir.path("source.avi"), dir.path("camera.avi")});
  ASSERT_EQ(run.status, 0) << run.output << run.error;
  // FFmpeg names the handler "MJPG", which reelfix corrects; nothing else may need a warning.
  std::string output = run.output;
  const std::string handler = "Warning! fccHadnler!='mjpg', set to 'mjpg'\n";
  if (output.find(handler) != std::string::npos) output.erase(output.find(handler), handler.size());
  EXPECT_EQ(output.find("Warning"), std::string::npos) << run.output;
  testing::expect_ffmpeg_reads(dir.path("camera.avi"), 2, dir);
}

}  // namespace
}  // namespace reelfix
