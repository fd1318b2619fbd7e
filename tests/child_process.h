// A program (reelfix, reelprep) as a child process of the test, for what an in-process run
// cannot show: a limit on the address space or on file sizes, a run that must end by itself,
// signals. POSIX only.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace reelfix::testing {

struct ChildOptions {
  std::optional<std::uint64_t> address_space_limit;  // RLIMIT_AS, in bytes
  // RLIMIT_DATA, in bytes: the heap and the other private writable memory. Unlike the peak
  // resident size that wait4 reports, which counts the pages the child shared with this
  // process before exec, it measures the program alone.
  std::optional<std::uint64_t> data_limit;
  // RLIMIT_FSIZE, in bytes. SIGXFSZ keeps its default action, which ends the process unless
  // the program itself ignores it.
  std::optional<std::uint64_t> file_size_limit;
  bool ignore_interrupt = false;  // start it with SIGINT ignored, as nohup or a background job
  // Start it with descriptors 0 and 1 closed; its standard output is then not captured.
  bool close_input_and_output = false;
  unsigned timeout_seconds = 30;  // then SIGALRM ends the child: a hang fails instead of blocking
};

// A started child: its id and the read ends of pipes on its standard output and error.
struct Child {
  pid_t pid = -1;
  int output = -1;
  int error = -1;
};

// How a child ended.
struct ChildEnd {
  bool exited = false;  // it returned from main or called exit
  int status = -1;      // the exit status, when it exited
  int signal = 0;       // the signal that ended it otherwise (SIGALRM: the timeout)
  std::string output;  // the first 16 MiB of each stream
  std::string error;
  std::uint64_t output_bytes = 0;  // the whole length of standard output
};

// Starts a program with the arguments and the limits.
Child start_program(const std::string& executable, const std::vector<std::string>& arguments,
                    const ChildOptions& options = {});

// Starts the reelfix program with the arguments and the limits.
inline Child start_reelfix(const std::vector<std::string>& arguments,
                           const ChildOptions& options = {}) {
  return start_program(REELFIX_EXECUTABLE, arguments, options);
}

// True once the child has ended; it is not yet reaped, finish still reports how.
bool has_ended(const Child& child);

// Waits until `ready` holds, the child has ended, or `seconds` have passed, looking every
// millisecond. The caller checks afterwards what it waited for.
void wait_until(const Child& child, const std::function<bool()>& ready, unsigned seconds);

// Reads both streams to their end, waits for the child and closes the pipes.
ChildEnd finish(Child& child);

inline ChildEnd run_reelfix_in_child(const std::vector<std::string>& arguments,
                                     const ChildOptions& options = {}) {
  Child child = start_reelfix(arguments, options);
  return finish(child);
}

// True when this build carries AddressSanitizer, which reserves far more address space than any
// useful RLIMIT_AS allows.
constexpr bool kAddressSanitizerBuild =
#if defined(REELFIX_SANITIZE) || defined(__SANITIZE_ADDRESS__)
    true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    true;
#else
    false;
#endif
#else
    false;
#endif

}  // namespace reelfix::testing
