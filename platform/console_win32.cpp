// Windows console streams: the UTF-8 bytes go to the standard handles with WriteFile. A
// console shows them as UTF-8 because start_up() set its output code page; a file or a pipe
// receives them as they are.
#include <windows.h>

#include <algorithm>

#include "platform/console.h"

namespace reelfix::platform {
namespace {

bool write_all(DWORD which, std::string_view text) {
  HANDLE handle = GetStdHandle(which);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
  while (!text.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size(), 1u << 20));
    DWORD put = 0;
    if (!WriteFile(handle, text.data(), chunk, &put, nullptr) || put == 0) return false;
    text.remove_prefix(std::min<std::size_t>(put, text.size()));
  }
  return true;
}

}  // namespace

bool write_standard_output(std::string_view text) { return write_all(STD_OUTPUT_HANDLE, text); }

bool write_standard_error(std::string_view text) { return write_all(STD_ERROR_HANDLE, text); }

bool standard_error_is_terminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

}  // namespace reelfix::platform
