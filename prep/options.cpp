#include "prep/options.h"

extern "C" {
#include <libavutil/parseutils.h>
}

#include <CLI/CLI.hpp>
#include <algorithm>
#include <sstream>

namespace reelfix::prep {
namespace {

constexpr char kDescription[] =
    "Turns any video that FFmpeg reads into a movie that the camera plays: 320x240 MJPEG at 15\n"
    "frames per second, at most 250,000 bytes of picture a second, 11024 Hz 8-bit mono sound,\n"
    "at most 180 seconds, in the camera's AVI layout.";

constexpr char kFooter[] =
    "TIME is seconds (90, 2.5) or [hh:]mm:ss[.frac] (1:30, 0:01:30.5).\n"
    "Exit status: 0 done, 1 usage, 2 INPUT and OUTPUT are one file, 3 the input cannot be used\n"
    "or OUTPUT exists, 4 a file operation failed or memory ran out.";

// CLI11's checks of a TIME value: an empty text when it is one.
std::string duration_error(const std::string& text) {
  return parse_duration(text) ? "" : "'" + text + "' is no time: give seconds or [hh:]mm:ss[.frac]";
}

std::string length_error(const std::string& text) {
  std::optional<std::int64_t> length = parse_duration(text);
  if (!length) return duration_error(text);
  return *length > 0 ? "" : "the length must be more than 0";
}

}  // namespace

std::optional<std::int64_t> parse_duration(const std::string& text) {
  std::int64_t microseconds = 0;
  if (text.empty() || av_parse_time(&microseconds, text.c_str(), 1) < 0 || microseconds < 0) {
    return std::nullopt;
  }
  return microseconds;
}

ParsedCommandLine parse_command_line(const std::vector<std::string>& arguments) {
  CLI::App app(kDescription, "reelprep");
  app.footer(kFooter);
  PrepOptions options;
  std::string start;
  std::string length;
  std::string fit = "pad";
  app.add_option("INPUT", options.input, "any video file FFmpeg reads")->required();
  app.add_option("OUTPUT", options.output, "the camera movie to write (OUTPUT.avi)")->required();
  app.add_option("--start", start, "skip this much of the input first")
      ->type_name("TIME")
      ->check(CLI::Validator(duration_error, ""));
  app.add_option("--length", length, "take at most this much of the input")
      ->type_name("TIME")
      ->check(CLI::Validator(length_error, ""));
  app.add_option("--fit", fit, "another shape: black bars (pad, the default), cut or stretched")
      ->type_name("pad|crop|stretch")
      ->check(CLI::IsMember({"pad", "crop", "stretch"}).description(""));
  app.add_flag("-y,--overwrite", options.overwrite, "replace OUTPUT when it exists");
  app.add_flag("-q,--quiet", options.quiet, "no progress line and no notes");
  app.set_version_flag("--version", "reelprep " REELFIX_VERSION);

  ParsedCommandLine parsed;
  std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
  if (!reversed.empty()) reversed.pop_back();  // the program's name
  std::ostringstream output;
  std::ostringstream error;
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    // --help and --version end here with status 0, mistakes with CLI11's message.
    const int code = app.exit(e, output, error);
    parsed.status = code == 0 ? ExitStatus::kCompleted : ExitStatus::kUsage;
    parsed.output = output.str();
    parsed.error = error.str();
    return parsed;
  }
  if (!start.empty()) options.start_us = *parse_duration(start);
  if (!length.empty()) options.length_us = parse_duration(length);
  options.fit = fit == "crop"      ? FitMode::kCrop
                : fit == "stretch" ? FitMode::kStretch
                                   : FitMode::kPad;
  parsed.options = options;
  return parsed;
}

}  // namespace reelfix::prep
