// What only Windows does: file names compared without regard to case in every script, the
// read-only attribute, the system's error texts, and UTF-8 <-> UTF-16 at the border.
#include <gtest/gtest.h>
#include <windows.h>

#include "platform/file.h"
#include "platform/utf16_win32.h"
#include "tests/test_support.h"

namespace reelfix {
namespace {

using testing::Bytes;
using testing::CapturedConsole;
using testing::read_file;
using testing::TempDir;
using testing::write_file;

constexpr char kSameFile[] = "Error: source and destination files are the same. Check parameters\n";

TEST(PlatformWin32, NamesCompareWithoutCaseAsWindowsDoes) {
  struct Case {
    const char* a;
    const char* b;
    bool equal;
  };
  const Case cases[] = {
      {"MOVIE.AVI", "movie.avi", true},
      {"ÜBERSICHT.avi", "übersicht.avi", true},
      {"ДАЧА.avi", "дача.avi", true},
      {"Σ.avi", "σ.avi", true},
      {"STRASSE.avi", "straße.avi", false},      // ß does not expand: one character each
      {"\xC3\x89.avi", "E\xCC\x81.avi", false},  // É precomposed and decomposed
      {"movie.avi", "movie.avi ", false},
      {"\xFF.avi", "\xFE.avi", false},  // no UTF-8: not both U+FFFD, so not equal
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::same_file_name(c.a, c.b), c.equal) << c.a << " / " << c.b;
  }
}

TEST(PlatformWin32, OneFileUnderCaseFoldedNonAsciiNamesIsRefused) {
  TempDir dir;
  const Bytes content = {'n', 'o', 't', ' ', 'a', 'v', 'i'};
  const std::string upper = "ÜBERSICHT.avi";
  const std::string lower = "übersicht.avi";
  write_file(dir.path(upper), content);
  for (const std::string& dest : {dir.path(lower), dir.path("übersicht.AVI")}) {
    CapturedConsole captured;
    EXPECT_EQ(
        run_front_end({"reelfix", dir.path(upper), dest}, captured.console, testing::pinned_time),
        ExitStatus::kSameFile);
    flush(captured.console);
    EXPECT_EQ(captured.output, kSameFile);
  }
  // The program, with the names from its wide command line.
  testing::ProgramRun run = testing::run_reelfix({upper, lower}, dir.root());
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.output, kSameFile);
  EXPECT_EQ(read_file(dir.path(upper)), content);
  EXPECT_EQ(dir.names(), (std::vector<std::string>{upper}));
}

TEST(PlatformWin32, AReadOnlyDestinationCannotBeCreated) {
  TempDir dir;
  write_file(dir.path("in.avi"), testing::build_source(testing::standard_source(15)).bytes);
  const Bytes old_content = {'o', 'l', 'd'};
  write_file(dir.path("out.avi"), old_content);
  const std::wstring dest = platform::to_utf16(dir.path("out.avi"));
  ASSERT_TRUE(SetFileAttributesW(dest.c_str(), FILE_ATTRIBUTE_READONLY));
  CapturedConsole captured;
  const ExitStatus status = run_front_end({"reelfix", dir.path("in.avi"), dir.path("out.avi")},
                                          captured.console, testing::pinned_time);
  flush(captured.console);
  SetFileAttributesW(dest.c_str(), FILE_ATTRIBUTE_NORMAL);  // so that the directory goes
  EXPECT_EQ(status, ExitStatus::kRefused);
  EXPECT_EQ(captured.output, "Error creating output file " + dir.path("out.avi") + "\n");
  EXPECT_EQ(read_file(dir.path("out.avi")), old_content);
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"in.avi", "out.avi"}));
}

// A device as the source is refused at once: reading CON would wait for the keyboard.
TEST(PlatformWin32, ADeviceAsTheSourceIsRefused) {
  TempDir dir;
  for (const std::string source : {"CON", "NUL"}) {
    CapturedConsole captured;
    const ExitStatus status = run_front_end({"reelfix", source, dir.path("out.avi")},
                                            captured.console, testing::pinned_time);
    flush(captured.console);
    EXPECT_EQ(status, ExitStatus::kRefused);
    EXPECT_EQ(captured.output, "Error opening the file " + source + "\n");
  }
  EXPECT_TRUE(dir.names().empty());
}

TEST(PlatformWin32, FileErrorsCarryTheSystemsWordsWithoutLineEnd) {
  TempDir dir;
  write_file(dir.path("in.avi"), Bytes{1, 2, 3});
  platform::FileHandle source;
  ASSERT_TRUE(platform::open_for_reading(source, dir.path("in.avi"), testing::ignored_reason()));
  const std::uint8_t byte = 0;
  try {
    platform::write_at(source, 0, &byte, 1);  // opened for reading only
    ADD_FAILURE() << "a write through a read-only handle succeeded";
  } catch (const platform::FileError& error) {
    EXPECT_EQ(error.operation, "writing");
    EXPECT_EQ(error.file_name, dir.path("in.avi"));
    EXPECT_EQ(error.reason, platform::system_message(ERROR_ACCESS_DENIED));
  }
  platform::close_file(source);
  const std::string reason = platform::system_message(ERROR_ACCESS_DENIED);
  ASSERT_FALSE(reason.empty());
  EXPECT_NE(reason.back(), '\n');
  EXPECT_NE(reason.back(), '\r');
  EXPECT_EQ(reason.find("system error"), std::string::npos) << reason;  // a text, not a number
}

TEST(PlatformWin32, TextCrossesBetweenUtf8AndUtf16Unchanged) {
  const std::string texts[] = {
      "plain.avi",  "Ferien-Übersicht.avi", "Отпуск.avi", "旅行.avi",
      "Take 🎬.avi",  // a surrogate pair in UTF-16
  };
  for (const std::string& text : texts) {
    EXPECT_EQ(platform::to_utf8(platform::to_utf16(text)), text);
  }
  EXPECT_EQ(platform::to_utf16("Д"), L"\u0414");
  EXPECT_EQ(platform::to_utf16("🎬"), std::wstring(L"\xD83C\xDFAC"));
  EXPECT_EQ(platform::to_utf8(L""), "");
}

}  // namespace
}  // namespace reelfix
