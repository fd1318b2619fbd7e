#include "tests/ffmpeg_tools.h"

#include <sstream>

namespace reelfix::testing {

int shell(const std::string& command, const TempDir& dir, std::string* output, std::string* error) {
  const std::string out = dir.path("cmd.out");
  const std::string err = dir.path("cmd.err");
  int status = std::system((command + " > '" + out + "' 2> '" + err + "'").c_str());
  if (output) *output = read_text(out);
  if (error) *error = read_text(err);
  return status;
}

bool ffmpeg_present() {
  static const bool present = std::system("ffmpeg -version > /dev/null 2>&1") == 0 &&
                              std::system("ffprobe -version > /dev/null 2>&1") == 0;
  return present;
}

std::vector<std::map<std::string, std::string>> probe(const std::string& file, const TempDir& dir) {
  std::string output;
  EXPECT_EQ(shell("ffprobe -v error -count_packets -show_entries "
                  "stream=codec_name,r_frame_rate,nb_frames,nb_read_packets,sample_rate,channels,"
                  "duration_ts,width,height -of default=noprint_wrappers=0 '" +
                      file + "'",
                  dir, &output),
            0);
  std::vector<std::map<std::string, std::string>> streams;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    if (line == "[STREAM]") streams.emplace_back();
    auto equals = line.find('=');
    if (equals != std::string::npos && !streams.empty()) {
      streams.back()[line.substr(0, equals)] = line.substr(equals + 1);
    }
  }
  return streams;
}

void expect_ffmpeg_reads(const std::string& file, int seconds, const TempDir& dir) {
  auto streams = probe(file, dir);
  ASSERT_EQ(streams.size(), 2u);
  EXPECT_EQ(streams[0]["codec_name"], "mjpeg");
  EXPECT_EQ(streams[0]["r_frame_rate"], "500000/33333");
  EXPECT_EQ(streams[0]["nb_frames"], std::to_string(seconds * 15));
  EXPECT_EQ(streams[0]["nb_read_packets"], std::to_string(seconds * 15));
  EXPECT_EQ(streams[1]["codec_name"], "pcm_u8");
  EXPECT_EQ(streams[1]["channels"], "1");
  EXPECT_EQ(streams[1]["sample_rate"], "11024");
  EXPECT_EQ(streams[1]["nb_frames"], std::to_string(seconds * 11024));
  std::string error;
  EXPECT_EQ(
      shell("ffmpeg -nostdin -v error -xerror -i '" + file + "' -f null -", dir, nullptr, &error),
      0);
  EXPECT_EQ(error, "");
}

}  // namespace reelfix::testing
