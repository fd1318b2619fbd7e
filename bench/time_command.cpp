// Runs one command and prints how long it took and how much memory it held, for bench/run.py.
//
//   time_command [-o FILE] [--] PROGRAM [ARGUMENT...]
//
// The command's standard output goes to FILE (created or emptied, as the shell does for
// `PROGRAM > FILE`, and inside the timed span) or to /dev/null. Prints one line:
//
//   <wall microseconds> <user microseconds> <system microseconds> <peak resident kilobytes>
//
// The command is started from this small process rather than from the Python interpreter: a
// child's peak resident size counts the memory of the process it was forked from, which for
// the interpreter is larger than what is measured. Exits with the command's status (or 125
// when it could not be started).

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

long long microseconds(const timeval& t) {
  return static_cast<long long>(t.tv_sec) * 1000000 + static_cast<long long>(t.tv_usec);
}

}  // namespace

int main(int argc, char** argv) {
  const char* output = "/dev/null";
  int first = 1;
  if (first + 1 < argc && std::strcmp(argv[first], "-o") == 0) {
    output = argv[first + 1];
    first += 2;
  }
  if (first < argc && std::strcmp(argv[first], "--") == 0) ++first;
  if (first >= argc) {
    std::fprintf(stderr, "usage: time_command [-o FILE] [--] PROGRAM [ARGUMENT...]\n");
    return 125;
  }

  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child < 0) {
    std::perror("time_command: fork");
    return 125;
  }
  if (child == 0) {
    const int fd = open(output, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0) _exit(125);
    if (fd != STDOUT_FILENO) close(fd);
    execvp(argv[first], argv + first);
    _exit(125);
  }
  int status = 0;
  rusage usage{};
  while (wait4(child, &status, 0, &usage) < 0) {
    if (errno != EINTR) {
      std::perror("time_command: wait4");
      return 125;
    }
  }
  const auto wall = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - start);
  std::printf("%lld %lld %lld %ld\n", static_cast<long long>(wall.count()),
              microseconds(usage.ru_utime), microseconds(usage.ru_stime),
#if defined(__APPLE__)
              usage.ru_maxrss / 1024  // bytes there
#else
              usage.ru_maxrss
#endif
  );
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 125;
}
