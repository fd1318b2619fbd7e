#include "prep/progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace reelfix::prep {
namespace {

constexpr auto kInterval = std::chrono::milliseconds(250);

std::string minutes_and_seconds(double seconds) {
  const long whole = std::lround(std::max(0.0, std::floor(seconds)));
  char text[32];
  std::snprintf(text, sizeof text, "%02ld:%02ld", whole / 60, whole % 60);
  return text;
}

void show(Progress& progress, double position_seconds, const char* end) {
  const auto now = std::chrono::steady_clock::now();
  const double elapsed = std::chrono::duration<double>(now - progress.started).count();
  std::string text = progress_text(position_seconds, progress.total_seconds,
                                   elapsed > 0 ? position_seconds / elapsed : 0);
  const std::size_t width = text.size();
  if (width < progress.last_width) text.append(progress.last_width - width, ' ');
  progress.last_width = width;
  progress.last_shown = now;
  progress.line_open = *end == '\0';
  progress.write("\r" + text + end);
}

}  // namespace

std::string progress_text(double position_seconds, std::optional<double> total_seconds,
                          double speed) {
  std::string text = minutes_and_seconds(position_seconds);
  if (total_seconds && *total_seconds > 0) {
    const double share = std::clamp(position_seconds / *total_seconds, 0.0, 1.0);
    text += " / " + minutes_and_seconds(*total_seconds) + "  " +
            std::to_string(std::lround(share * 100)) + "%";
  }
  char rate[48];
  std::snprintf(rate, sizeof rate, "  %.1fx real time", speed);
  return text + rate;
}

void show_progress(Progress& progress, double position_seconds) {
  if (!progress.shown) return;
  if (std::chrono::steady_clock::now() - progress.last_shown < kInterval) return;
  show(progress, position_seconds, "");
}

void end_progress(Progress& progress, double position_seconds) {
  if (progress.line_open) show(progress, position_seconds, "\n");
}

void break_progress_line(Progress& progress) {
  if (!progress.line_open) return;
  progress.line_open = false;
  progress.write("\n");
}

}  // namespace reelfix::prep
