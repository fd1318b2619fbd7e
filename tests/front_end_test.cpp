#include "cli/front_end.h"

#include <gtest/gtest.h>

#include <filesystem>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

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

constexpr char kUsage[] =
    "reelfix.exe <source.avi> <destination.avi>\n"
    "\n"
    "source.avi must be in the following format:\n"
    "Video track: MJPG codec, max 250KBytes/sec\n"
    "Audio track: PCM 8 bit, mono, 11024 Hz (make sure it's not 11025!)\n";

constexpr char kSameFile[] = "Error: source and destination files are the same. Check parameters\n";

ExitStatus run(const std::vector<std::string>& arguments, CapturedConsole& captured) {
  ExitStatus status = run_front_end(arguments, captured.console, testing::pinned_time);
  flush(captured.console);
  return status;
}

TEST(FrontEnd, FewerThanTwoNamesPrintUsageAndTouchNothing) {
  for (std::size_t count : {0u, 1u}) {
    TempDir dir;
    std::vector<std::string> arguments = {"reelfix"};
    if (count == 1) arguments.push_back(dir.path("in.avi"));
    CapturedConsole captured;
    EXPECT_EQ(run(arguments, captured), ExitStatus::kUsage);
    EXPECT_EQ(captured.output, kUsage);
    EXPECT_EQ(captured.handed, 1);  // written without a flush of its own
    EXPECT_TRUE(dir.names().empty());
  }
}

TEST(FrontEnd, TheProgramPrintsUsageWithStatus1) {
  testing::ProgramRun run = testing::run_reelfix({"only-one.avi"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, kUsage);
  EXPECT_EQ(run.error, "");
}

TEST(FrontEnd, OneFileUnderTwoNamesIsRefusedBeforeAnythingIsOpened) {
  TempDir dir;
  const Bytes content = {'n', 'o', 't', ' ', 'a', 'v', 'i'};
  write_file(dir.path("Movie.AVI"), content);
  fs::create_hard_link(file_path(dir.path("Movie.AVI")), file_path(dir.path("hard.avi")));
  // A relative name cannot lead to another drive (Windows): from a current directory on
  // another drive than the scratch directory, go to that drive for this test.
  struct RestoreCurrentDirectory {
    fs::path saved = fs::current_path();
    ~RestoreCurrentDirectory() { fs::current_path(saved); }
  } restore;
  if (restore.saved.root_name() != file_path(dir.root()).root_name()) {
    fs::current_path(file_path(dir.root()).parent_path());
  }
  const std::string relative = testing::path_text(fs::relative(file_path(dir.path("Movie.AVI"))));
  ASSERT_FALSE(relative.empty());
  struct Case {
    std::string source, dest;
  };
  const Case cases[] = {
      {dir.path("Movie.AVI"), dir.path("movie.avi")},  // names equal without regard to case
      {dir.path("Movie.AVI"), dir.path("hard.avi")},   // a hard link
      {relative, dir.path("Movie.AVI")},               // relative and absolute
  };
  for (const Case& c : cases) {
    CapturedConsole captured;
    EXPECT_EQ(run({"reelfix", c.source, c.dest}, captured), ExitStatus::kSameFile) << c.dest;
    EXPECT_EQ(captured.output, kSameFile);
    EXPECT_EQ(read_file(dir.path("Movie.AVI")), content);
  }
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"Movie.AVI", "hard.avi"}));
}

TEST(FrontEnd, ASymbolicLinkAndItsTargetAreOneFile) {
  TempDir dir;
  const Bytes content = {'n', 'o', 't', ' ', 'a', 'v', 'i'};
  write_file(dir.path("Movie.AVI"), content);
  std::error_code error;
  fs::create_symlink(file_path(dir.path("Movie.AVI")), file_path(dir.path("soft.avi")), error);
#ifdef _WIN32
  // Windows makes symbolic links only with a privilege or in developer mode, and mingw-w64's
  // libstdc++ makes none at all.
  if (error) GTEST_SKIP() << "no symbolic link could be made: " << error.message();
#endif
  ASSERT_FALSE(error) << error.message();
  for (const auto& [source, dest] : {std::pair{dir.path("soft.avi"), dir.path("Movie.AVI")},
                                     std::pair{dir.path("Movie.AVI"), dir.path("soft.avi")}}) {
    CapturedConsole captured;
    EXPECT_EQ(run({"reelfix", source, dest}, captured), ExitStatus::kSameFile) << source;
    EXPECT_EQ(captured.output, kSameFile);
  }
  EXPECT_EQ(read_file(dir.path("Movie.AVI")), content);
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"Movie.AVI", "soft.avi"}));
}

TEST(FrontEnd, FilesThatCannotBeOpenedOrCreatedEndWithStatus3) {
  TempDir dir;
  write_file(dir.path("in.avi"), Bytes{'R', 'I', 'F', 'X'});
  fs::create_directory(file_path(dir.path("folder")));
  struct Case {
    std::string source, dest, message;
  };
  const Case cases[] = {
      {dir.path("missing.avi"), dir.path("out.avi"),
       "Error opening the file " + dir.path("missing.avi") + "\n"},
      {dir.path("folder"), dir.path("out.avi"),
       "Error opening the file " + dir.path("folder") + "\n"},
      {dir.path("in.avi"), dir.path("no-such-dir/out.avi"),
       "Error creating output file " + dir.path("no-such-dir/out.avi") + "\n"},
      {dir.path("in.avi"), dir.path("folder"),
       "Error creating output file " + dir.path("folder") + "\n"},
      {"", dir.path("out.avi"), "Error opening the file \n"},
      {dir.path("in.avi"), "", "Error creating output file \n"},  // refused before the movie
  };
  for (const Case& c : cases) {
    CapturedConsole captured;
    EXPECT_EQ(run({"reelfix", c.source, c.dest}, captured), ExitStatus::kRefused);
    EXPECT_EQ(captured.output, c.message);
  }
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"folder", "in.avi"}));
}

#ifndef _WIN32
// Renaming over something that is no regular file would destroy it: a pipe stays a pipe.
TEST(FrontEnd, ADestinationThatIsNoRegularFileIsNotReplaced) {
  TempDir dir;
  write_file(dir.path("in.avi"), testing::build_source(testing::standard_source(15)).bytes);
  ASSERT_EQ(mkfifo(dir.path("pipe").c_str(), 0600), 0);
  CapturedConsole captured;
  EXPECT_EQ(run({"reelfix", dir.path("in.avi"), dir.path("pipe")}, captured), ExitStatus::kRefused);
  EXPECT_EQ(captured.output, "Error creating output file " + dir.path("pipe") + "\n");
  EXPECT_TRUE(fs::is_fifo(dir.path("pipe")));
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"in.avi", "pipe"}));
}

// A pipe as the source is refused at once; opening it to read would wait for a writer.
TEST(FrontEnd, ASourceThatIsNoRegularFileIsRefusedWithoutWaiting) {
  TempDir dir;
  ASSERT_EQ(mkfifo(dir.path("pipe").c_str(), 0600), 0);
  for (const std::string& source : {dir.path("pipe"), std::string("/dev/zero")}) {
    CapturedConsole captured;
    EXPECT_EQ(run({"reelfix", source, dir.path("out.avi")}, captured), ExitStatus::kRefused);
    EXPECT_EQ(captured.output, "Error opening the file " + source + "\n");
  }
  EXPECT_EQ(dir.names(), std::vector<std::string>{"pipe"});
}
#endif

TEST(FrontEnd, ARefusedSourceLeavesAnExistingDestinationAsItWas) {
  TempDir dir;
  write_file(dir.path("in.avi"), Bytes{'R', 'I', 'F', 'X', 0, 0, 0, 0});
  const Bytes old_content = {'o', 'l', 'd'};
  write_file(dir.path("out.avi"), old_content);
  CapturedConsole captured;
  EXPECT_EQ(run({"reelfix", dir.path("in.avi"), dir.path("out.avi"), "ignored"}, captured),
            ExitStatus::kRefused);
  EXPECT_EQ(captured.output, "'RIFF' signature was not found. This is not an AVI file.\n");
  EXPECT_EQ(read_file(dir.path("out.avi")), old_content);
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"in.avi", "out.avi"}));
}

TEST(FrontEnd, AReadOnlyDestinationIsNotReplaced) {
#ifndef _WIN32
  if (geteuid() == 0) GTEST_SKIP() << "root may write any file";
#endif
  TempDir dir;
  testing::SourcePlan plan = testing::standard_source(15);
  write_file(dir.path("in.avi"), testing::build_source(plan).bytes);
  const Bytes old_content = {'o', 'l', 'd'};
  write_file(dir.path("out.avi"), old_content);
  fs::permissions(dir.path("out.avi"), fs::perms::owner_read | fs::perms::group_read);
  CapturedConsole captured;
  EXPECT_EQ(run({"reelfix", dir.path("in.avi"), dir.path("out.avi")}, captured),
            ExitStatus::kRefused);
  EXPECT_EQ(captured.output, "Error creating output file " + dir.path("out.avi") + "\n");
  EXPECT_EQ(read_file(dir.path("out.avi")), old_content);
}

// Lines, texts and progress texts leave through one buffer: the program writing into a file
// shows them in the same order as the conversion made them.
TEST(FrontEnd, TheProgramKeepsTextOrderWhenItsOutputIsAFile) {
  testing::SourcePlan plan = testing::standard_source(30);
  plan.video_header.fccHandler = fourcc("MJPG");  // a text between the value lines
  plan.movie[3].payload = testing::jpeg_like_frame(500, 0);  // and one between progress texts
  const Bytes source = testing::build_source(plan).bytes;
  testing::Conversion in_process = testing::convert_bytes(source);
  TempDir dir;
  write_file(dir.path("in.avi"), source);
  testing::ProgramRun program = testing::run_reelfix({"in.avi", "out.avi"}, dir.root());
  EXPECT_EQ(program.status, 0);
  EXPECT_EQ(program.output, in_process.output);
  EXPECT_EQ(program.error, "");
  EXPECT_NE(program.output.find("Warning! ffda"), std::string::npos);
}

}  // namespace
}  // namespace reelfix
