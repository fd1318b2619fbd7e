// POSIX start-up. Descriptors 0, 1 and 2 are made to exist: a process started with one of them
// closed would otherwise be given that number for the next file it opens, and console text
// would land in the movie. A closed pipe on standard output, or a file-size limit on the
// destination, must not kill the process before it can remove its temporary file, so SIGPIPE
// and SIGXFSZ turn into failed writes.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include "platform/startup.h"

namespace reelfix::platform {
namespace {

// Opens the null device on each of descriptors 0, 1 and 2 that is closed. The lowest free
// number is the one taken, so filling them in order puts each where it belongs.
bool fill_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    int opened;
    do {
      opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    } while (opened < 0 && errno == EINTR);
    if (opened != fd) {
      if (opened >= 0) ::close(opened);
      return false;
    }
  }
  return true;
}

}  // namespace

bool start_up() {
  if (!fill_standard_descriptors()) return false;
  ::signal(SIGPIPE, SIG_IGN);
  ::signal(SIGXFSZ, SIG_IGN);
  return true;
}

std::vector<std::string> command_line_arguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

}  // namespace reelfix::platform
