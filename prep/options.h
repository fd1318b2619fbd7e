// reelprep's command line: reelprep [options] INPUT OUTPUT.avi
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/front_end.h"
#include "prep/fit.h"

namespace reelfix::prep {

struct PrepOptions {
  std::string input;
  std::string output;
  std::int64_t start_us = 0;              // --start: skip this much of the input
  std::optional<std::int64_t> length_us;  // --length: at most this much of it
  FitMode fit = FitMode::kPad;            // --fit
  bool overwrite = false;                 // -y: an existing output may be replaced
  bool quiet = false;                     // -q: no progress line, no notes
};

// What the command line asked for: a run with `options`, or an end with `status` after the
// texts (the usage text or the version on standard output, a mistake on standard error).
struct ParsedCommandLine {
  std::optional<PrepOptions> options;
  ExitStatus status = ExitStatus::kCompleted;
  std::string output;
  std::string error;
};

// arguments[0] is the program's name.
ParsedCommandLine parse_command_line(const std::vector<std::string>& arguments);

// A duration as seconds ("90", "2.5") or [hh:]mm:ss[.frac] ("1:30", "0:01:30.5"), in
// microseconds. Nothing for a negative or malformed text.
std::optional<std::int64_t> parse_duration(const std::string& text);

}  // namespace reelfix::prep
