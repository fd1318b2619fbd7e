// Runs in a hostile setting: the destination's file system refuses to take more, the user
// interrupts, the process starts without standard descriptors. No temporary file is left, an
// existing destination keeps its content unless a complete movie replaces it, and a movie is
// never mixed with console text.
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/file.h"
#include "tests/avi_builder.h"
#include "tests/child_process.h"
#include "tests/test_support.h"

namespace reelfix {
namespace {

using testing::Bytes;

const Bytes kOldDest = {'a', 'n', ' ', 'o', 'l', 'd', 'e', 'r', ' ', 'm', 'o', 'v', 'i', 'e'};

TEST(FailedRun, AFullFileSystemEndsWithStatus4AndOneLineNamingTheDestination) {
  const Bytes source = testing::build_source(testing::standard_source(45, 20000)).bytes;
  const std::size_t full_size = testing::convert_bytes(source).dest.size();
  ASSERT_GT(full_size, 2u * 256 * 1024);  // more than the destination's write buffer holds

  // Nothing fits; the first block fails; a later block fails; only the last patch fails. The
  // limit's signal, SIGXFSZ, keeps its default action in the child: the program must not die
  // of it.
  for (std::uint64_t limit : {std::uint64_t{0}, std::uint64_t{4096}, std::uint64_t{300000},
                              std::uint64_t{full_size - 1}}) {
    SCOPED_TRACE(limit);
    testing::TempDir dir;
    testing::write_file(dir.path("in.avi"), source);
    testing::write_file(dir.path("out.avi"), kOldDest);
    testing::ChildOptions options;
    options.file_size_limit = limit;
    testing::ChildEnd end =
        testing::run_reelfix_in_child({dir.path("in.avi"), dir.path("out.avi")}, options);
    EXPECT_TRUE(end.exited) << end.signal;
    EXPECT_EQ(end.status, 4);
    EXPECT_EQ(end.error, "Error: writing '" + dir.path("out.avi") + "' failed: File too large\n");
    EXPECT_EQ(testing::read_file(dir.path("out.avi")), kOldDest);
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"in.avi", "out.avi"}));
  }
}

// Started with standard input and output closed, the program must not take descriptor 1 for a
// file of its own: the warnings of 1050 frames without FF DA (more than 64 KiB of text) would
// be written into the movie.
TEST(FailedRun, ClosedStandardDescriptorsKeepTheConsoleOutOfTheMovie) {
  testing::SourcePlan plan = testing::standard_source(1050, 300);
  for (auto& chunk : plan.movie) {
    if (chunk.id == "00dc") chunk.payload = testing::jpeg_like_frame(300, static_cast<std::size_t>(-1));
  }
  const Bytes source = testing::build_source(plan).bytes;
  testing::TempDir dir;
  testing::write_file(dir.path("in.avi"), source);
  testing::ChildOptions options;
  options.close_input_and_output = true;
  testing::ChildEnd end =
      testing::run_reelfix_in_child({dir.path("in.avi"), dir.path("out.avi")}, options);
  EXPECT_TRUE(end.exited) << end.signal;
  EXPECT_EQ(end.status, 0) << end.error;
  EXPECT_EQ(end.error, "");
  EXPECT_TRUE(testing::without_date(testing::read_file(dir.path("out.avi"))) ==
              testing::without_date(testing::convert_bytes(source).dest))
      << "the movie differs from one converted with all descriptors open";
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"in.avi", "out.avi"}));
}

// Bytes waiting in the pipe.
int pending_bytes(int pipe_end) {
  int n = 0;
  return ioctl(pipe_end, FIONREAD, &n) == 0 ? n : -1;
}

// A source whose conversion is held in the middle of its movie without any race: every frame
// lacks the FF DA marker, so each one adds a warning line, and nobody reads the child's standard
// output. The first 64 KiB of warnings fill the pipe, and the write that hands them on blocks
// for good. So the conversion cannot finish before the signal, however slowly the test runs.
Bytes source_that_gets_stuck() {
  testing::SourcePlan plan = testing::standard_source(0);
  plan.movie = {{"00dc", testing::jpeg_like_frame(16, static_cast<std::size_t>(-1))}};
  plan.index_order = std::vector<std::size_t>(180 * 15, 0);  // 180 seconds of the one frame
  return testing::build_source(plan).bytes;
}

// Waits until more than the header texts (about 500 bytes) stand in the child's pipe: the
// movie is being written and is stuck. Even a pipe of one page holds that much.
void wait_until_stuck(const testing::Child& child) {
  testing::wait_until(
      child, [&child] { return pending_bytes(child.output) > 2048; }, 20);
  EXPECT_GT(pending_bytes(child.output), 2048);
}

TEST(FailedRun, AnInterruptRemovesTheTemporaryFile) {
  const Bytes source = source_that_gets_stuck();
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGXCPU}) {
    SCOPED_TRACE(signal_number);
    testing::TempDir dir;
    testing::write_file(dir.path("in.avi"), source);
    testing::write_file(dir.path("out.avi"), kOldDest);
    testing::Child child = testing::start_reelfix({dir.path("in.avi"), dir.path("out.avi")});
    wait_until_stuck(child);
    EXPECT_EQ(dir.names().size(), 3u) << "no temporary file beside the destination";

    kill(child.pid, signal_number);
    testing::ChildEnd end = testing::finish(child);
    EXPECT_FALSE(end.exited);
    EXPECT_EQ(end.signal, signal_number);
    EXPECT_EQ(testing::read_file(dir.path("out.avi")), kOldDest);
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"in.avi", "out.avi"}));
  }
}

// Another program cuts the source while it is converted: the frames it no longer holds are a
// read error, not a movie of zero-filled frames. The run is held, as above, by the warnings of
// frames without FF DA; it has read at most 2000 frames and a window of the source by then,
// and the source is cut to its first 2 MB.
TEST(FailedRun, ASourceCutDuringTheConversionIsAReadError) {
  testing::SourcePlan plan = testing::standard_source(2700, 5000);
  for (auto& chunk : plan.movie) {
    if (chunk.id == "00dc") chunk.payload = testing::jpeg_like_frame(5000, static_cast<std::size_t>(-1));
  }
  testing::TempDir dir;
  testing::write_file(dir.path("in.avi"), testing::build_source(plan).bytes);
  testing::write_file(dir.path("out.avi"), kOldDest);
  testing::Child child = testing::start_reelfix({dir.path("in.avi"), dir.path("out.avi")});
  wait_until_stuck(child);
  ASSERT_EQ(truncate(dir.path("in.avi").c_str(), 2 << 20), 0);
  testing::ChildEnd end = testing::finish(child);
  EXPECT_TRUE(end.exited) << end.signal;
  EXPECT_EQ(end.status, 4);
  EXPECT_EQ(end.error, "Error: reading '" + dir.path("in.avi") +
                           "' failed: the file became shorter during the conversion\n");
  EXPECT_EQ(testing::read_file(dir.path("out.avi")), kOldDest);
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"in.avi", "out.avi"}));
}

// A process started with SIGINT ignored keeps ignoring it while it converts; SIGTERM still
// removes the temporary file.
TEST(FailedRun, AnIgnoredInterruptStaysIgnored) {
  testing::TempDir dir;
  testing::write_file(dir.path("in.avi"), source_that_gets_stuck());
  testing::ChildOptions options;
  options.ignore_interrupt = true;
  testing::Child child = testing::start_reelfix({dir.path("in.avi"), dir.path("out.avi")}, options);
  wait_until_stuck(child);
  kill(child.pid, SIGINT);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(testing::has_ended(child));
  EXPECT_EQ(dir.names().size(), 2u) << "the temporary file is still there";
  kill(child.pid, SIGTERM);
  testing::ChildEnd end = testing::finish(child);
  EXPECT_EQ(end.signal, SIGTERM);
  EXPECT_EQ(dir.names(), std::vector<std::string>{"in.avi"});
}

// reelprep has two temporary files at once: its source beside the movie, and the movie the
// engine writes. An interruption removes every one still in use, and none that was already put
// in place or removed (its slot may serve a later one).
TEST(FailedRun, AnInterruptRemovesEveryTemporaryFileStillInUse) {
  testing::TempDir dir;
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    platform::FileHandle files[4];
    std::string temp[4];
    const char* names[4] = {"a.avi", "b.avi", "c.avi", "d.avi"};
    for (int i = 0; i < 3; ++i) {
      if (!platform::create_temporary_beside(dir.path(names[i]), files[i], temp[i],
                                             testing::ignored_reason())) {
        _exit(1);
      }
    }
    platform::close_file(files[2]);
    platform::replace_with_temporary(temp[2], dir.path("c.avi"));
    platform::close_file(files[1]);
    platform::remove_temporary(temp[1]);
    if (!platform::create_temporary_beside(dir.path(names[3]), files[3], temp[3],
                                           testing::ignored_reason())) {
      _exit(1);
    }
    raise(SIGTERM);
    _exit(2);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
  EXPECT_EQ(dir.names(), std::vector<std::string>{"c.avi"});
}

}  // namespace
}  // namespace reelfix
