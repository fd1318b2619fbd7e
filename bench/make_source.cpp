// Writes a source AVI for the benchmark runs when FFmpeg is not at hand: the test builder's
// plain acceptable source with `seconds` seconds of fifteen JPEG-like frames of `frame_size`
// bytes and 11024 bytes of audio each. The file is built in memory first, so this needs about
// twice the file's size in memory.
//
//   make_source <output.avi> <seconds> <frame_size>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "convert/camera_layout.h"
#include "tests/avi_builder.h"

namespace {

bool parse_count(const char* text, std::size_t& value) {
  char* end = nullptr;
  unsigned long long parsed = std::strtoull(text, &end, 10);
  if (end == text || *end != '\0' || parsed == 0) return false;
  value = static_cast<std::size_t>(parsed);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t seconds = 0;
  std::size_t frame_size = 0;
  if (argc != 4 || !parse_count(argv[2], seconds) || !parse_count(argv[3], frame_size)) {
    std::fprintf(stderr, "usage: make_source <output.avi> <seconds> <frame_size>\n");
    return 2;
  }
  try {
    const std::size_t frames = seconds * reelfix::FRAMES_PER_SECOND;
    const reelfix::testing::BuiltSource built =
        reelfix::testing::build_source(reelfix::testing::standard_source(frames, frame_size));
    reelfix::testing::write_file(argv[1], built.bytes);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "make_source: %s\n", error.what());
    return 1;
  }
  return 0;
}
