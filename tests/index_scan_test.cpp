#include "convert/index_scan.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "convert/header_translation.h"
#include "convert/metadata_chunks.h"
#include "tests/test_support.h"

namespace reelfix {
namespace {

using testing::Bytes;
using testing::Chunk;
using testing::SourcePlan;
using testing::standard_source;

// The header phases, then the scan and the gathering, on a source; what they printed after
// the header texts and what they left in the state.
struct ScanRun {
  bool scanned = false;
  bool checked = false;  // check_audio
  std::string output;  // from the first search text on
  std::uint64_t movi_base = 0;
  std::uint32_t index_entry_count = 0;
  std::size_t kept_entries = 0;
  std::uint64_t audio_bytes = 0;
  std::uint32_t frame_count = 0;
  std::string source_name;
};

ScanRun scan(const Bytes& source) {
  testing::TempDir dir;
  testing::write_file(dir.path("in.avi"), source);
  testing::CapturedConsole captured;
  ConversionState state(captured.console, testing::pinned_time);
  state.source_name = dir.path("in.avi");
  EXPECT_TRUE(open_source(state.source_file, state.source_name, testing::ignored_reason()));
  std::string temp;
  EXPECT_TRUE(platform::create_temporary_beside(dir.path("out.avi"), state.dest_file.handle, temp,
                                                testing::ignored_reason()));
  ScanRun run;
  run.source_name = state.source_name;
  EXPECT_TRUE(translate_headers(state));
  write_metadata_chunks(state);
  flush(captured.console);
  const std::size_t header_text = captured.output.size();
  run.scanned = scan_source_index(state);
  if (run.scanned) run.checked = check_audio(state);
  flush(captured.console);
  run.output = captured.output.substr(header_text);
  run.movi_base = state.movi_base;
  run.index_entry_count = state.index_entry_count;
  run.kept_entries = state.source_frames.size();
  run.audio_bytes = state.audio_bytes;
  run.frame_count = state.frame_count;
  EXPECT_EQ(position(state.dest_file), HEADER_AREA_SIZE);  // the destination is not touched
  close(state.dest_file);
  close(state.source_file);
  platform::remove_temporary(temp);
  return run;
}

std::string searching(std::uint64_t at) {
  char text[64];
  std::snprintf(text, sizeof text, "\rSearching for 'movi' at 0x%08llx..",
                static_cast<unsigned long long>(at));
  return text;
}

std::string found(std::uint64_t at) {
  char text[64];
  std::snprintf(text, sizeof text, "\r'movi' section found at 0x%08llx   \n",
                static_cast<unsigned long long>(at));
  return text;
}

constexpr char kNoMovie[] = "\n'movi' section was not found. The file must have movie data.\n";
constexpr char kNoIndex[] = "'idx1' was not found after 'movi' section. The file must have index.\n";
constexpr char kGathered[] = "Audio data has been read successfully.\n";

TEST(IndexScan, FindsAMovieListRightBehindTheStreamLists) {
  testing::BuiltSource built = testing::build_source(standard_source(15));
  ScanRun run = scan(built.bytes);
  ASSERT_TRUE(run.scanned);
  const std::uint32_t list = built.movi_fourcc - 8;
  EXPECT_EQ(run.output, searching(list) + found(list + 8) +
                            "16 chunks found in AVI index\n"
                            "Found 11024 bytes of audio data (~1 seconds) and 15 video frames "
                            "(~1 seconds)\n" +
                            kGathered);
  EXPECT_EQ(run.movi_base, built.movi_fourcc);
}

TEST(IndexScan, WalksOverChunksBetweenTheHeaderListAndTheMovieList) {
  SourcePlan plan = standard_source(15);
  Bytes info = {'I', 'N', 'F', 'O', 'I', 'S', 'F', 'T', 3, 0, 0, 0, 'a', 'b', 'c'};  // odd: no pad
  plan.after_header_list = {{"LIST", info}, {"JUNK", Bytes(5)}};
  testing::BuiltSource built = testing::build_source(plan);
  ScanRun run = scan(built.bytes);
  ASSERT_TRUE(run.scanned);
  const std::uint32_t info_at = built.movi_fourcc - 8 - 13 - 23;
  EXPECT_EQ(run.output.substr(0, run.output.find('\n') + 1),
            searching(info_at) + searching(info_at + 23) + searching(info_at + 36) +
                found(built.movi_fourcc));
}

TEST(IndexScan, AnyChunkWhoseDataBeginsWithMoviEndsTheWalk) {
  SourcePlan plan = standard_source(15);
  plan.after_header_list = {{"JUNK", {'m', 'o', 'v', 'i', 0, 0}}};
  testing::BuiltSource built = testing::build_source(plan);
  ScanRun run = scan(built.bytes);
  const std::uint32_t junk = built.movi_fourcc - 8 - 14;
  EXPECT_FALSE(run.scanned);
  EXPECT_EQ(run.output, searching(junk) + found(junk + 8) + kNoIndex);
}

TEST(IndexScan, AWalkThatMeetsTheEndStopsWithAMessage) {
  struct Case {
    const char* name;
    std::uint32_t size;  // of a chunk behind the stream lists, cut off after its first 4 data bytes
    std::vector<std::uint32_t> steps;  // offsets of the search texts, from that chunk
  };
  const Case cases[] = {
      {"zero size", 0, {0}},                 // the next step would start 4 bytes before the end
      {"size that wraps 2^32", 0xFFFFFFF8, {0}},  // in 32 bits it would lead back to itself
      {"size beyond the end", 0x7FFFFFFF, {0}},
      {"size one", 1, {0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SourcePlan plan = standard_source(15);
    plan.after_header_list = {{"JUNK", {'a', 'b', 'c', 'd'}}};
    testing::BuiltSource built = testing::build_source(plan);
    const std::uint32_t junk = built.movi_fourcc - 8 - 12;
    Bytes bytes(built.bytes.begin(), built.bytes.begin() + junk + 12);
    store_u32(bytes.data() + junk + 4, c.size);
    ScanRun run = scan(bytes);
    EXPECT_FALSE(run.scanned);
    std::string expected;
    for (std::uint32_t step : c.steps) expected += searching(junk + step);
    EXPECT_EQ(run.output, expected + kNoMovie);
  }
}

// Zero-filled space, as a sparse, cut or damaged file holds, reads as chunks of identifier 0
// and size 0: the walk ends at the first, even when a movie list lies further on.
TEST(IndexScan, ZeroFilledSpaceEndsTheWalk) {
  SourcePlan plan = standard_source(15);
  plan.after_header_list = {{"JUNK", Bytes(4)}, {std::string(4, '\0'), {}}};
  testing::BuiltSource built = testing::build_source(plan);
  const std::uint32_t zeros = built.movi_fourcc - 8 - 8;
  ScanRun run = scan(built.bytes);
  EXPECT_FALSE(run.scanned);
  EXPECT_EQ(run.output, searching(zeros - 12) + searching(zeros) + kNoMovie);
}

// Every step prints its search text up to the thousandth; then only every 4096th step does.
TEST(IndexScan, ALongWalkPrintsEveryStepOnlyAtFirst) {
  SourcePlan plan = standard_source(15);
  plan.after_header_list.assign(9000, Chunk{"JUNK", {}});
  testing::BuiltSource built = testing::build_source(plan);
  const std::uint32_t first = built.movi_fourcc - 8 - 9000 * 8;
  ScanRun run = scan(built.bytes);
  ASSERT_TRUE(run.scanned);
  std::string expected;
  for (std::uint32_t step = 0; step < 1000; ++step) expected += searching(first + 8 * step);
  expected += searching(first + 8 * 4096) + searching(first + 8 * 8192) + found(built.movi_fourcc);
  EXPECT_EQ(run.output.substr(0, run.output.find('\n') + 1), expected);
}

TEST(IndexScan, AMissingIndexRefusesTheSource) {
  SourcePlan plan = standard_source(15);
  plan.with_index = false;
  testing::BuiltSource built = testing::build_source(plan);
  ScanRun run = scan(built.bytes);
  EXPECT_FALSE(run.scanned);
  EXPECT_EQ(run.output, searching(built.movi_fourcc - 8) + found(built.movi_fourcc) + kNoIndex);
}

TEST(IndexScan, CountsOnlyWholeEntriesTheFileHolds) {
  struct Case {
    const char* name;
    std::size_t movie_chunks;
    std::optional<std::uint32_t> declared;
    Bytes trailing;
    std::uint32_t count;
  };
  const Case cases[] = {
      {"size 0", 0, std::nullopt, {}, 0},
      {"size 40: the last 8 bytes are no entry", 2, 40, Bytes(8), 2},
      {"declared far beyond the file", 3, 0xFFFFFFF0, Bytes(5), 3},
      {"declared shorter than the entries", 3, 16, {}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SourcePlan plan = standard_source(0);
    for (std::size_t i = 0; i < c.movie_chunks; ++i) {
      plan.movie.push_back({"00dc", testing::jpeg_like_frame(20)});
    }
    plan.idx1_size = c.declared;
    plan.trailing = c.trailing;
    // Fewer than fifteen frames are refused right after the count is printed.
    ScanRun run = scan(testing::build_source(plan).bytes);
    EXPECT_FALSE(run.scanned);
    EXPECT_EQ(run.index_entry_count, c.count);
    EXPECT_LE(run.kept_entries, c.count);
    EXPECT_NE(run.output.find("\n" + std::to_string(c.count) + " chunks found in AVI index\n"),
              std::string::npos);
  }
}

// A movie of no whole second is one that players refuse to open: the source is refused right
// after the summary, before any audio is read.
TEST(IndexScan, FewerThanFifteenFramesAreRefusedAfterTheSummary) {
  struct Case {
    std::size_t frames;
    std::string tail;
  };
  const Case cases[] = {
      {0, "Found 11024 bytes of audio data (~1 seconds) and 0 video frames (~0 seconds)\n"
          "\nThe source holds 0 frames; at least 15 (one second) are needed.\n"},
      {14, "Found 11024 bytes of audio data (~1 seconds) and 14 video frames (~0 seconds)\n"
           "\nThe source holds 14 frames; at least 15 (one second) are needed.\n"},
      {15, "Found 11024 bytes of audio data (~1 seconds) and 15 video frames (~1 seconds)\n" +
               std::string(kGathered)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.frames);
    ScanRun run = scan(testing::build_source(standard_source(c.frames, 100, 11024)).bytes);
    EXPECT_EQ(run.scanned, c.frames >= 15);
    EXPECT_EQ(run.checked, c.frames >= 15);
    ASSERT_GE(run.output.size(), c.tail.size());
    EXPECT_EQ(run.output.substr(run.output.size() - c.tail.size()), c.tail);
  }
}

TEST(IndexScan, TheMovieTakesTheAudioInIndexOrder) {
  SourcePlan plan = standard_source(31, 100, 0);
  auto filled = [](std::size_t n, std::uint8_t value) { return Bytes(n, value); };
  plan.movie.push_back({"01wb", filled(10000, 0xA1)});  // chunk 31: first in the file
  plan.movie.push_back({"01wb", filled(10000, 0xB2)});  // 32
  plan.movie.push_back({"01wb", filled(5000, 0xC3)});   // 33
  std::vector<std::size_t> order = {32};                // listed before the earlier chunk 31
  for (std::size_t i = 0; i < 31; ++i) order.push_back(i);
  order.push_back(31);
  order.push_back(33);
  plan.index_order = order;
  plan.extra_index_entries = {{fourcc("02wb"), 0, 4, 7}, {fourcc("ix00"), 0, 4, 9}};
  const Bytes source = testing::build_source(plan).bytes;
  ScanRun run = scan(source);
  ASSERT_TRUE(run.checked);
  EXPECT_NE(run.output.find("36 chunks found in AVI index\n"
                            "Found 25000 bytes of audio data (~2 seconds) and 31 video frames "
                            "(~2 seconds)\n"),
            std::string::npos);
  // Two seconds use 22048 bytes: the second-listed chunk first, then the first, then the
  // beginning of the third.
  Bytes expected = filled(10000, 0xB2);
  Bytes second = filled(10000, 0xA1);
  expected.insert(expected.end(), second.begin(), second.end());
  expected.resize(22048, 0xC3);
  const Bytes dest = testing::convert_bytes(source).dest;
  Bytes audio = testing::chunk_payload(dest, 0);
  const Bytes audio_2 = testing::chunk_payload(dest, 16);
  audio.insert(audio.end(), audio_2.begin(), audio_2.end());
  EXPECT_EQ(audio, expected);
}

TEST(IndexScan, AudioListedBeyond2GiBIsReportedAsItsTrueTotal) {
  SourcePlan plan = standard_source(15);
  plan.extra_index_entries = {{fourcc("01wb"), 0, 4, 0x80000000}, {fourcc("01wb"), 0, 4, 0x80000000}};
  const Bytes source = testing::build_source(plan).bytes;
  ScanRun run = scan(source);
  ASSERT_TRUE(run.checked);  // the movie's one second comes from the real chunk
  EXPECT_EQ(run.audio_bytes, 11024 + 0x100000000ull);
  EXPECT_NE(run.output.find("Found 4294978320 bytes of audio data (~389602 seconds) and 15 video "
                            "frames (~1 seconds)\n"),
            std::string::npos);
  Bytes audio(11024);
  for (std::size_t i = 0; i < audio.size(); ++i) audio[i] = testing::audio_sample(i);
  EXPECT_EQ(testing::chunk_payload(testing::convert_bytes(source).dest, 0), audio);
}

TEST(IndexScan, AudioBeyondTheEndOfTheSourceRefusesIt) {
  SourcePlan plan = standard_source(15, 100, 0);
  plan.extra_index_entries = {{fourcc("01wb"), 0, 0x00100000, 11024}};
  ScanRun run = scan(testing::build_source(plan).bytes);
  ASSERT_TRUE(run.scanned);
  EXPECT_FALSE(run.checked);
  EXPECT_NE(run.output.find("index entry 15 "), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("'" + run.source_name + "' is damaged.\n"), std::string::npos);
}

}  // namespace
}  // namespace reelfix
