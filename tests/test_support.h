// What the tests share: a scratch directory, a console that keeps its text, a pinned clock,
// and runs of a whole conversion in this process or of the reelfix program.
#pragma once

#include <string>
#include <vector>

#include "cli/front_end.h"
#include "convert/chunk_io.h"
#include "platform/clock.h"
#include "tests/avi_builder.h"

namespace reelfix::testing {

// Somewhere to put the reason of a failed open that a test does not look at.
std::string& ignored_reason();

// A fresh directory, removed with everything in it at the end of the test.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string path(const std::string& name) const;  // a name inside the directory
  std::vector<std::string> names() const;           // what the directory holds now
  const std::string& root() const { return root_; }

 private:
  std::string root_;
};

// A console whose text is kept in `output` (standard output, in order) and `error`. `handed`
// counts how many times held text was handed on, to tell flushes apart.
struct CapturedConsole {
  CapturedConsole();
  Console console;
  std::string output;
  std::string error;
  int handed = 0;
};

// Sunday 7 December 2025, 00:00:00: a Sunday in December at midnight, values under 10.
platform::LocalTime pinned_time();
inline constexpr char kPinnedDateText[] = "Sun Dec 07 00:00:00 2025\n";

// The result of one conversion run in this process.
struct Conversion {
  ExitStatus status;
  std::string output;   // standard output
  std::string error;    // standard error
  bool dest_exists = false;
  Bytes dest;           // the destination's bytes, when it exists
  std::vector<std::string> left_in_directory;  // the directory's names afterwards
};

// Writes the source into a scratch directory and converts it to a destination beside it.
Conversion convert_bytes(const Bytes& source);

// The payload of the chunk that entry i of a destination's index names.
Bytes chunk_payload(const Bytes& dest, std::size_t i);

// The bytes with the destination's date text (offset 320, 25 bytes) zeroed: the only part of a
// destination that depends on the clock, which the reelfix program reads for real.
Bytes without_date(Bytes bytes);

// The whole content of a file as text; empty when it cannot be read.
std::string read_text(const std::string& path);

// Runs a program with the arguments; the status and both streams. `workdir`, when given, is its
// current directory.
struct ProgramRun {
  int status = -1;
  std::string output;
  std::string error;
};
ProgramRun run_program(const std::string& executable, const std::vector<std::string>& arguments,
                       const std::string& workdir = "");

// The same for the reelfix program.
ProgramRun run_reelfix(const std::vector<std::string>& arguments, const std::string& workdir = "");

// The bytes of the destination header area as the camera layout defines them, written from
// the byte map, for a source made by standard_source(frames); the date at 320..343 is the
// pinned date.
Bytes expected_header_area(const SourcePlan& plan);

}  // namespace reelfix::testing
