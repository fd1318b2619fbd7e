// The parts of the file layer that need no system call, shared by both platforms.
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
  std::string suffix;
  for (int i = 0; i < 8; ++i) suffix += kDigits[generator() % (sizeof kDigits - 1)];
  return dest_name + ".reelfix-" + suffix + ".tmp";
}

}  // namespace reelfix::platform
