#include "tests/test_support.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "convert/little_endian.h"

#ifdef _WIN32
#include <process.h>

#include "platform/utf16_win32.h"
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace reelfix::testing {

std::string& ignored_reason() {
  static std::string reason;
  return reason;
}

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  std::random_device random;
  fs::path base = fs::temp_directory_path();
  for (;;) {
    fs::path candidate = base / ("reelfix-test-" + std::to_string(random()) + "-" +
                                 std::to_string(counter++));
    if (fs::create_directory(candidate)) {
      root_ = path_text(candidate);
      return;
    }
  }
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(file_path(root_), ignored);
}

std::string TempDir::path(const std::string& name) const {
  return path_text(file_path(root_) / file_path(name));
}

std::vector<std::string> TempDir::names() const {
  std::vector<std::string> result;
  for (const auto& entry : fs::directory_iterator(file_path(root_))) {
    result.push_back(path_text(entry.path().filename()));
  }
  std::sort(result.begin(), result.end());
  return result;
}

CapturedConsole::CapturedConsole() {
  console.output = [this](std::string_view text) {
    output.append(text);
    ++handed;
    return true;
  };
  console.error = [this](std::string_view text) {
    error.append(text);
    return true;
  };
}

platform::LocalTime pinned_time() {
  platform::LocalTime t;
  t.weekday = 0;
  t.month = 11;
  t.day = 7;
  t.hour = 0;
  t.minute = 0;
  t.second = 0;
  t.year = 2025;
  return t;
}

Conversion convert_bytes(const Bytes& source) {
  TempDir dir;
  write_file(dir.path("in.avi"), source);
  CapturedConsole captured;
  Conversion result;
  result.status = run_front_end({"reelfix", dir.path("in.avi"), dir.path("out.avi")},
                                captured.console, pinned_time);
  flush(captured.console);
  result.output = captured.output;
  result.error = captured.error;
  result.dest_exists = fs::exists(file_path(dir.path("out.avi")));
  if (result.dest_exists) result.dest = read_file(dir.path("out.avi"));
  result.left_in_directory = dir.names();
  return result;
}

Bytes chunk_payload(const Bytes& dest, std::size_t i) {
  auto u32 = [&](std::size_t at) { return load_u32(dest.data() + at); };
  const std::size_t index = 2056 + u32(2052) + 8;
  const std::size_t chunk = 2056 + u32(index + i * 16 + 8);
  return Bytes(dest.begin() + static_cast<long>(chunk + 8),
               dest.begin() + static_cast<long>(chunk + 8 + u32(chunk + 4)));
}

Bytes without_date(Bytes bytes) {
  if (bytes.size() >= 345) std::fill(bytes.begin() + 320, bytes.begin() + 345, 0);
  return bytes;
}

namespace {

std::string quote(const std::string& argument) {
#ifdef _WIN32
  // No Windows file name holds a double quote; inside quotes cmd.exe takes & | < > ^ literally.
  return "\"" + argument + "\"";
#else
  std::string quoted = "'";
  for (char c : argument) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
#endif
}

}  // namespace

std::string read_text(const std::string& path) {
  std::ifstream in(file_path(path), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

ProgramRun run_reelfix(const std::vector<std::string>& arguments, const std::string& workdir) {
  return run_program(REELFIX_EXECUTABLE, arguments, workdir);
}

ProgramRun run_program(const std::string& executable, const std::vector<std::string>& arguments,
                       const std::string& workdir) {
  TempDir streams;
  std::string command;
#ifdef _WIN32
  if (!workdir.empty()) command += "cd /d " + quote(workdir) + " && ";
  // cmd.exe takes a program path only with backslashes.
  std::string program = executable;
  std::replace(program.begin(), program.end(), '/', '\\');
  command += quote(program);
#else
  if (!workdir.empty()) command += "cd " + quote(workdir) + " && ";
  command += quote(executable);
#endif
  for (const std::string& argument : arguments) command += " " + quote(argument);
  command += " > " + quote(streams.path("out.txt")) + " 2> " + quote(streams.path("err.txt"));
#ifdef _WIN32
  command = "\"" + command + "\"";  // cmd.exe strips one pair of outer quotes
  // The narrow std::system() would pass the command in the ANSI code page.
  int raw = _wsystem(platform::to_utf16(command).c_str());
#else
  int raw = std::system(command.c_str());
#endif
  ProgramRun run;
#ifdef _WIN32
  run.status = raw;
#else
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
#endif
  run.output = read_text(streams.path("out.txt"));
  run.error = read_text(streams.path("err.txt"));
  return run;
}

Bytes expected_header_area(const SourcePlan& plan) {
  Bytes area(HEADER_AREA_SIZE, 0);
  auto u32 = [&](std::size_t at, std::uint32_t v) { store_u32(area.data() + at, v); };
  auto u16 = [&](std::size_t at, std::uint16_t v) { store_u16(area.data() + at, v); };
  auto id = [&](std::size_t at, const char* text) { std::copy(text, text + 4, area.begin() + at); };
  const AviFileHeader& m = plan.main_header;
  const AviStreamHeader& v = plan.video_header;
  const bminfo& f = plan.video_format;
  // clang-format off

  id(0, "RIFF");      u32(4, 0);      id(8, "AVI ");
  id(12, "LIST");     u32(16, 326);   id(20, "hdrl");
  id(24, "avih");     u32(28, 56);
  u32(32, 66666);                     // dwMicroSecPerFrame
  u32(36, 300000);                    // dwMaxBytesPerSec
  u32(40, m.dwPaddingGranularity);
  u32(44, 0x10010);                   // dwFlags
  u32(48, m.dwTotalFrames);           // patched at the end
  u32(52, m.dwInitialFrames);
  u32(56, m.dwStreams);
  u32(60, 25000);                     // dwSuggestedBufferSize
  u32(64, m.dwWidth);
  u32(68, m.dwHeight);
  for (int i = 0; i < 4; ++i) u32(72 + 4 * i, m.dwReserved[i]);
  id(88, "LIST");     u32(92, 116);   id(96, "strl");
  id(100, "strh");    u32(104, 56);
  id(108, "vids");    id(112, "mjpg");
  u32(116, v.dwFlags);
  u16(120, 0);                        // wPriority
  u16(122, v.wLanguage);
  u32(124, v.dwInitialFrames);
  u32(128, 66666);                    // dwScale
  u32(132, 1000000);                  // dwRate
  u32(136, v.dwStart);
  u32(140, v.dwLength);               // patched at the end
  u32(144, v.dwSuggestedBufferSize);
  u32(148, v.dwQuality);
  u32(152, v.dwSampleSize);
  for (int i = 0; i < 4; ++i) u16(156 + 2 * i, static_cast<std::uint16_t>(v.rcFrame[i]));
  id(164, "strf");    u32(168, 40);
  u32(172, 40);                       // biSize
  u32(176, static_cast<std::uint32_t>(f.biWidth));
  u32(180, static_cast<std::uint32_t>(f.biHeight));
  u16(184, f.biPlanes);
  u16(186, f.biBitCount);
  id(188, "MJPG");
  u32(192, f.biSizeImage);
  u32(196, static_cast<std::uint32_t>(f.biXPelsPerMeter));
  u32(200, static_cast<std::uint32_t>(f.biYPelsPerMeter));
  u32(204, f.biClrUsed);
  u32(208, f.biClrImportant);
  id(212, "LIST");    u32(216, 92);   id(220, "strl");
  id(224, "strh");    u32(228, 56);
  id(232, "auds");                    // fccHandler, dwFlags, wPriority, wLanguage,
  u32(252, 1);                        //   dwInitialFrames 0; dwScale 1
  u32(256, 11024);                    // dwRate
  u32(264, plan.audio_header.dwLength);  // patched at the end
  u32(268, 11024);                    // dwSuggestedBufferSize
  u32(272, 10000);                    // dwQuality
  u32(276, 1);                        // dwSampleSize; rcFrame 0
  id(288, "strf");    u32(292, 16);
  u16(296, 1);        u16(298, 1);    // PCM, mono
  u32(300, 11024);    u32(304, 11024);
  u16(308, 1);        u16(310, 8);    // nBlockAlign, wBitsPerSample
  id(312, "IDIT");    u32(316, 26);
  std::copy(kPinnedDateText, kPinnedDateText + 25, area.begin() + 320);  // 345: zero
  id(346, "LIST");    u32(350, 24);   id(354, "INFO");
  id(358, "ISFT");    u32(362, 12);
  std::copy_n("CanonMVI01", 10, area.begin() + 366);                     // 376, 377: zero
  id(378, "JUNK");    u32(382, 1662);  // 386..2047: zero
  // clang-format on
  return area;
}

}  // namespace reelfix::testing
