// The file layer as the conversion sees it, on every platform: names in any script, through
// this process and through the reelfix program; an existing destination replaced whole; the
// identity of two names; a source that another program is writing.
#ifdef __linux__
#include <sys/stat.h>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "platform/file.h"
#include "tests/test_support.h"

namespace fs = std::filesystem;

namespace reelfix {
namespace {

using testing::Bytes;
using testing::CapturedConsole;
using testing::file_path;
using testing::read_file;
using testing::TempDir;
using testing::write_file;

// Latin with an umlaut, Cyrillic, and a character outside the Basic Multilingual Plane (a
// surrogate pair in UTF-16).
const std::string kGermanName = "Ferien-Übersicht.avi";
const std::string kRussianName = "Отпуск.avi";
const std::string kClapperName = "Take 🎬.avi";  // U+1F3AC

// The names as TempDir::names() lists them: sorted.
std::vector<std::string> listing(std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  return names;
}

Bytes small_source() { return testing::build_source(testing::standard_source(15)).bytes; }

// What the destination of small_source() holds, from a run with ASCII names.
const Bytes& converted_small_source() {
  static const Bytes converted = testing::convert_bytes(small_source()).dest;
  return converted;
}

TEST(PlatformFile, NamesInAnyScriptConvertInThisProcess) {
  ASSERT_FALSE(converted_small_source().empty());
  struct Case {
    std::string source, dest;
  };
  const Case cases[] = {
      {kGermanName, kRussianName},
      {kRussianName, kClapperName},
  };
  for (const Case& c : cases) {
    TempDir dir;
    write_file(dir.path(c.source), small_source());
    CapturedConsole captured;
    EXPECT_EQ(run_front_end({"reelfix", dir.path(c.source), dir.path(c.dest)}, captured.console,
                            testing::pinned_time),
              ExitStatus::kCompleted)
        << c.dest;
    flush(captured.console);
    EXPECT_EQ(read_file(dir.path(c.dest)), converted_small_source()) << c.dest;
    EXPECT_EQ(dir.names(), listing({c.source, c.dest}));
  }
}

TEST(PlatformFile, TheProgramTakesNamesInAnyScriptAndPrintsThemAsGiven) {
  TempDir dir;
  write_file(dir.path(kGermanName), small_source());
  // Relative names, as typed in a shell whose current directory holds the files.
  testing::ProgramRun run = testing::run_reelfix({kGermanName, kRussianName}, dir.root());
  EXPECT_EQ(run.status, 0) << run.output << run.error;
  EXPECT_EQ(run.error, "");
  EXPECT_EQ(testing::without_date(read_file(dir.path(kRussianName))),
            testing::without_date(converted_small_source()));
  EXPECT_EQ(dir.names(), listing({kGermanName, kRussianName}));

  // A message names the file in UTF-8, exactly as it was given.
  run = testing::run_reelfix({kClapperName, kGermanName}, dir.root());
  EXPECT_EQ(run.status, 3);
  EXPECT_EQ(run.output, "Error opening the file " + kClapperName + "\n");
}

TEST(PlatformFile, AnExistingDestinationIsReplacedWhole) {
  TempDir dir;
  write_file(dir.path("in.avi"), small_source());
  // Longer than the converted movie, so that a destination written in place would keep a tail.
  write_file(dir.path(kRussianName), Bytes(converted_small_source().size() + 4096, 0x5A));
  CapturedConsole captured;
  EXPECT_EQ(run_front_end({"reelfix", dir.path("in.avi"), dir.path(kRussianName)}, captured.console,
                          testing::pinned_time),
            ExitStatus::kCompleted);
  EXPECT_EQ(read_file(dir.path(kRussianName)), converted_small_source());
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"in.avi", kRussianName}));
}

TEST(PlatformFile, TemporaryFileLiesBesideTheDestinationUntilItIsPutInPlace) {
  TempDir dir;
  write_file(dir.path(kGermanName), Bytes{'o', 'l', 'd'});
  platform::FileHandle file;
  std::string temp_path;
  ASSERT_TRUE(platform::create_temporary_beside(dir.path(kGermanName), file, temp_path,
                                                testing::ignored_reason()));
  EXPECT_EQ(file.name, dir.path(kGermanName));  // messages name the destination
  const std::string prefix = dir.path(kGermanName) + ".reelfix-";
  ASSERT_EQ(temp_path.size(), prefix.size() + 8 + 4);
  EXPECT_EQ(temp_path.substr(0, prefix.size()), prefix);
  EXPECT_EQ(temp_path.substr(temp_path.size() - 4), ".tmp");
  // The destination is untouched until the replacement.
  EXPECT_EQ(read_file(dir.path(kGermanName)), (Bytes{'o', 'l', 'd'}));

  const Bytes content = {'n', 'e', 'w'};
  platform::write_at(file, 0, content.data(), content.size());
  platform::close_file(file);
  platform::replace_with_temporary(temp_path, dir.path(kGermanName));
  EXPECT_EQ(read_file(dir.path(kGermanName)), content);
  EXPECT_EQ(dir.names(), (std::vector<std::string>{kGermanName}));

  // Removal leaves nothing either.
  ASSERT_TRUE(platform::create_temporary_beside(dir.path(kGermanName), file, temp_path,
                                                testing::ignored_reason()));
  platform::close_file(file);
  platform::remove_temporary(temp_path);
  EXPECT_EQ(dir.names(), (std::vector<std::string>{kGermanName}));
}

// The temporary name fits the system's limits whenever the destination's name does: the part
// taken from the destination's name is cut short, whole characters at a time, and the random
// part and the ending stay.
TEST(PlatformFile, TemporaryNameFitsTheLimitsOfNamesAndPaths) {
  const std::string dir = "/some/dir/";
  struct Case {
    const char* name;
    std::string dest;
  };
  std::string umlauts;
  for (int i = 0; i < 127; ++i) umlauts += "\xC3\x9C";  // Ü: 254 bytes
  const Case cases[] = {
      {"short", dir + "movie.avi"},
      {"name of 234 bytes: fits as it is", dir + std::string(230, 'a') + ".avi"},
      {"name of 235 bytes", dir + std::string(231, 'a') + ".avi"},
      {"name of 255 bytes", dir + std::string(251, 'a') + ".avi"},
      {"name of two-byte characters", dir + umlauts},
      {"path at the limit", std::string(platform::kMaxPathBytes - 40, 'd') + "/" +
                                std::string(39, 'n')},
      {"no directory", std::string(255, 'n')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string temp = platform::temporary_name_beside(c.dest);
    const std::size_t base = c.dest.find_last_of('/') + 1;  // npos + 1 == 0
    const std::string name = temp.substr(base);
    EXPECT_LE(name.size(), platform::kMaxNameBytes);
    EXPECT_LE(temp.size(), platform::kMaxPathBytes);
    ASSERT_GE(name.size(), 21u);
    const std::string kept = name.substr(0, name.size() - 21);
    EXPECT_EQ(temp.substr(0, base), c.dest.substr(0, base));
    EXPECT_EQ(c.dest.substr(base, kept.size()), kept) << "a beginning of the destination's name";
    EXPECT_EQ(name.substr(kept.size(), 9), ".reelfix-");
    EXPECT_EQ(name.substr(name.size() - 4), ".tmp");
    // As long as it can be: whole characters (2 bytes here) up to the limits.
    EXPECT_GE(kept.size() + 1, std::min(c.dest.size() - base,
                                        std::min(platform::kMaxNameBytes - 21,
                                                 platform::kMaxPathBytes - 21 - base)));
    if (c.dest.size() - base + 21 <= platform::kMaxNameBytes &&
        c.dest.size() + 21 <= platform::kMaxPathBytes) {
      EXPECT_EQ(kept, c.dest.substr(base)) << "cut although it fits";
    }
  }
  // Two-byte characters: cut at an even number of bytes, the most that fits (234 bytes leave
  // room for the ending in a name; Windows's shorter paths may leave less).
  const std::size_t room = std::min(platform::kMaxNameBytes, platform::kMaxPathBytes - dir.size()) - 21;
  const std::size_t whole = room / 2 * 2;
  EXPECT_EQ(platform::temporary_name_beside(dir + umlauts).substr(dir.size(), whole + 9),
            umlauts.substr(0, whole) + ".reelfix-");
}

#ifndef _WIN32
// Whole conversions to a destination whose name or path is as long as the system allows.
TEST(PlatformFile, ConvertsToNamesAndPathsAsLongAsTheSystemTakes) {
  TempDir dir;
  write_file(dir.path("in.avi"), small_source());
  std::string deep = dir.root();
  while (deep.size() + 1 + 200 + 1 + 60 < platform::kMaxPathBytes) {
    deep += "/" + std::string(200, 'd');
    fs::create_directory(file_path(deep));
  }
  const std::string long_path = deep + "/" +
                                std::string(platform::kMaxPathBytes - deep.size() - 1 - 4, 'n') +
                                ".avi";
  ASSERT_EQ(long_path.size(), platform::kMaxPathBytes);
  ASSERT_LE(long_path.size() - deep.size() - 1, platform::kMaxNameBytes);
  for (const std::string& dest : {dir.path(std::string(251, 'n') + ".avi"),
                                  dir.path(std::string(231, 'n') + ".avi"), long_path}) {
    SCOPED_TRACE(dest.size());
    CapturedConsole captured;
    EXPECT_EQ(run_front_end({"reelfix", dir.path("in.avi"), dest}, captured.console,
                            testing::pinned_time),
              ExitStatus::kCompleted);
    flush(captured.console);
    EXPECT_EQ(read_file(dest), converted_small_source());
  }
  std::size_t files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(file_path(dir.root()))) {
    files += entry.is_regular_file();
  }
  EXPECT_EQ(files, 4u) << "the source and three movies, no temporary file";
}
#endif

// A gather writes every range, the empty ones too, in order and from its offset, also when
// there are more ranges than the system takes in one call.
TEST(PlatformFile, AGatherWritesEveryRangeInOrder) {
  TempDir dir;
  platform::FileHandle file;
  std::string temp_path;
  ASSERT_TRUE(platform::create_temporary_beside(dir.path("out.avi"), file, temp_path,
                                                testing::ignored_reason()));
  Bytes store(3000 * 7);
  for (std::size_t i = 0; i < store.size(); ++i) store[i] = static_cast<std::uint8_t>(i * 13 + 5);
  std::vector<platform::ByteRange> ranges;
  Bytes expected(10, 0);  // the gather starts at offset 10: zeros before it
  for (std::size_t i = 0; i < 3000; ++i) {
    const std::size_t size = i % 8 == 7 ? 0 : i % 8;  // every eighth range empty
    ranges.push_back({store.data() + i * 7, size});
    expected.insert(expected.end(), store.begin() + static_cast<long>(i * 7),
                    store.begin() + static_cast<long>(i * 7 + size));
  }
  platform::write_gather_at(file, 10, ranges.data(), ranges.size());
  platform::close_file(file);
  EXPECT_TRUE(read_file(temp_path) == expected);
  platform::remove_temporary(temp_path);
}

#ifdef __linux__
std::uint64_t allocated_bytes(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? static_cast<std::uint64_t>(info.st_blocks) * 512 : 0;
}

// Room set aside for a destination leaves its length alone, and setting the length at the end
// gives back what the movie did not use: no blocks stay allocated behind the end.
TEST(PlatformFile, RoomSetAsideIsGivenBackBehindTheEnd) {
  TempDir dir;
  platform::FileHandle file;
  std::string temp_path;
  ASSERT_TRUE(platform::create_temporary_beside(dir.path("out.avi"), file, temp_path,
                                                testing::ignored_reason()));
  if (!platform::preallocate(file, 1 << 20)) {
    platform::close_file(file);
    platform::remove_temporary(temp_path);
    GTEST_SKIP() << "the file system of " << dir.root() << " sets no room aside";
  }
  EXPECT_EQ(platform::file_length(file), 0u);
  EXPECT_GE(allocated_bytes(temp_path), 1u << 20);
  const Bytes content(10000, 0x5A);
  platform::write_at(file, 0, content.data(), content.size());
  platform::set_length(file, content.size());
  platform::close_file(file);
  EXPECT_LE(allocated_bytes(temp_path), 16384u);
  EXPECT_EQ(read_file(temp_path), content);
  platform::remove_temporary(temp_path);

  // A whole conversion whose frames lack FF DA: the room for their segments, set aside from
  // the index, is not needed and goes back.
  testing::SourcePlan plan = testing::standard_source(450, 2000);
  for (auto& chunk : plan.movie) {
    if (chunk.id == "00dc") chunk.payload = testing::jpeg_like_frame(2000, static_cast<std::size_t>(-1));
  }
  write_file(dir.path("in.avi"), testing::build_source(plan).bytes);
  CapturedConsole captured;
  ASSERT_EQ(run_front_end({"reelfix", dir.path("in.avi"), dir.path("out.avi")}, captured.console,
                          testing::pinned_time),
            ExitStatus::kCompleted);
  const std::uint64_t length = fs::file_size(file_path(dir.path("out.avi")));
  EXPECT_LE(allocated_bytes(dir.path("out.avi")), (length + 4095) / 4096 * 4096 + 4096)
      << "450 frames x 423 bytes of room stayed behind the end";
}
#endif

TEST(PlatformFile, SameExistingFileComparesWhatTheNamesLeadTo) {
  TempDir dir;
  write_file(dir.path(kRussianName), Bytes{1});
  write_file(dir.path("other.avi"), Bytes{1});
  fs::create_directory(file_path(dir.path("sub")));
  struct Case {
    std::string a, b;
    bool same;
  };
  const Case cases[] = {
      {dir.path(kRussianName), dir.path("sub/../" + kRussianName), true},
      {dir.path(kRussianName), dir.path("other.avi"), false},  // equal content, two files
      {dir.path("sub"), dir.path("sub/."), true},              // directories have an identity
      {dir.path("sub"), dir.root(), false},
      {dir.path("missing.avi"), dir.path("missing.avi"), false},  // only existing files
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::same_existing_file(c.a, c.b), c.same) << c.a << " / " << c.b;
  }
}

TEST(PlatformFile, ASourceOpensWhileAnotherProgramWritesIt) {
  TempDir dir;
  std::ofstream writer(file_path(dir.path(kGermanName)), std::ios::binary);
  writer << "RIFF";
  writer.flush();
  SourceFile source;
  ASSERT_TRUE(open_source(source, dir.path(kGermanName), testing::ignored_reason()));
  std::uint8_t bytes[8] = {};
  EXPECT_EQ(get_bytes(source, bytes, sizeof bytes), 4u);
  EXPECT_EQ(Bytes(bytes, bytes + 4), (Bytes{'R', 'I', 'F', 'F'}));
  close(source);
}

}  // namespace
}  // namespace reelfix
