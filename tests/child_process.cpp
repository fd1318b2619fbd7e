#include "tests/child_process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace reelfix::testing {
namespace {

void fail(const char* what) { throw std::runtime_error(std::string(what) + " failed"); }

// A pipe whose ends are closed on exec; the child keeps only the copies it makes itself.
void make_pipe(int (&ends)[2]) {
  if (pipe(ends) != 0) fail("pipe");
  fcntl(ends[0], F_SETFD, FD_CLOEXEC);
  fcntl(ends[1], F_SETFD, FD_CLOEXEC);
}

void set_limit(int resource, std::uint64_t bytes) {
  struct rlimit limit {};
  limit.rlim_cur = static_cast<rlim_t>(bytes);
  limit.rlim_max = static_cast<rlim_t>(bytes);
  if (setrlimit(resource, &limit) != 0) _exit(126);
}

}  // namespace

Child start_program(const std::string& executable, const std::vector<std::string>& arguments,
                    const ChildOptions& options) {
  // Everything the child needs is made before the fork: between fork and exec it makes only
  // async-signal-safe calls.
  std::vector<std::string> strings = {executable};
  strings.insert(strings.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& s : strings) argv.push_back(s.data());
  argv.push_back(nullptr);

  int output[2];
  int error[2];
  make_pipe(output);
  make_pipe(error);
  pid_t pid = fork();
  if (pid < 0) fail("fork");
  if (pid == 0) {
    if (dup2(output[1], 1) < 0 || dup2(error[1], 2) < 0) _exit(126);
    if (options.close_input_and_output) {
      close(0);
      close(1);
    }
    if (options.address_space_limit) set_limit(RLIMIT_AS, *options.address_space_limit);
    if (options.data_limit) set_limit(RLIMIT_DATA, *options.data_limit);
    if (options.file_size_limit) set_limit(RLIMIT_FSIZE, *options.file_size_limit);
    set_limit(RLIMIT_CORE, 0);  // signals that dump core leave no file behind
    // An ignored signal would stay ignored across exec; the program decides for itself.
    signal(SIGXFSZ, SIG_DFL);
    alarm(options.timeout_seconds);  // a pending alarm survives exec as well
    if (options.ignore_interrupt) signal(SIGINT, SIG_IGN);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(output[1]);
  close(error[1]);
  return Child{pid, output[0], error[0]};
}

bool has_ended(const Child& child) {
  siginfo_t info{};
  return waitid(P_PID, static_cast<id_t>(child.pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid != 0;
}

void wait_until(const Child& child, const std::function<bool()>& ready, unsigned seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!ready() && !has_ended(child) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

ChildEnd finish(Child& child) {
  ChildEnd end;
  struct pollfd fds[2] = {{child.output, POLLIN, 0}, {child.error, POLLIN, 0}};
  std::string* texts[2] = {&end.output, &end.error};
  int open_streams = 2;
  while (open_streams > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      fail("poll");
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        // A runaway child may write gigabytes; what matters of it fits in the first few.
        constexpr std::size_t kKept = 16 << 20;
        const std::size_t room = kKept - std::min(kKept, texts[i]->size());
        texts[i]->append(buffer, std::min(room, static_cast<std::size_t>(got)));
        if (i == 0) end.output_bytes += static_cast<std::uint64_t>(got);
      } else if (got == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;  // poll passes over negative descriptors
        --open_streams;
      }
    }
  }
  child.output = child.error = -1;
  int raw = 0;
  while (waitpid(child.pid, &raw, 0) < 0) {
    if (errno != EINTR) fail("waitpid");
  }
  child.pid = -1;
  if (WIFEXITED(raw)) {
    end.exited = true;
    end.status = WEXITSTATUS(raw);
  } else if (WIFSIGNALED(raw)) {
    end.signal = WTERMSIG(raw);
  }
  return end;
}

}  // namespace reelfix::testing
