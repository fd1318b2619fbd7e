// libFuzzer target: one whole conversion for every input. The input becomes the source file in
// a private scratch directory and is converted to a destination beside it, exactly as the
// program does it, with the console's text thrown away and a fixed clock.
//
// Besides what the sanitizers catch, a run is a finding (abort) when
//   - it ends with a system failure: on a scratch directory nothing should fail, so a write at
//     an absurd offset or an out-of-memory shows a fault;
//   - a completed destination breaks a rule of the layout (tests/camera_file_check.h);
//   - anything but the source and a completed destination is left in the directory.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "convert/driver.h"
#include "tests/camera_file_check.h"

namespace fs = std::filesystem;

namespace {

fs::path g_directory;
std::string g_source;
std::string g_dest;

reelfix::platform::LocalTime fixed_time() {
  reelfix::platform::LocalTime time;
  time.weekday = 3;
  time.month = 2;
  time.day = 9;
  time.hour = 14;
  time.minute = 5;
  time.second = 33;
  time.year = 2005;
  return time;
}

[[noreturn]] void finding(const std::string& what) {
  std::fprintf(stderr, "\nconvert_fuzzer: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

void remove_directory() {
  std::error_code ignored;
  fs::remove_all(g_directory, ignored);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_directory = fs::temp_directory_path() / ("reelfix-fuzz-" + std::to_string(getpid()));
  fs::create_directories(g_directory);
  std::atexit(remove_directory);
  g_source = (g_directory / "in.avi").string();
  g_dest = (g_directory / "out.avi").string();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  {
    std::ofstream source(g_source, std::ios::binary | std::ios::trunc);
    source.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!source) finding("cannot write the source file " + g_source);
  }

  reelfix::Console console;
  std::string error_text;
  console.output = [](std::string_view) { return true; };
  console.error = [&error_text](std::string_view text) {
    error_text.append(text);
    return true;
  };
  const reelfix::Outcome outcome = reelfix::convert_avi(g_source, g_dest, console, fixed_time);
  reelfix::flush(console);

  if (outcome == reelfix::Outcome::kSystemFailure) finding("system failure: " + error_text);
  const bool completed = outcome == reelfix::Outcome::kCompleted;
  for (const auto& entry : fs::directory_iterator(g_directory)) {
    const std::string name = entry.path().filename().string();
    if (name != "in.avi" && !(completed && name == "out.avi")) finding("left behind: " + name);
  }
  if (completed) {
    std::ifstream dest(g_dest, std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(dest),
                                          std::istreambuf_iterator<char>()};
    const std::string broken = reelfix::testing::check_camera_file(bytes);
    if (!broken.empty()) finding("the destination breaks a rule: " + broken);
    fs::remove(g_dest);
  }
  return 0;
}
