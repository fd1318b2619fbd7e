// The reelprep program on inputs that the FFmpeg command line makes, its movies checked with the
// layout check and by decoding them with FFmpeg. Skipped when FFmpeg is not installed, unless
// REELFIX_REQUIRE_FFMPEG is set.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "convert/camera_layout.h"
#include "tests/camera_file_check.h"
#include "tests/ffmpeg_tools.h"
#include "tests/test_support.h"

#ifndef _WIN32
#include <signal.h>

#include <chrono>
#include <thread>

#include "tests/child_process.h"
#endif

namespace reelfix {
namespace {

using testing::Bytes;
using testing::TempDir;

constexpr int kWidth = 320;
constexpr int kHeight = 240;

// Makes dir/name with the ffmpeg command line; `arguments` are its inputs and settings.
std::string make_input(const TempDir& dir, const std::string& name, const std::string& arguments) {
  const std::string path = dir.path(name);
  std::string error;
  EXPECT_EQ(testing::shell("ffmpeg -nostdin -v error -y " + arguments + " '" + path + "'", dir,
                           nullptr, &error),
            0)
      << error;
  return path;
}

testing::ProgramRun run_reelprep(const std::vector<std::string>& arguments) {
  return testing::run_program(REELPREP_EXECUTABLE, arguments);
}

// What FFmpeg decodes from a file, as raw bytes: `options` choose the stream and the format.
Bytes decode(const TempDir& dir, const std::string& file, const std::string& options) {
  std::string output;
  std::string error;
  EXPECT_EQ(testing::shell("ffmpeg -nostdin -v error -i '" + file + "' " + options + " -", dir,
                           &output, &error),
            0)
      << error;
  return Bytes(output.begin(), output.end());
}

// Every picture of a movie as 8-bit luma, 320x240 each.
std::vector<Bytes> pictures(const TempDir& dir, const std::string& movie) {
  const Bytes all = decode(dir, movie, "-map 0:v -f rawvideo -pix_fmt gray");
  const std::size_t size = kWidth * kHeight;
  std::vector<Bytes> frames;
  for (std::size_t at = 0; at + size <= all.size(); at += size) {
    frames.emplace_back(all.begin() + static_cast<std::ptrdiff_t>(at),
                        all.begin() + static_cast<std::ptrdiff_t>(at + size));
  }
  return frames;
}

Bytes sound(const TempDir& dir, const std::string& movie) {
  return decode(dir, movie, "-map 0:a -f u8");
}

// The movie keeps the camera's layout, and FFmpeg reads all of it.
void expect_camera_movie(const std::string& movie, int seconds, const TempDir& dir) {
  EXPECT_EQ(testing::check_camera_file(testing::read_file(movie)), "");
  testing::expect_ffmpeg_reads(movie, seconds, dir);
}

// The video bytes of every second as the movie stores them, from its index.
std::vector<std::uint32_t> video_bytes_per_second(const std::string& movie) {
  const Bytes file = testing::read_file(movie);
  const std::size_t idx1 = MOVI_FOURCC_OFFSET + load_u32(file.data() + MOVI_SIZE_OFFSET);
  const std::size_t entries = load_u32(file.data() + idx1 + 4) / IndexEntry::kSize;
  std::vector<std::uint32_t> seconds(entries / 16, 0);
  for (std::size_t i = 0; i < entries; ++i) {
    const IndexEntry e = decode_index_entry(file.data() + idx1 + 8 + i * IndexEntry::kSize);
    if (e.ckid == fourcc("00dc")) seconds[i / 16] += e.dwChunkLength;
  }
  return seconds;
}

double mean(const Bytes& picture, int x0, int y0, int x1, int y1) {
  double sum = 0;
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) sum += picture[static_cast<std::size_t>(y * kWidth + x)];
  }
  return sum / ((x1 - x0) * (y1 - y0));
}

// The black lines at the top and the black columns at the left of a picture of a white input.
std::pair<int, int> black_border(const Bytes& picture) {
  int top = 0;
  while (top < kHeight && mean(picture, 0, top, kWidth, top + 1) < 64) ++top;
  int left = 0;
  while (left < kWidth && mean(picture, left, 0, left + 1, kHeight) < 64) ++left;
  return {top, left};
}

TEST(PrepProgram, AnHdMovieIsLetterboxedWithItsColoursConverted) {
  REQUIRE_FFMPEG();
  TempDir dir;
  // 1280x720 at 30 frames a second, BT.709 and marked so, H.264 with AAC at 48 kHz in stereo.
  const std::string input =
      make_input(dir, "hd.mp4",
                 "-f lavfi -i color=c=0x20C040:s=1280x720:r=30 -f lavfi -i "
                 "sine=frequency=440:sample_rate=48000 "
                 "-t 2 -ac 2 -vf scale=out_color_matrix=bt709:out_range=tv,format=yuv420p "
                 "-colorspace bt709 -color_primaries bt709 -color_trc bt709 "
                 "-c:v libx264 -preset ultrafast -qp 0 -c:a aac");
  const std::string movie = dir.path("camera.avi");
  testing::ProgramRun run = run_reelprep({input, movie});
  ASSERT_EQ(run.status, 0) << run.error;
  EXPECT_EQ(run.output.find("Wrote 2 seconds to '" + movie + "': "), 0u) << run.output;
  EXPECT_EQ(run.error, "");  // no progress line: standard error is no terminal
  expect_camera_movie(movie, 2, dir);

  // 16:9 in 4:3: 180 lines of picture between two black bars of 30.
  const std::vector<Bytes> frames = pictures(dir, movie);
  ASSERT_EQ(frames.size(), 30u);
  for (const Bytes& picture : {frames.front(), frames.back()}) {
    EXPECT_LT(mean(picture, 0, 0, kWidth, 29), 2);
    EXPECT_LT(mean(picture, 0, 211, kWidth, kHeight), 2);
    EXPECT_GT(mean(picture, 0, 31, kWidth, 209), 100);
    EXPECT_EQ(black_border(picture).first, 30);
  }

  // The colour as the input means it (BT.709), not its numbers read as BT.601.
  const Bytes meant =
      decode(dir, input, "-frames:v 1 -vf crop=2:2:640:360 -f rawvideo -pix_fmt rgb24");
  const Bytes relabelled = decode(
      dir, input,
      "-frames:v 1 -vf crop=2:2:640:360,scale=in_color_matrix=bt601 -f rawvideo -pix_fmt rgb24");
  const Bytes shown =
      decode(dir, movie, "-frames:v 1 -vf crop=2:2:160:120 -f rawvideo -pix_fmt rgb24");
  ASSERT_EQ(shown.size(), 12u);
  ASSERT_EQ(meant.size(), 12u);
  ASSERT_GT(std::abs(meant[1] - relabelled[1]), 15) << "the test colour tells the two apart";
  for (int channel = 0; channel < 3; ++channel) {
    EXPECT_NEAR(shown[channel], meant[channel], 6) << "channel " << channel;
  }
}

TEST(PrepProgram, EveryShapeFillsTheFrameAsTheFitSays) {
  REQUIRE_FFMPEG();
  struct Case {
    const char* size;
    const char* sar;    // the pixel shape in the coded picture
    const char* remux;  // then copied into another file with these settings, unless empty
    const char* fit;
    int top, left;  // black lines above, black columns at the left
  };
  const Case cases[] = {
      {"640x480", "1", "", "pad", 0, 0},               // 4:3: no bars
      {"720x576", "16/15", "", "pad", 0, 0},           // PAL 4:3 with its pixel shape: no bars
      {"720x480", "32/27", "", "pad", 30, 0},          // anamorphic 16:9
      {"640x480", "1", "-aspect 16:9", "pad", 30, 0},  // 16:9 said by the container only
      {"480x640", "1", "", "pad", 0, 70},              // upright: bars at the sides
      {"1280x720", "1", "", "crop", 0, 0},             // 16:9 cut to 4:3
      {"1280x720", "1", "", "stretch", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.size) + " " + c.remux + " " + c.fit);
    TempDir dir;
    std::string input = make_input(dir, "coded.mkv",
                                   std::string("-f lavfi -i color=white:s=") + c.size +
                                       ":r=25 -t 1 -vf setsar=" + c.sar + " -c:v mpeg4 -q:v 2");
    if (*c.remux != '\0') {
      input = make_input(dir, "in.mkv", "-i '" + input + "' -c copy " + c.remux);
    }
    const std::string movie = dir.path("camera.avi");
    testing::ProgramRun run = run_reelprep({"--fit", c.fit, "-q", input, movie});
    ASSERT_EQ(run.status, 0) << run.error;
    const std::vector<Bytes> frames = pictures(dir, movie);
    ASSERT_FALSE(frames.empty());
    const auto [top, left] = black_border(frames[0]);
    EXPECT_NEAR(top, c.top, 1);
    EXPECT_NEAR(left, c.left, 1);
  }
}

TEST(PrepProgram, AnInputWithoutSoundGivesASilentMovieAndANote) {
  REQUIRE_FFMPEG();
  TempDir dir;
  const std::string input = make_input(
      dir, "mute.mp4", "-f lavfi -i testsrc2=s=640x480:r=25 -t 2 -c:v libx264 -preset ultrafast");
  const std::string movie = dir.path("camera.avi");
  testing::ProgramRun run = run_reelprep({input, movie});
  ASSERT_EQ(run.status, 0) << run.error;
  EXPECT_NE(run.output.find("Note: '" + input + "' has no sound; the movie is silent.\n"),
            std::string::npos)
      << run.output;
  expect_camera_movie(movie, 2, dir);
  const Bytes samples = sound(dir, movie);
  EXPECT_EQ(samples, Bytes(2 * AUDIO_RATE, 0x80));

  // --quiet leaves the note out.
  run = run_reelprep({"-q", "-y", input, movie});
  ASSERT_EQ(run.status, 0) << run.error;
  EXPECT_EQ(run.output.find("Note:"), std::string::npos) << run.output;
}

// The first sample that is not silence.
std::size_t first_sound(const Bytes& samples) {
  std::size_t i = 0;
  while (i < samples.size() && std::abs(samples[i] - 0x80) < 8) ++i;
  return i;
}

TEST(PrepProgram, SoundThatStartsLateIsPrecededBySilence) {
  REQUIRE_FFMPEG();
  TempDir dir;
  // The sound's first sample belongs half a second after the first picture.
  const std::string input = make_input(
      dir, "late.mkv",
      "-f lavfi -i testsrc2=s=640x480:r=25 -itsoffset 0.5 -f lavfi "
      "-i sine=frequency=1000:sample_rate=44100 -t 3 -c:v libx264 -preset ultrafast -c:a aac");
  const std::string movie = dir.path("camera.avi");
  testing::ProgramRun run = run_reelprep({input, movie});
  ASSERT_EQ(run.status, 0) << run.error;
  expect_camera_movie(movie, 3, dir);
  const Bytes samples = sound(dir, movie);
  EXPECT_NEAR(static_cast<double>(first_sound(samples)), 0.5 * AUDIO_RATE, 0.002 * AUDIO_RATE);
}

// The mean brightness of every picture of a movie, decoded at a small size (long movies too).
std::vector<double> brightness(const TempDir& dir, const std::string& movie) {
  const std::size_t size = 8 * 6;
  const Bytes all = decode(dir, movie, "-map 0:v -vf scale=8:6 -f rawvideo -pix_fmt gray");
  std::vector<double> means;
  for (std::size_t at = 0; at + size <= all.size(); at += size) {
    double sum = 0;
    for (std::size_t i = at; i < at + size; ++i) sum += all[i];
    means.push_back(sum / size);
  }
  return means;
}

// The flashes of a movie's pictures: where pictures far brighter than black begin, in seconds.
std::vector<double> flash_times(const std::vector<double>& brightness) {
  std::vector<double> times;
  bool lit = false;
  for (std::size_t i = 0; i < brightness.size(); ++i) {
    const bool bright = brightness[i] > 128;
    if (bright && !lit) times.push_back(i / 15.0);
    lit = bright;
  }
  return times;
}

// The clicks of a sound: where it leaves silence after at least half a second of it.
std::vector<double> click_times(const Bytes& samples) {
  std::vector<double> times;
  std::size_t quiet_since = 0;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    if (std::abs(samples[i] - 0x80) < 24) continue;
    if (times.empty() || i - quiet_since > AUDIO_RATE / 2) times.push_back(i / double{AUDIO_RATE});
    quiet_since = i;
  }
  return times;
}

// The lavfi inputs of a flash on the picture and a click on the sound at every whole second:
// white pictures for the first 100 ms of each second (so that the camera's 15 pictures a second
// catch it at any input rate) and 10 ms of a 1 kHz tone. `picture` is the source before the flash
// ("color=black:s=640x360:r=30"), `sound` the tone's settings ("s=48000").
std::string flash_and_click(const std::string& picture, const std::string& sound) {
  return "-f lavfi -i \"" + picture +
         ",drawbox=c=white:t=fill:enable='lt(mod(t,1),0.1)'\" -f lavfi "
         "-i \"aevalsrc='if(lt(mod(t,1),0.01),0.8*sin(2*PI*1000*t),0)':" +
         sound + "\"";
}

// The movie, made from a flash-and-click input, has its flashes where `flashes` says (to within
// `tolerance` seconds), and a click within one frame of each.
void expect_flashes_with_clicks(const TempDir& dir, const std::string& movie,
                                const std::vector<double>& flashes, double tolerance) {
  const std::vector<double> seen = flash_times(brightness(dir, movie));
  const std::vector<double> clicks = click_times(sound(dir, movie));
  ASSERT_EQ(seen.size(), flashes.size());
  ASSERT_EQ(clicks.size(), flashes.size());
  for (std::size_t i = 0; i < seen.size(); ++i) {
    EXPECT_NEAR(seen[i], flashes[i], tolerance) << "flash " << i;
    EXPECT_LT(std::abs(seen[i] - clicks[i]), 1.0 / 15) << "flash " << i;
  }
}

// 0, 1, ..., n - 1 seconds.
std::vector<double> every_second(int n) {
  std::vector<double> times;
  for (int i = 0; i < n; ++i) times.push_back(i);
  return times;
}

TEST(PrepProgram, AFlashAndAClickMeetWithinOneFrame) {
  REQUIRE_FFMPEG();
  TempDir dir;
  const std::string input =
      make_input(dir, "sync.mp4",
                 flash_and_click("color=black:s=640x360:r=30", "s=48000:c=stereo") +
                     " -t 5 -c:v libx264 -preset ultrafast -c:a aac");
  struct Case {
    std::vector<std::string> options;
    int seconds;
    std::vector<double> flashes;  // where the input's flashes land in the movie
  };
  const Case cases[] = {
      {{}, 5, {0, 1, 2, 3, 4}},
      {{"--start", "1.5", "--length", "2"}, 2, {0.5, 1.5}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options.empty() ? "the whole input" : "from 1.5 s for 2 s");
    const std::string movie = dir.path("camera.avi");
    std::vector<std::string> arguments = c.options;
    arguments.insert(arguments.end(), {"-y", input, movie});
    testing::ProgramRun run = run_reelprep(arguments);
    ASSERT_EQ(run.status, 0) << run.error;
    expect_camera_movie(movie, c.seconds, dir);
    expect_flashes_with_clicks(dir, movie, c.flashes, 1.0 / 15 + 1e-9);
  }
}

TEST(PrepProgram, ALongInputBecomesPartsThatHoldAllOfItInStep) {
  REQUIRE_FFMPEG();
  TempDir dir;
  // 400 seconds, small and cheap: 15 pictures a second, each on the camera's grid, so that a
  // picture lost or repeated at a cut would move every later flash by a frame.
  const std::string input = make_input(
      dir, "long.mkv",
      flash_and_click("color=black:s=64x48:r=15", "s=8000") + " -t 400 -c:v mpeg4 -c:a pcm_u8");
  const std::string first = dir.path("CLIP0001.AVI");
  testing::ProgramRun run = run_reelprep({input, first});
  ASSERT_EQ(run.status, 0) << run.error;
  const std::pair<std::string, int> parts[] = {
      {first, 180}, {dir.path("CLIP0002.AVI"), 180}, {dir.path("CLIP0003.AVI"), 40}};
  // The summary: one line for each part, in order.
  std::istringstream summary(run.output);
  for (const auto& [movie, seconds] : parts) {
    SCOPED_TRACE(movie);
    std::string line;
    std::getline(summary, line);
    EXPECT_EQ(line.rfind("Wrote " + std::to_string(seconds) + " seconds to '" + movie +
                             "': " + std::to_string(testing::read_file(movie).size()) + " bytes",
                         0),
              0u)
        << line;
    expect_camera_movie(movie, seconds, dir);
    expect_flashes_with_clicks(dir, movie, every_second(seconds), 1e-6);
  }
  EXPECT_EQ(summary.tellg(), static_cast<std::streampos>(run.output.size())) << run.output;
}

TEST(PrepProgram, EveryPartsNameIsCheckedBeforeAnyWork) {
  REQUIRE_FFMPEG();
  TempDir dir;
  // 181 seconds: two parts, the second of one second.
  const std::string input =
      make_input(dir, "clip2.avi",
                 "-f lavfi -i color=gray:s=64x48:r=10 -f lavfi -i sine=sample_rate=8000 -t 181 "
                 "-c:v mpeg4 -c:a pcm_u8");
  const std::string first = dir.path("CLIP0001.AVI");
  const std::string second = dir.path("CLIP0002.AVI");
  const Bytes old = {'o', 'l', 'd'};
  testing::write_file(first, old);
  testing::write_file(second, old);
  testing::ProgramRun run = run_reelprep({input, first});
  EXPECT_EQ(run.status, 3);
  EXPECT_EQ(run.error, "Error: '" + first + "' and '" + second +
                           "' exist; give -y to replace them. Nothing was converted.\n");
  EXPECT_EQ(testing::read_file(first), old);
  EXPECT_EQ(testing::read_file(second), old);

  // Only the first part is made, and only its name matters.
  std::filesystem::remove(testing::file_path(first));
  run = run_reelprep({"--first-part-only", input, first});
  ASSERT_EQ(run.status, 0) << run.error;
  EXPECT_EQ(run.output.find("Note: '" + input +
                            "' runs longer than 180 seconds; with --first-part-only the movie "
                            "holds its first 180.\n"),
            0u)
      << run.output;
  expect_camera_movie(first, 180, dir);
  EXPECT_EQ(testing::read_file(second), old);

  run = run_reelprep({"-y", input, first});
  ASSERT_EQ(run.status, 0) << run.error;
  EXPECT_NE(run.output.find("Wrote 1 second to '" + second + "'"), std::string::npos) << run.output;
  expect_camera_movie(second, 1, dir);

  // A later part may not be the input either.
  run = run_reelprep({"-y", input, dir.path("clip1.avi")});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.error,
            "Error: '" + input + "' and '" + input + "' are one file. Nothing was converted.\n");
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"CLIP0001.AVI", "CLIP0002.AVI", "clip2.avi",
                                                   "cmd.err", "cmd.out"}));
}

TEST(PrepProgram, APartTheLengthDidNotForeseeIsCheckedWhenItsTurnComes) {
  REQUIRE_FFMPEG();
  TempDir dir;
  // Two MPEG-TS recordings of 100 seconds joined end to end: the file claims the length of one,
  // so only one movie is foreseen; the clock starting again gives two.
  const std::string piece = make_input(dir, "piece.ts",
                                       "-f lavfi -i color=gray:s=64x48:r=10 -f lavfi -i "
                                       "sine=sample_rate=8000 -t 100 -c:v mpeg2video -c:a mp2");
  Bytes joined = testing::read_file(piece);
  joined.insert(joined.end(), joined.begin(), joined.end());
  const std::string input = dir.path("joined.ts");
  testing::write_file(input, joined);
  const std::string first = dir.path("movie.avi");
  const std::string second = dir.path("movie-2.avi");
  const Bytes old = {'o', 'l', 'd'};
  testing::write_file(second, old);
  testing::ProgramRun run = run_reelprep({input, first});
  EXPECT_EQ(run.status, 3);
  EXPECT_EQ(run.error, "Error: '" + second + "' exists; give -y to replace it.\n");
  // The movie made before stays, and the summary names it.
  EXPECT_EQ(run.output.find("Wrote 180 seconds to '" + first + "'"), 0u) << run.output;
  expect_camera_movie(first, 180, dir);
  EXPECT_EQ(testing::read_file(second), old);

  run = run_reelprep({"-y", input, first});
  ASSERT_EQ(run.status, 0) << run.error;
  expect_camera_movie(second, 20, dir);
}

TEST(PrepProgram, AnUprightPhoneVideoStandsUpright) {
  REQUIRE_FFMPEG();
  struct Case {
    const char* stored;  // how the upright picture is stored
    const char* rotate;  // the display matrix's angle, as FFmpeg's metadata gives it
  };
  const Case cases[] = {
      {"transpose=clock", "90"}, {"transpose=cclock", "270"}, {"hflip,vflip", "180"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rotate);
    TempDir dir;
    // Upright: 360x640, white with a red bar over its top eighth.
    const std::string stored = make_input(
        dir, "stored.mp4",
        std::string("-f lavfi -i color=white:s=360x640:r=15,drawbox=c=red:t=fill:h=80 -t 1 -vf ") +
            c.stored + " -c:v libx264 -preset ultrafast");
    const std::string input = make_input(
        dir, "phone.mp4", "-i '" + stored + "' -c copy -metadata:s:v:0 rotate=" + c.rotate);
    const std::string movie = dir.path("camera.avi");
    testing::ProgramRun run = run_reelprep({input, movie});
    ASSERT_EQ(run.status, 0) << run.error;
    const std::vector<Bytes> frames = pictures(dir, movie);
    ASSERT_EQ(frames.size(), 15u);
    const Bytes& picture = frames.back();
    // 9:16 in 4:3: 136 columns of picture between bars of 92.
    EXPECT_NEAR(black_border(picture).second, 92, 1);
    // The bar (red: luma about 80) at the top, the rest white.
    EXPECT_NEAR(mean(picture, 100, 2, 220, 26), 80, 20);
    EXPECT_GT(mean(picture, 100, 40, 220, 238), 230);
  }
}

TEST(PrepProgram, VariableFrameRatesAndJumpingClocksKeepPictureAndSoundTogether) {
  REQUIRE_FFMPEG();
  TempDir dir;
  // Six seconds at 24 pictures a second, six at 30, every seventh picture left out, the clock
  // starting at 30 s.
  const std::string variable = make_input(
      dir, "variable.mkv",
      flash_and_click("color=black:s=160x120:r=24:d=6", "s=22050:d=12") +
          " -f lavfi -i \"color=black:s=160x120:r=30:d=6,drawbox=c=white:t=fill:"
          "enable='lt(mod(t,1),0.1)'\" -filter_complex "
          "\"[0:v][2:v]concat=n=2:v=1:a=0,select='not(eq(mod(n,7),3))'[v]\" -map [v] -map 1:a "
          "-fps_mode vfr -output_ts_offset 30 -c:v libx264 -preset ultrafast -c:a pcm_s16le");
  // Two MPEG-TS recordings of three seconds joined end to end: the clock starts again.
  const std::string piece = make_input(
      dir, "piece.ts",
      flash_and_click("color=black:s=160x120:r=25", "s=48000") + " -t 3 -c:v mpeg2video -c:a mp2");
  Bytes joined = testing::read_file(piece);
  joined.insert(joined.end(), joined.begin(), joined.end());
  testing::write_file(dir.path("joined.ts"), joined);
  const std::pair<std::string, int> cases[] = {{variable, 12}, {dir.path("joined.ts"), 6}};
  for (const auto& [input, seconds] : cases) {
    SCOPED_TRACE(input);
    const std::string movie = dir.path("camera.avi");
    testing::ProgramRun run = run_reelprep({"-y", input, movie});
    ASSERT_EQ(run.status, 0) << run.error;
    expect_camera_movie(movie, seconds, dir);
    expect_flashes_with_clicks(dir, movie, every_second(seconds), 1.0 / 15 + 1e-9);
  }
}

// Pixels that differ from both the line above and the line below by much, in the same
// direction: the teeth of a frame whose two fields show two moments.
int comb_teeth(const Bytes& picture) {
  int teeth = 0;
  for (int y = 1; y + 1 < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const int above = picture[static_cast<std::size_t>((y - 1) * kWidth + x)];
      const int here = picture[static_cast<std::size_t>(y * kWidth + x)];
      const int below = picture[static_cast<std::size_t>((y + 1) * kWidth + x)];
      if ((here - above > 80 && here - below > 80) || (above - here > 80 && below - here > 80)) {
        ++teeth;
      }
    }
  }
  return teeth;
}

TEST(PrepProgram, InterlacedFramesAreDeinterlacedAndProgressiveOnesLeftAlone) {
  REQUIRE_FFMPEG();
  TempDir dir;
  // A bright bar moving 12 columns every 1/50 s; each frame's two fields show two moments.
  // Flagged interlaced (top field first) in one file, progressive in the other.
  const std::string fields =
      "-f lavfi -i \"nullsrc=s=320x240:r=50,geq=lum='if(between(X,mod(N*12,240),"
      "mod(N*12,240)+60),235,16)':cb=128:cr=128\" -t 2 -vf tinterlace=mode=interleave_top,";
  const std::pair<std::string, bool> cases[] = {
      {make_input(dir, "interlaced.mkv",
                  fields + "setfield=tff -c:v mpeg2video -q:v 2 -flags +ilme+ildct -top 1"),
       true},
      {make_input(dir, "progressive.mkv", fields + "setfield=prog -c:v mpeg2video -q:v 2"), false},
  };
  for (const auto& [input, interlaced] : cases) {
    SCOPED_TRACE(input);
    const std::string movie = dir.path("camera.avi");
    testing::ProgramRun run = run_reelprep({"-y", input, movie});
    ASSERT_EQ(run.status, 0) << run.error;
    const std::vector<Bytes> frames = pictures(dir, movie);
    ASSERT_EQ(frames.size(), 30u);
    for (std::size_t i = 1; i < frames.size(); ++i) {
      // Two edges of the bar, 240 lines, 12 columns: 5760 teeth when the fields stay apart.
      if (interlaced) {
        EXPECT_LT(comb_teeth(frames[i]), 100) << "picture " << i;
      } else {
        EXPECT_GT(comb_teeth(frames[i]), 4000) << "picture " << i;
      }
    }
  }
}

TEST(PrepProgram, BusyFootageStaysWithinTheCameraRateAndUsesIt) {
  REQUIRE_FFMPEG();
  TempDir dir;
  const std::string input =
      make_input(dir, "noise.mkv",
                 "-f lavfi -i color=gray:s=320x240:r=30,noise=alls=100:allf=t+u -t 3 -c:v ffv1");
  const std::string movie = dir.path("camera.avi");
  testing::ProgramRun run = run_reelprep({input, movie});
  ASSERT_EQ(run.status, 0) << run.error;
  EXPECT_EQ(run.output.find("Warning"), std::string::npos) << run.output;
  expect_camera_movie(movie, 3, dir);
  for (std::uint32_t bytes : video_bytes_per_second(movie)) {
    EXPECT_LE(bytes, 250000u);
    EXPECT_GT(bytes, 225000u) << "the rate allows a finer picture";
  }
}

TEST(PrepProgram, FootageTooBusyForTheRateIsWarnedAbout) {
  REQUIRE_FFMPEG();
  TempDir dir;
  // Every sample of every plane random: even the coarsest quantiser leaves about 29 KB a frame.
  const std::string input =
      make_input(dir, "wild.mkv",
                 "-f lavfi -i \"nullsrc=s=320x240:r=15,geq=lum='random(1)*255':cb='random(2)*255':"
                 "cr='random(3)*255'\" -t 2 -c:v ffv1");
  const std::string movie = dir.path("camera.avi");
  testing::ProgramRun run = run_reelprep({input, movie});
  ASSERT_EQ(run.status, 0) << run.error;
  EXPECT_NE(run.output.find("Warning: 2 of 2 seconds hold more than 250000 bytes of video even "
                            "at the coarsest quantiser; the camera may not play them smoothly.\n"),
            std::string::npos)
      << run.output;
  expect_camera_movie(movie, 2, dir);
}

TEST(PrepProgram, AnInputThatCannotBeUsedEndsWithStatus3AndAMessage) {
  REQUIRE_FFMPEG();
  TempDir dir;
  const std::string whole =
      make_input(dir, "whole.mp4",
                 "-f lavfi -i testsrc2=s=320x240:r=25 -f lavfi -i sine -t 2 -c:v libx264 "
                 "-preset ultrafast -c:a aac");
  Bytes bytes = testing::read_file(whole);
  bytes.resize(bytes.size() / 2);  // the index (moov) comes last: gone
  testing::write_file(dir.path("cut.mp4"), bytes);
  const std::string text = "These are notes, not a movie.\n";
  testing::write_file(dir.path("notes.txt"), Bytes(text.begin(), text.end()));
  make_input(dir, "tone.wav", "-f lavfi -i sine -t 1");
  struct Case {
    std::string input;
    std::vector<std::string> options;
    std::string message;
  };
  const Case cases[] = {
      {"cut.mp4", {}, "failed: Invalid data found when processing input (moov atom not found)"},
      {"notes.txt", {}, "failed: Invalid data found when processing input"},
      {"missing.mp4", {}, "failed: "},
      {"tone.wav", {}, "holds no video stream"},
      {"whole.mp4",
       {"--start", "10"},
       "failed: no picture could be decoded at or after the start given"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    std::vector<std::string> arguments = c.options;
    arguments.insert(arguments.end(), {dir.path(c.input), dir.path("camera.avi")});
    testing::ProgramRun run = run_reelprep(arguments);
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.error.find("'" + dir.path(c.input) + "'"), std::string::npos) << run.error;
    EXPECT_NE(run.error.find(c.message), std::string::npos) << run.error;
    EXPECT_EQ(std::count(run.error.begin(), run.error.end(), '\n'), 1) << run.error;
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"cmd.err", "cmd.out", "cut.mp4", "notes.txt",
                                                     "tone.wav", "whole.mp4"}));
  }
}

// The AVI with the given pictures (counting from 0) overwritten with zeros, which no JPEG
// decoder takes for a picture.
Bytes with_blank_pictures(Bytes avi, std::size_t from, std::size_t to) {
  const std::size_t movi =
      std::search(avi.begin(), avi.end(), std::begin("movi"), std::end("movi") - 1) - avi.begin();
  const std::size_t end = movi + load_u32(avi.data() + movi - 4);  // the list counts from "movi"
  std::size_t picture = 0;
  for (std::size_t at = movi + 4; at + 8 <= end;) {
    const std::uint32_t size = load_u32(avi.data() + at + 4);
    if (load_u32(avi.data() + at) == fourcc("00dc")) {
      if (picture >= from && picture <= to) {
        std::fill_n(avi.begin() + static_cast<std::ptrdiff_t>(at + 8), size, 0);
      }
      ++picture;
    }
    at += 8 + size + (size & 1);  // FFmpeg pads chunks to even sizes
  }
  return avi;
}

TEST(PrepProgram, PicturesThatCannotBeDecodedAreCountedAndLeftOut) {
  REQUIRE_FFMPEG();
  TempDir dir;
  const Bytes source = testing::read_file(make_input(
      dir, "source.avi",
      "-f lavfi -i testsrc2=s=320x240:r=15 -f lavfi -i sine -t 2 -c:v mjpeg -c:a pcm_u8"));
  const std::string input = dir.path("damaged.avi");
  const std::string movie = dir.path("camera.avi");

  // Five pictures lost: the ones before stand in for them.
  testing::write_file(input, with_blank_pictures(source, 3, 7));
  testing::ProgramRun run = run_reelprep({input, movie});
  ASSERT_EQ(run.status, 0) << run.error;
  EXPECT_NE(run.output.find("Warning: 5 packets of '" + input +
                            "' could not be decoded and were left out.\n"),
            std::string::npos)
      << run.output;
  expect_camera_movie(movie, 2, dir);

  // No picture at all: nothing to make a movie of.
  testing::write_file(input, with_blank_pictures(source, 0, 29));
  run = run_reelprep({"-y", input, movie});
  EXPECT_EQ(run.status, 3);
  EXPECT_EQ(run.error, "Error: reading '" + input +
                           "' failed: no picture could be decoded (No JPEG data found in image)\n");
}

TEST(PrepProgram, AnExistingOutputIsReplacedOnlyWithOverwrite) {
  REQUIRE_FFMPEG();
  TempDir dir;
  const std::string input = make_input(
      dir, "in.mp4", "-f lavfi -i testsrc2=s=320x240:r=25 -t 1 -c:v libx264 -preset ultrafast");
  const std::string movie = dir.path("camera.avi");
  const Bytes old = {'o', 'l', 'd'};
  testing::write_file(movie, old);
  testing::ProgramRun run = run_reelprep({input, movie});
  EXPECT_EQ(run.status, 3);
  EXPECT_EQ(run.error,
            "Error: '" + movie + "' exists; give -y to replace it. Nothing was converted.\n");
  EXPECT_EQ(testing::read_file(movie), old);

  run = run_reelprep({"-y", input, movie});
  EXPECT_EQ(run.status, 0) << run.error;
  expect_camera_movie(movie, 1, dir);
  // Nothing else is left beside it: the intermediate source is gone.
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"camera.avi", "cmd.err", "cmd.out", "in.mp4"}));

  // One file under two names is refused before anything else, -y or not.
  run = run_reelprep({"-y", input, input});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.error,
            "Error: '" + input + "' and '" + input + "' are one file. Nothing was converted.\n");
}

TEST(PrepProgram, AnOutputThatCannotBeCreatedEndsWithStatus3) {
  REQUIRE_FFMPEG();
  TempDir dir;
  const std::string input = make_input(
      dir, "in.mp4", "-f lavfi -i testsrc2=s=320x240:r=25 -t 1 -c:v libx264 -preset ultrafast");
  const std::string folder = dir.path("folder");
  testing::ProgramRun run = run_reelprep({"-y", input, folder + "/camera.avi"});
  EXPECT_EQ(run.status, 3);
  EXPECT_EQ(run.error,
            "Error: creating '" + folder + "/camera.avi' failed: No such file or directory\n");
  std::filesystem::create_directory(testing::file_path(folder));
  run = run_reelprep({"-y", input, folder});
  EXPECT_EQ(run.status, 3);
  EXPECT_EQ(run.error, "Error: creating '" + folder + "' failed: Is a directory\n");
  EXPECT_TRUE(std::filesystem::is_empty(testing::file_path(folder)));
}

TEST(PrepProgram, HelpAndMistakesOnTheCommandLine) {
  testing::ProgramRun help = run_reelprep({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.output.find("INPUT OUTPUT"), std::string::npos) << help.output;
  EXPECT_EQ(help.error, "");
  testing::ProgramRun nothing = run_reelprep({});
  EXPECT_EQ(nothing.status, 1);
  EXPECT_EQ(nothing.output, "");
  EXPECT_NE(nothing.error.find("INPUT is required"), std::string::npos) << nothing.error;
}

#ifndef _WIN32

// A movie long enough to be interrupted while reelprep works on it.
std::string long_input(const TempDir& dir) {
  return make_input(dir, "long.mp4",
                    "-f lavfi -i testsrc2=s=640x480:r=30 -f lavfi -i sine -t 40 -c:v libx264 "
                    "-preset ultrafast -c:a aac");
}

TEST(PrepProgram, AnInterruptionLeavesNoTemporaryFile) {
  REQUIRE_FFMPEG();
  TempDir inputs;
  const std::string input = long_input(inputs);
  const Bytes old = {'o', 'l', 'd'};
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal_number);
    TempDir dir;
    const std::string movie = dir.path("camera.avi");
    testing::write_file(movie, old);
    testing::Child child = testing::start_program(REELPREP_EXECUTABLE, {"-y", input, movie});
    // The intermediate source appears beside the output once the input is open.
    testing::wait_until(
        child, [&dir] { return dir.names().size() >= 2; }, 20);
    EXPECT_EQ(dir.names().size(), 2u) << "no temporary file beside the output";
    kill(child.pid, signal_number);
    testing::ChildEnd end = testing::finish(child);
    EXPECT_FALSE(end.exited) << end.error;
    EXPECT_EQ(end.signal, signal_number);
    EXPECT_EQ(dir.names(), std::vector<std::string>{"camera.avi"});
    EXPECT_EQ(testing::read_file(movie), old);
  }
}

TEST(PrepProgram, AnInterruptionKeepsTheCompletedPartsAndNamesThem) {
  REQUIRE_FFMPEG();
  TempDir dir;
  const std::string input = make_input(
      dir, "long.mkv",
      "-f lavfi -i testsrc2=s=64x48:r=15 -f lavfi -i sine=sample_rate=8000 -t 400 -c:v mpeg4 "
      "-c:a pcm_u8");
  const std::string first = dir.path("CLIP0001.AVI");
  testing::Child child = testing::start_program(REELPREP_EXECUTABLE, {input, first});
  // Interrupted once the first part is in place, while the second is being made.
  testing::wait_until(
      child, [&first] { return std::filesystem::exists(testing::file_path(first)); }, 60);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  kill(child.pid, SIGINT);
  testing::ChildEnd end = testing::finish(child);
  EXPECT_FALSE(end.exited) << end.error;
  EXPECT_EQ(end.signal, SIGINT);
  EXPECT_EQ(end.error, "Interrupted: '" + first + "' is complete; the rest was not made.\n");
  EXPECT_EQ(dir.names(),
            (std::vector<std::string>{"CLIP0001.AVI", "cmd.err", "cmd.out", "long.mkv"}));
  expect_camera_movie(first, 180, dir);
}

TEST(PrepProgram, AFullDiskEndsWithStatus4AndLeavesNothingBehind) {
  REQUIRE_FFMPEG();
  TempDir inputs;
  const std::string input = make_input(
      inputs, "in.mp4", "-f lavfi -i testsrc2=s=640x480:r=25 -t 2 -c:v libx264 -preset ultrafast");
  const Bytes old = {'o', 'l', 'd'};
  TempDir dir;
  const std::string movie = dir.path("camera.avi");
  ASSERT_EQ(run_reelprep({input, movie}).status, 0);
  const std::uint64_t full_size = testing::read_file(movie).size();
  // The intermediate source meets the limit; only the movie's last bytes do.
  for (std::uint64_t limit : {std::uint64_t{20000}, full_size - 1}) {
    SCOPED_TRACE(limit);
    testing::write_file(movie, old);
    testing::ChildOptions options;
    options.file_size_limit = limit;
    testing::Child child =
        testing::start_program(REELPREP_EXECUTABLE, {"-y", input, movie}, options);
    testing::ChildEnd end = testing::finish(child);
    EXPECT_TRUE(end.exited) << end.signal;
    EXPECT_EQ(end.status, 4);
    EXPECT_EQ(end.error, "Error: writing '" + movie + "' failed: File too large\n");
    EXPECT_EQ(testing::read_file(movie), old);
    EXPECT_EQ(dir.names(), std::vector<std::string>{"camera.avi"});
  }
}

#endif

}  // namespace
}  // namespace reelfix
