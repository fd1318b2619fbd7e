// POSIX console streams: plain writes to descriptors 1 and 2.
#include <errno.h>
#include <unistd.h>

#include "platform/console.h"

namespace reelfix::platform {
namespace {

bool write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t put = ::write(fd, text.data(), text.size());
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    text.remove_prefix(static_cast<std::size_t>(put));
  }
  return true;
}

}  // namespace

bool write_standard_output(std::string_view text) { return write_all(1, text); }

bool write_standard_error(std::string_view text) { return write_all(2, text); }

bool standard_error_is_terminal() { return isatty(2) == 1; }

}  // namespace reelfix::platform
