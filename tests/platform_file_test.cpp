// The file layer as the conversion sees it, on every platform: names in any script, through
// this process and through the reelfix program; an existing destination replaced whole; the
// identity of two names; a source that another program is writing.
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
  ASSERT_TRUE(platform::create_temporary_beside(dir.path(kGermanName), file, temp_path));
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
  ASSERT_TRUE(platform::create_temporary_beside(dir.path(kGermanName), file, temp_path));
  platform::close_file(file);
  platform::remove_temporary(temp_path);
  EXPECT_EQ(dir.names(), (std::vector<std::string>{kGermanName}));
}

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
  ASSERT_TRUE(open_source(source, dir.path(kGermanName)));
  std::uint8_t bytes[8] = {};
  EXPECT_EQ(get_bytes(source, bytes, sizeof bytes), 4u);
  EXPECT_EQ(Bytes(bytes, bytes + 4), (Bytes{'R', 'I', 'F', 'F'}));
  close(source);
}

}  // namespace
}  // namespace reelfix
