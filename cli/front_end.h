// The command line: two names, the source and the destination, and nothing else.
#pragma once

#include <string>
#include <vector>

#include "convert/chunk_io.h"
#include "platform/clock.h"

namespace reelfix {

// The process's exit statuses.
enum class ExitStatus : int {
  kCompleted = 0,      // the destination is complete and in place
  kUsage = 1,          // not exactly two names (the usage text), or start-up failed
  kSameFile = 2,       // both names denote the same file
  kRefused = 3,        // a file could not be opened or created, or the source was refused
  kSystemFailure = 4,  // a file operation failed or memory ran out during the conversion
};

// Runs one command line: arguments[0] is the program name. Text goes to `console`, which the
// caller flushes.
ExitStatus run_front_end(const std::vector<std::string>& arguments, Console& console,
                         platform::ClockFunction clock = platform::local_time_now);

}  // namespace reelfix
