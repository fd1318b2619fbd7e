// Real files through real decoders: FFmpeg's own reading of what reelfix writes. Skipped when
// FFmpeg is not installed, unless REELFIX_REQUIRE_FFMPEG is set (as in CI), when that fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "convert/jpeg_fixup.h"
#include "tests/camera_file_check.h"
#include "tests/ffmpeg_tools.h"
#include "tests/test_support.h"

namespace reelfix {
namespace {

using testing::read_text;
using testing::shell;
using testing::TempDir;

constexpr std::array<std::uint8_t, 2> kScanMarker = {0xFF, 0xDA};

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

// An EXIF segment as cameras write it: a TIFF header, an empty first directory, and a second
// directory that points at a thumbnail picture behind it, whose own start-of-scan marker thus
// lies inside the segment's payload.
testing::Bytes exif_segment(const testing::Bytes& thumbnail) {
  const auto n = static_cast<std::uint32_t>(thumbnail.size());
  const std::uint8_t size[4] = {static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16),
                                static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)};
  const testing::Bytes head = {
      0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0,  // APP1, its length (below), "Exif"
      'M', 'M', 0, 0x2A, 0, 0, 0, 8,               // big-endian TIFF, first directory at 8
      0, 0, 0, 0, 0, 14,                           // no tags; the next directory at 14
      0, 2,                                        // two tags:
      0x02, 0x01, 0, 4, 0, 0, 0, 1, 0, 0, 0, 44,   //   the thumbnail at 44
      0x02, 0x02, 0, 4, 0, 0, 0, 1, size[0], size[1], size[2], size[3],  // and its length
      0, 0, 0, 0};                                 // no further directory
  testing::Bytes segment = head;
  segment.insert(segment.end(), thumbnail.begin(), thumbnail.end());
  const std::size_t length = segment.size() - 2;  // counts itself, not the marker
  segment[2] = static_cast<std::uint8_t>(length >> 8);
  segment[3] = static_cast<std::uint8_t>(length & 0xFF);
  return segment;
}

// Frames taken from camera photos carry an EXIF thumbnail. The table segment goes in front of
// the picture's own scan, not the thumbnail's: the EXIF segment stays whole and the frame
// decodes.
TEST(Interop, AFrameWithAnExifThumbnailKeepsItWholeAndDecodes) {
  REQUIRE_FFMPEG();
  TempDir dir;
  for (const char* size : {"320x240", "160x120"}) {
    ASSERT_EQ(shell(std::string("ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=") + size +
                        ":rate=1 -frames:v 1 -c:v mjpeg -q:v 4 '" + dir.path(size) + ".jpg'",
                    dir),
              0);
  }
  const testing::Bytes picture = testing::read_file(dir.path("320x240.jpg"));
  const testing::Bytes segment = exif_segment(testing::read_file(dir.path("160x120.jpg")));
  testing::Bytes frame = {0xFF, 0xD8};
  frame.insert(frame.end(), segment.begin(), segment.end());
  frame.insert(frame.end(), picture.begin() + 2, picture.end());

  testing::SourcePlan plan = testing::standard_source(15);
  for (auto& chunk : plan.movie) {
    if (chunk.id == "00dc") chunk.payload = frame;
  }
  testing::write_file(dir.path("in.avi"), testing::build_source(plan).bytes);
  testing::ProgramRun run = testing::run_reelfix({dir.path("in.avi"), dir.path("camera.avi")});
  ASSERT_EQ(run.status, 0) << run.output << run.error;
  testing::expect_ffmpeg_reads(dir.path("camera.avi"), 1, dir);

  // The first stored frame: everything up to the picture's scan, the tables, the scan.
  const testing::Bytes movie = testing::read_file(dir.path("camera.avi"));
  const std::size_t stored = 2060 + 8 + 11024 + 8;
  const std::size_t scan = 2 + segment.size() + (std::search(picture.begin(), picture.end(),
                                                            kScanMarker.begin(), kScanMarker.end()) -
                                                picture.begin() - 2);
  EXPECT_TRUE(std::equal(frame.begin(), frame.begin() + scan, movie.begin() + stored));
  EXPECT_TRUE(std::equal(kHuffmanSegment.begin(), kHuffmanSegment.end(),
                         movie.begin() + stored + scan));
  EXPECT_TRUE(std::equal(frame.begin() + scan, frame.end(), movie.begin() + stored + scan + 420));
  const testing::Bytes stored_frame(movie.begin() + stored,
                                    movie.begin() + stored + load_u32(movie.data() + stored - 4));
  testing::write_file(dir.path("frame.jpg"), stored_frame);
  std::string error;
  EXPECT_EQ(shell("ffmpeg -nostdin -v error -xerror -i '" + dir.path("frame.jpg") + "' -f null -",
                  dir, nullptr, &error),
            0);
  EXPECT_EQ(error, "");
}

}  // namespace
}  // namespace reelfix
