#include "cli/front_end.h"

#include <gtest/gtest.h>

#include <filesystem>

#ifdef _WIN32
#include <windows.h>

#include "platform/utf16_win32.h"
#else
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

// `reelfix *.avi` in a folder of three clips would convert the first over the second.
TEST(FrontEnd, MoreThanTwoNamesAreRefusedAndTouchNothing) {
  TempDir dir;
  const Bytes source = testing::build_source(testing::standard_source(15)).bytes;
  const Bytes clip = {'c', 'l', 'i', 'p'};
  write_file(dir.path("a.avi"), source);
  write_file(dir.path("b.avi"), clip);
  write_file(dir.path("c.avi"), clip);
  for (std::size_t count : {3u, 4u}) {
    std::vector<std::string> arguments = {"reelfix", dir.path("a.avi"), dir.path("b.avi"),
                                          dir.path("c.avi")};
    if (count == 4) arguments.push_back(dir.path("d.avi"));
    CapturedConsole captured;
    EXPECT_EQ(run(arguments, captured), ExitStatus::kUsage);
    EXPECT_EQ(captured.output, std::string(kUsage) + "\nreelfix takes two file names; " +
                                   std::to_string(count) + " were given. Nothing was converted.\n");
  }
  EXPECT_EQ(read_file(dir.path("b.avi")), clip);
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"a.avi", "b.avi", "c.avi"}));
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
      {dir.path("Movie.AVI"), dir.path("Movie.AVI")},  // equal names
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

// Whether names that differ in case are one file is the file system's affair: Windows' file
// systems ignore case, so do a FAT memory card and macOS (where the identity test finds the
// one file), and Linux's usual file systems do not.
TEST(FrontEnd, NamesThatDifferInCaseAreOneFileOnlyWhereTheFileSystemSaysSo) {
  TempDir dir;
  write_file(dir.path("s.avi"), testing::build_source(testing::standard_source(15)).bytes);
  const bool one_file = fs::exists(file_path(dir.path("S.AVI")));
  CapturedConsole captured;
  const ExitStatus status = run({"reelfix", dir.path("s.avi"), dir.path("S.AVI")}, captured);
#ifdef _WIN32
  ASSERT_TRUE(one_file);
#endif
  if (one_file) {
    EXPECT_EQ(status, ExitStatus::kSameFile);
    EXPECT_EQ(captured.output, kSameFile);
    EXPECT_EQ(dir.names(), std::vector<std::string>{"s.avi"});
  } else {
    EXPECT_EQ(status, ExitStatus::kCompleted) << captured.output;
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"S.AVI", "s.avi"}));
  }
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

// Standard output keeps the plain texts; standard error says why, in the system's words.
TEST(FrontEnd, FilesThatCannotBeOpenedOrCreatedEndWithStatus3AndTheReason) {
  TempDir dir;
  write_file(dir.path("in.avi"), Bytes{'R', 'I', 'F', 'X'});
  fs::create_directory(file_path(dir.path("folder")));
#ifdef _WIN32
  const std::string missing_file = platform::system_message(ERROR_FILE_NOT_FOUND);
  const std::string missing_folder = platform::system_message(ERROR_PATH_NOT_FOUND);
#else
  const std::string missing_file = "No such file or directory";
  const std::string missing_folder = missing_file;
#endif
  struct Case {
    std::string source, dest, message, error;
  };
  const Case cases[] = {
      {dir.path("missing.avi"), dir.path("out.avi"),
       "Error opening the file " + dir.path("missing.avi") + "\n",
       "Error: opening '" + dir.path("missing.avi") + "' failed: " + missing_file + "\n"},
      {dir.path("folder"), dir.path("out.avi"), "Error opening the file " + dir.path("folder") + "\n",
       "Error: opening '" + dir.path("folder") + "' failed: Is a directory\n"},
      {dir.path("in.avi"), dir.path("no-such-dir/out.avi"),
       "Error creating output file " + dir.path("no-such-dir/out.avi") + "\n",
       "Error: creating '" + dir.path("no-such-dir/out.avi") + "' failed: " + missing_folder +
           "\n"},
      {dir.path("in.avi"), dir.path("folder"),
       "Error creating output file " + dir.path("folder") + "\n",
       "Error: creating '" + dir.path("folder") + "' failed: Is a directory\n"},
      {"", dir.path("out.avi"), "Error opening the file \n",
       "Error: opening '' failed: the name is empty\n"},
      {dir.path("in.avi"), "", "Error creating output file \n",  // refused before the movie
       "Error: creating '' failed: the name is empty\n"},
  };
  for (const Case& c : cases) {
    CapturedConsole captured;
    EXPECT_EQ(run({"reelfix", c.source, c.dest}, captured), ExitStatus::kRefused);
    EXPECT_EQ(captured.output, c.message);
    EXPECT_EQ(captured.error, c.error);
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
  EXPECT_EQ(run({"reelfix", dir.path("in.avi"), dir.path("out.avi")}, captured),
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
  // The closing text names the destination as given: here the full name, there "out.avi".
  std::string expected = in_process.output;
  const std::string::size_type at = expected.rfind("'");
  const std::string::size_type name_at = expected.rfind("'", at - 1) + 1;
  expected.replace(name_at, at - name_at, "out.avi");
  EXPECT_EQ(program.output, expected);
  EXPECT_EQ(program.error, "");
  EXPECT_NE(program.output.find("Warning! ffda"), std::string::npos);
}

// After a completed conversion: seconds that pass what the camera reads in a second, then what
// was written where, and what was left out.
TEST(FrontEnd, TheLastTextsSayWhatWasWritten) {
  // Stored frames of fixed_frame_length(n): 14 of 16668 bytes and one of 16648 make exactly
  // 250000 bytes of video in a second.
  auto second_of = [](std::size_t last_frame) {
    testing::SourcePlan plan = testing::standard_source(15, 16248);
    plan.movie.back().payload = testing::jpeg_like_frame(last_frame);
    return plan;
  };
  testing::SourcePlan two_seconds = testing::standard_source(30, 16248);
  two_seconds.movie[15].payload = testing::jpeg_like_frame(16232);  // 250004 in the first second
  for (std::size_t i = 17; i < 32; ++i) two_seconds.movie[i].payload = testing::jpeg_like_frame(900);
  struct Case {
    const char* name;
    testing::SourcePlan plan;
    std::string tail;  // behind the last progress text; %s is the destination's name
  };
  const Case cases[] = {
      {"exactly 250000 bytes", second_of(16228), "\nWrote 1 seconds to '%s'.\n"},
      {"4 bytes more", second_of(16232),
       "\nNote: 1 of 1 seconds hold more than 250000 bytes of video (the largest 250004); the "
       "camera may not play them smoothly.\nWrote 1 seconds to '%s'.\n"},
      {"one second of two", two_seconds,
       "\nNote: 1 of 2 seconds hold more than 250000 bytes of video (the largest 250004); the "
       "camera may not play them smoothly.\nWrote 2 seconds to '%s'.\n"},
      {"more than 180 seconds", testing::standard_source(181 * 15 + 14, 40),
       "\nWrote 180 of the source's 181 seconds to '%s'; the camera plays at most 180.\n"},
      {"exactly 180 seconds", testing::standard_source(180 * 15 + 14, 40),
       "\nWrote 180 seconds to '%s'.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    write_file(dir.path("in.avi"), testing::build_source(c.plan).bytes);
    CapturedConsole captured;
    EXPECT_EQ(run({"reelfix", dir.path("in.avi"), dir.path("out.avi")}, captured),
              ExitStatus::kCompleted);
    std::string tail = c.tail;
    tail.replace(tail.find("%s"), 2, dir.path("out.avi"));
    const std::string::size_type last = captured.output.rfind("..");
    ASSERT_NE(last, std::string::npos);
    EXPECT_EQ(captured.output.substr(last + 2), tail);
  }
}

}  // namespace
}  // namespace reelfix
