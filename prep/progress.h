// The progress line: on a terminal, one line on standard error that shows how far the movie has
// come, rewritten at most a few times a second.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace reelfix::prep {

struct Progress {
  bool shown = false;  // standard error is a terminal and --quiet was not given
  std::function<bool(std::string_view)> write;  // standard error
  std::optional<double> total_seconds;          // the movie's expected length, when known
  std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point last_shown = started;  // the first line waits too
  std::size_t last_width = 0;  // of the text last shown, to blank what a shorter one leaves
  bool line_open = false;      // a line is shown and not yet ended
};

// "01:23 / 03:00  46%  4.2x real time": the movie's position and total, the share done and the
// speed as a multiple of real time (a total that is not known leaves out the total and the share).
std::string progress_text(double position_seconds, std::optional<double> total_seconds,
                          double speed);

// Shows the position unless a line was shown less than a quarter of a second ago.
void show_progress(Progress& progress, double position_seconds);

// Shows the last position and ends the line.
void end_progress(Progress& progress, double position_seconds);

// Ends a line that is shown, so that a message can follow on a line of its own.
void break_progress_line(Progress& progress);

}  // namespace reelfix::prep
