// The catalogue of damaged sources: cut short anywhere, every size field and index value set to
// the numbers that break naive arithmetic, chunks that point behind the end. Whatever the
// damage, the program ends by itself with status 0 or 3, says why when it refuses, touches no
// existing destination, leaves no temporary file, and stays within 1 GiB of address space.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
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

TEST(DamagedSource, EveryDamageEndsCleanlyWithStatus0Or3) {
  testing::TempDir dir;
  const std::string source = dir.path("in.avi");
  const std::string dest = dir.path("out.avi");
  const Bytes old_dest = text_bytes("an older movie");
  testing::ChildOptions options;
  options.timeout_seconds = 20;
  if (!testing::kAddressSanitizerBuild) options.address_space_limit = kAddressSpace;

  for (const Damage& damage : catalogue()) {
    SCOPED_TRACE(damage.name);
    testing::write_file(source, damage.source);
    testing::write_file(dest, old_dest);
    testing::ChildEnd end = testing::run_reelfix_in_child({source, dest}, options);

    ASSERT_TRUE(end.exited) << "ended by signal " << end.signal << "\n" << end.output;
    ASSERT_TRUE(end.status == 0 || end.status == 3) << end.status << "\n" << end.output << end.error;
    EXPECT_EQ(end.error, "");
    if (end.status == 3) {
      // The refusal is the last thing said: not a header value or a warning that came before.
      const std::string message = last_line(end.output);
      EXPECT_TRUE(!message.empty() && end.output.back() == '\n') << "no message";
      EXPECT_EQ(message.find("= "), std::string::npos) << "no message after the values";
      EXPECT_NE(message.rfind("Warning", 0), 0u) << "no message after the warnings";
      EXPECT_EQ(testing::read_file(dest), old_dest);
    } else {
      EXPECT_EQ(testing::check_camera_file(testing::read_file(dest)), "");
    }
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"in.avi", "out.avi"}));
  }
}

}  // namespace
}  // namespace reelfix
