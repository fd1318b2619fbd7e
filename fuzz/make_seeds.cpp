// Writes the fuzzer's built seed sources into a directory: small, acceptable sources, each
// reaching a different part of the conversion.
//
//   make_fuzz_seeds fuzz/corpus
#include <cstdio>
#include <string>

#include "tests/avi_builder.h"

using reelfix::testing::Bytes;
using reelfix::testing::Chunk;
using reelfix::testing::SourcePlan;
using reelfix::testing::build_source;
using reelfix::testing::standard_source;

namespace {

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_fuzz_seeds DIRECTORY\n");
    return 1;
  }
  const std::string dir = argv[1];
  auto write = [&](const std::string& name, const SourcePlan& plan) {
    reelfix::testing::write_file(dir + "/" + name, build_source(plan).bytes);
  };

  // One second of tiny frames and a little audio.
  write("built-one-second.avi", standard_source(15, 40, 64));

  // Two seconds, the audio in a short chunk per second.
  {
    SourcePlan plan = standard_source(30, 24, 0);
    plan.movie.insert(plan.movie.begin() + 15, Chunk{"01wb", Bytes(33, 0x70)});
    plan.movie.insert(plan.movie.begin(), Chunk{"01wb", Bytes(31, 0x90)});
    write("built-two-seconds.avi", plan);
  }

  // Two seconds of frames and no audio at all: the movie's sound is silence.
  write("built-video-only.avi", standard_source(30, 24, 0));

  // Chunks on every walk: a stream name in the video list, JUNK behind the stream lists, an
  // INFO list and JUNK between the header list and the movie list.
  {
    SourcePlan plan = standard_source(15, 20, 16);
    plan.video_list_extra = {{"strn", text("video\0\0\0")}};
    plan.after_stream_lists = {{"JUNK", Bytes(4, 0)}};
    Bytes info = text("INFOISFT");
    info.insert(info.end(), {8, 0, 0, 0, 'L', 'a', 'v', 'f', '5', '9', 0, 0});
    plan.after_header_list = {{"LIST", info}, {"JUNK", Bytes(8, 0)}};
    write("built-extra-chunks.avi", plan);
  }

  // Frames without FF DA, of odd lengths, listed in reverse and one of them twice.
  {
    SourcePlan plan = standard_source(0);
    for (std::size_t i = 0; i < 15; ++i) {
      plan.movie.push_back({"00dc", reelfix::testing::jpeg_like_frame(
                                        9 + i, static_cast<std::size_t>(-1),
                                        static_cast<std::uint8_t>(i))});
    }
    std::vector<std::size_t> order;
    for (std::size_t i = 15; i-- > 0;) order.push_back(i);
    order.push_back(3);
    plan.index_order = order;
    write("built-no-scan-marker.avi", plan);
  }

  // Short headers, a declared RIFF size that the file does not reach, an index with entries of
  // another stream, and bytes behind the index.
  {
    SourcePlan plan = standard_source(15, 16, 20);
    plan.avih_size = 40;
    plan.video_strh_size = 48;
    plan.audio_strh_size = 52;
    plan.riff_size = 0x00100000;
    plan.extra_index_entries = {{reelfix::fourcc("02tx"), 0, 4, 8}};
    plan.trailing = Bytes(7, 0xEE);
    write("built-odd-headers.avi", plan);
  }
  return 0;
}
