// The parts of the file layer that need no system call, shared by both platforms.
#include <algorithm>
#include <chrono>
#include <random>

#include "platform/file.h"

namespace reelfix::platform {

FileError::FileError(std::string op, std::string file, std::string why)
    : std::runtime_error(op + " " + file + ": " + why),
      operation(std::move(op)),
      file_name(std::move(file)),
      reason(std::move(why)) {}

bool same_file(const std::string& a, const std::string& b) {
  return same_file_name(a, b) || same_existing_file(a, b);
}

std::string temporary_name_beside(const std::string& dest_name) {
  static std::mt19937_64 generator{
      std::random_device{}() ^
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count())};
  static const char kDigits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string suffix = ".reelfix-";
  for (int i = 0; i < 8; ++i) suffix += kDigits[generator() % (sizeof kDigits - 1)];
  suffix += ".tmp";

#ifdef _WIN32
  const std::size_t split = dest_name.find_last_of("/\\:");
#else
  const std::size_t split = dest_name.find_last_of('/');
#endif
  const std::size_t base_start = split == std::string::npos ? 0 : split + 1;
  const std::size_t base_size = dest_name.size() - base_start;
  const std::size_t used = base_start + suffix.size();
  const std::size_t room = std::min(kMaxNameBytes - std::min(kMaxNameBytes, suffix.size()),
                                    kMaxPathBytes - std::min(kMaxPathBytes, used));
  std::size_t keep = std::min(base_size, room);
  // Not inside a character: UTF-8 continuation bytes are 10xxxxxx.
  while (keep > 0 && keep < base_size &&
         (static_cast<unsigned char>(dest_name[base_start + keep]) & 0xC0) == 0x80) {
    --keep;
  }
  return dest_name.substr(0, base_start + keep) + suffix;
}

}  // namespace reelfix::platform
