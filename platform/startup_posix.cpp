// POSIX start-up: a closed pipe on standard output must not kill the process before it can
// remove its temporary file, so SIGPIPE turns into a failed write.
#include <signal.h>

#include "platform/startup.h"

namespace reelfix::platform {

bool start_up() {
  ::signal(SIGPIPE, SIG_IGN);
  return true;
}

std::vector<std::string> command_line_arguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

}  // namespace reelfix::platform
