// The catalogue of damaged sources: cut short anywhere, every size field and index value set to
// the numbers that break naive arithmetic, chunks that point behind the end. Whatever the
// damage, the program ends by itself with status 0 or 3, says why when it refuses, touches no
// existing destination, leaves no temporary file, and stays within 1 GiB of address space.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "tests/avi_builder.h"
#include "tests/camera_file_check.h"
#include "tests/child_process.h"
#include "tests/test_support.h"

namespace reelfix {
namespace {

using testing::Bytes;
using testing::BuiltSource;
using testing::Chunk;
using testing::SourcePlan;

constexpr std::uint64_t kAddressSpace = std::uint64_t{1} << 30;
constexpr std::uint32_t kHostileValues[] = {0, 1, 0x7FFFFFFF, 0x80000000, 0xFFFFFFF0, 0xFFFFFFFF};

std::string hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

Bytes text_bytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

// Two seconds of small frames, a full and a short audio chunk, and an INFO list and a JUNK
// chunk on the walk from the header list to the movie list.
SourcePlan small_source() {
  SourcePlan plan = testing::standard_source(30, 64, AUDIO_RATE + 100);
  Bytes info = text_bytes("INFOISFT");
  info.insert(info.end(), {8, 0, 0, 0, 'L', 'a', 'v', 'f', '5', '9', 0, 0});
  plan.after_header_list = {{"LIST", info}, {"JUNK", Bytes(20, 0)}};
  return plan;
}

// The last line of the text, without its line end. Progress texts end in a carriage return
// rather than a line feed, so either starts the line.
std::string last_line(std::string text) {
  if (!text.empty() && text.back() == '\n') text.pop_back();
  const std::size_t start = text.find_last_of("\n\r");
  return start == std::string::npos ? text : text.substr(start + 1);
}

struct Damage {
  std::string name;
  Bytes source;
};

std::vector<Damage> catalogue() {
  const SourcePlan plan = small_source();
  const BuiltSource base = testing::build_source(plan);
  const Bytes& b = base.bytes;
  const std::uint32_t info = base.size_fields.at("hdrl") + 4 + load_u32(b.data() + 16);
  const std::uint32_t junk = info + 8 + load_u32(b.data() + info + 4);
  auto entry = [&](std::size_t i) -> std::uint32_t {  // offset of index entry i
    return base.idx1 + 8 + static_cast<std::uint32_t>(i * IndexEntry::kSize);
  };
  const std::size_t entries = plan.movie.size();
  auto cut = [&](std::size_t n) { return Bytes(b.begin(), b.begin() + static_cast<long>(n)); };
  auto set = [&](std::vector<std::pair<std::uint32_t, std::uint32_t>> fields) {
    Bytes damaged = b;
    for (auto [at, value] : fields) store_u32(damaged.data() + at, value);
    return damaged;
  };
  auto built = [](SourcePlan s) { return testing::build_source(s).bytes; };
  // Moves a chunk so its payload ends one byte behind the end of the file.
  auto past_end = [&](std::size_t i) {
    const std::uint32_t length = load_u32(b.data() + entry(i) + 12);
    return set({{entry(i) + 8,
                 static_cast<std::uint32_t>(b.size() + 1 - length - 8 - base.movi_fourcc)}});
  };

  std::vector<Damage> table;
  auto add = [&](std::string name, Bytes source) { table.push_back({name, std::move(source)}); };
  // clang-format off
  for (std::size_t n = 0; n <= 350; ++n) add("cut at " + std::to_string(n), cut(n));
  for (std::size_t n = 351; n < b.size(); n += 97) add("cut at " + std::to_string(n), cut(n));
  add("cut inside the last index entry", cut(b.size() - 5));
  for (const auto& [name, at] : base.size_fields)
    for (std::uint32_t v : kHostileValues) add(name + " size " + hex(v), set({{at, v}}));
  for (std::uint32_t v : kHostileValues) add("INFO list size " + hex(v), set({{info + 4, v}}));
  for (std::uint32_t v : kHostileValues) add("JUNK size " + hex(v), set({{junk + 4, v}}));
  for (std::size_t i : {std::size_t{0}, std::size_t{1}, entries - 1})
    for (std::uint32_t v : kHostileValues) {
      add("index entry " + std::to_string(i) + " offset " + hex(v), set({{entry(i) + 8, v}}));
      add("index entry " + std::to_string(i) + " length " + hex(v), set({{entry(i) + 12, v}}));
    }
  add("a zero-size chunk on the walk", [&] { SourcePlan s = plan; s.after_header_list.insert(s.after_header_list.begin(), Chunk{"JUNK", {}}); return built(s); }());
  add("zero-filled space on the walk", [&] { SourcePlan s = plan; s.after_header_list.push_back(Chunk{std::string(4, '\0'), {}}); return built(s); }());
  add("JUNK size 2^32 - 8: a 32-bit walk comes back to it", set({{junk + 4, 0xFFFFFFF8}}));
  add("audio strl size 2^32 - 4: a 32-bit sum points at its own size", set({{base.size_fields.at("audio_strl"), 0xFFFFFFFC}}));
  add("frame length 2^32 - 8: a 32-bit end wraps to its start", set({{entry(1) + 12, 0xFFFFFFF8}}));
  add("audio entries claim 3 GB", set({{entry(0) + 12, 0x60000000}, {entry(16) + 12, 0x60000000}}));
  add("audio entries beyond the first claim 3 GB", set({{entry(16) + 12, 0xC0000000}}));
  add("a frame ends one byte behind the end of the file", past_end(1));
  add("the last frame ends one byte behind the end of the file", past_end(entries - 1));
  add("audio ends one byte behind the end of the file", past_end(0));
  add("an index of other stream ids only", [&] { Bytes d = b; for (std::size_t i = 0; i < entries; ++i) std::copy_n("02wb", 4, d.begin() + entry(i)); return d; }());
  add("idx1 size not a multiple of 16", set({{base.size_fields.at("idx1"), 17}}));
  add("no idx1 behind the movie list", [&] { SourcePlan s = plan; s.with_index = false; return built(s); }());
  add("a movie list without the movi type", [&] { Bytes d = b; std::copy_n("mova", 4, d.begin() + base.movi_fourcc); return d; }());
  add("three seconds of frames, one of them listed 45 times", [&] { SourcePlan s = plan; s.index_order = std::vector<std::size_t>(45, 1); return built(s); }());
  // clang-format on
  return table;
}

const Bytes kOldDest = text_bytes("an older movie");

// The limits every damaged source is converted under: a hang or a runaway allocation ends the
// run instead of the machine.
testing::ChildOptions limited() {
  testing::ChildOptions options;
  options.timeout_seconds = 20;
  if (!testing::kAddressSanitizerBuild) options.address_space_limit = kAddressSpace;
  return options;
}

// Converts dir's in.avi to out.avi, which holds kOldDest before, and checks that the run ended
// cleanly: by itself, with status 0 or 3, a message as the last thing said when it refused
// and the old destination kept, a valid movie when it completed, and no file left behind.
testing::ChildEnd convert_and_check(const testing::TempDir& dir,
                                    const testing::ChildOptions& options = limited()) {
  const std::string dest = dir.path("out.avi");
  testing::write_file(dest, kOldDest);
  testing::ChildEnd end = testing::run_reelfix_in_child({dir.path("in.avi"), dest}, options);

  EXPECT_TRUE(end.exited) << "ended by signal " << end.signal << "\n" << end.output;
  EXPECT_TRUE(end.status == 0 || end.status == 3) << end.status << "\n" << end.output << end.error;
  EXPECT_EQ(end.error, "");
  if (end.status == 3) {
    // The refusal is the last thing said: not a header value or a warning that came before.
    const std::string message = last_line(end.output);
    EXPECT_TRUE(!message.empty() && end.output.back() == '\n') << "no message";
    EXPECT_EQ(message.find("= "), std::string::npos) << "no message after the values";
    EXPECT_NE(message.rfind("Warning", 0), 0u) << "no message after the warnings";
    EXPECT_EQ(testing::read_file(dest), kOldDest);
  } else if (end.status == 0) {
    EXPECT_EQ(testing::check_camera_file(testing::read_file(dest)), "");
  }
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"in.avi", "out.avi"}));
  return end;
}

TEST(DamagedSource, EveryDamageEndsCleanlyWithStatus0Or3) {
  testing::TempDir dir;
  for (const Damage& damage : catalogue()) {
    SCOPED_TRACE(damage.name);
    testing::write_file(dir.path("in.avi"), damage.source);
    testing::ChildEnd end = convert_and_check(dir);
    if (::testing::Test::HasFatalFailure() || !end.exited) return;
  }
}

// Sources of gigabytes that take almost no disk: the bytes that matter are written, the rest is
// a hole in the file, which reads as zeros. Too large for the catalogue above, which keeps its
// sources in memory, and for the fuzzer.

// Writes each run of bytes at its offset into a new file of `length` bytes.
void write_sparse(const std::string& path, std::uint64_t length,
                  const std::vector<std::pair<std::uint64_t, Bytes>>& runs) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) throw std::runtime_error("cannot create " + path);
  bool written = ftruncate(fd, static_cast<off_t>(length)) == 0;
  for (const auto& [offset, bytes] : runs) {
    written = written && pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)) ==
                             static_cast<ssize_t>(bytes.size());
  }
  ::close(fd);
  if (!written) throw std::runtime_error("cannot write " + path);
}

// A source's bytes up to its movie list (the header area and the chunks behind it), with the
// movie list's offset.
struct Front {
  Bytes bytes;
  BuiltSource whole;
};
Front front_of(const SourcePlan& plan) {
  Front front{{}, testing::build_source(plan)};
  const std::uint32_t movie_list = front.whole.movi_fourcc - 8;
  front.bytes.assign(front.whole.bytes.begin(), front.whole.bytes.begin() + movie_list);
  return front;
}

// A walk to the movie list over gigabytes of zeros or millions of empty chunks ends quickly,
// and prints a bounded amount of search text.
TEST(DamagedSource, LongWalksEndQuicklyAndQuietly) {
  testing::TempDir dir;
  {
    SCOPED_TRACE("5 GB of zeros where the movie list should be");
    const Front front = front_of(testing::standard_source(15));
    write_sparse(dir.path("in.avi"), std::uint64_t{5} << 30, {{0, front.bytes}});
    testing::ChildEnd end = convert_and_check(dir);
    EXPECT_EQ(end.status, 3);
    EXPECT_LT(end.output_bytes, 4096u);
  }
  {
    SCOPED_TRACE("256 MiB of empty JUNK chunks before the movie list");
    const Front front = front_of(testing::standard_source(15));
    constexpr std::uint64_t kRun = 256 << 20;
    Bytes block;
    for (int i = 0; i < (1 << 20) / 8; ++i) block.insert(block.end(), {'J', 'U', 'N', 'K', 0, 0, 0, 0});
    std::vector<std::pair<std::uint64_t, Bytes>> runs = {{0, front.bytes}};
    for (std::uint64_t at = 0; at < kRun; at += block.size()) {
      runs.emplace_back(front.bytes.size() + at, block);
    }
    const Bytes& whole = front.whole.bytes;
    runs.emplace_back(front.bytes.size() + kRun, Bytes(whole.begin() + front.bytes.size(), whole.end()));
    write_sparse(dir.path("in.avi"), whole.size() + kRun, runs);
    testing::ChildEnd end = convert_and_check(dir);
    EXPECT_EQ(end.status, 0);
    // 33.5 million steps: the first 1000 print, then one in 4096; 37 bytes each.
    EXPECT_LT(end.output_bytes, 1u << 20);
  }
}

// The limits, and at most 8 MiB of heap and other private data. AddressSanitizer's shadow
// memory counts there too, so its builds leave that limit out.
testing::ChildOptions within_8_mib() {
  testing::ChildOptions options = limited();
  if (!testing::kAddressSanitizerBuild) options.data_limit = 8 << 20;
  return options;
}

// However long the index, the program keeps only what the movie uses: memory stays small.
TEST(DamagedSource, AHugeIndexTakesLittleMemory) {
  testing::TempDir dir;
  {
    SCOPED_TRACE("16.7 million zero entries (neither 00dc nor 01wb) behind one second");
    BuiltSource built = testing::build_source(testing::standard_source(15));
    constexpr std::uint64_t kExtra = 1 << 24;
    const std::uint64_t entries = 16 + kExtra;
    store_u32(built.bytes.data() + built.size_fields.at("idx1"),
              static_cast<std::uint32_t>(entries * IndexEntry::kSize));
    write_sparse(dir.path("in.avi"), built.bytes.size() + kExtra * IndexEntry::kSize,
                 {{0, built.bytes}});
    testing::ChildEnd end = convert_and_check(dir, within_8_mib());
    EXPECT_EQ(end.status, 0);
    EXPECT_NE(end.output.find("\n" + std::to_string(entries) + " chunks found in AVI index\n"),
              std::string::npos);
  }
  {
    SCOPED_TRACE("180 seconds of audio in 1,984,320 chunks of one byte");
    SourcePlan plan = testing::standard_source(2700, 16, 0);
    plan.movie.push_back({"01wb", Bytes{0x42}});
    std::vector<std::size_t> order(plan.movie.size() - 1);
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    order.insert(order.end(), std::size_t{MAX_SECONDS} * AUDIO_RATE, plan.movie.size() - 1);
    plan.index_order = order;
    testing::write_file(dir.path("in.avi"), testing::build_source(plan).bytes);
    testing::ChildEnd end = convert_and_check(dir, within_8_mib());
    EXPECT_EQ(end.status, 0);
  }
}

// A frame larger than the whole memory allowance passes through the writer's window in
// pieces: the memory is the window's, whatever the frames' sizes.
TEST(DamagedSource, AFrameLargerThanTheMemoryLimitIsConvertedInPieces) {
  testing::TempDir dir;
  SourcePlan plan = testing::standard_source(15, 500);
  plan.movie[4].payload = testing::jpeg_like_frame(12 << 20, 9 << 20);
  testing::write_file(dir.path("in.avi"), testing::build_source(plan).bytes);
  testing::ChildEnd end = convert_and_check(dir, within_8_mib());
  EXPECT_EQ(end.status, 0) << end.output;
  EXPECT_EQ(end.output.find("Warning"), std::string::npos) << end.output;
}

// A movie that cannot fit a RIFF file is refused from the index alone: no buffer for its
// frames, no byte of it written.
TEST(DamagedSource, AMovieOver4GBIsRefusedBeforeItIsWritten) {
  testing::TempDir dir;
  const Front front = front_of(testing::standard_source(0));
  constexpr std::uint32_t kFrame = 0x80000000;  // 2 GiB
  Bytes movie_head;
  auto u32 = [](Bytes& b, std::uint32_t v) {
    b.resize(b.size() + 4);
    store_u32(b.data() + b.size() - 4, v);
  };
  auto id = [](Bytes& b, const char* text) { b.insert(b.end(), text, text + 4); };
  id(movie_head, "LIST");
  u32(movie_head, 4 + 8 + kFrame);
  id(movie_head, "movi");
  id(movie_head, "00dc");
  u32(movie_head, kFrame);
  Bytes index;
  id(index, "idx1");
  u32(index, 15 * IndexEntry::kSize);
  for (int i = 0; i < 15; ++i) {  // one second of frames, each of them the one 2 GiB chunk
    id(index, "00dc");
    u32(index, AVIIF_KEYFRAME);
    u32(index, 4);
    u32(index, kFrame);
  }
  const std::uint64_t index_at = front.bytes.size() + movie_head.size() + kFrame;
  const Bytes picture_start = {0xFF, 0xD8};  // what a frame must begin with
  write_sparse(dir.path("in.avi"), index_at + index.size(),
               {{0, front.bytes},
                {front.bytes.size(), movie_head},
                {front.bytes.size() + movie_head.size(), picture_start},
                {index_at, index}});
  testing::ChildEnd end = convert_and_check(dir, within_8_mib());
  EXPECT_EQ(end.status, 3);
  EXPECT_NE(last_line(end.output).find("(4 GB)"), std::string::npos) << end.output;
}

}  // namespace
}  // namespace reelfix
