#include "cli/front_end.h"

#include <cinttypes>

#include "convert/driver.h"
#include "platform/file.h"

namespace reelfix {
namespace {

void report_usage(Console& console) {
  report_text(console, "reelfix.exe <source.avi> <destination.avi>\n");
  report_text(console, "\n");
  report_text(console, "source.avi must be in the following format:\n");
  report_text(console, "Video track: MJPG codec, max 250KBytes/sec\n");
  report_text(console, "Audio track: PCM 8 bit, mono, 11024 Hz (make sure it's not 11025!)\n");
}

// The last texts of a completed conversion: seconds that may play unevenly, then what was
// written where, and what was left out.
void report_completion(Console& console, const ConversionSummary& summary,
                       const std::string& dest) {
  if (summary.seconds_over_video_limit > 0) {
    report_progress(console,
                    "\nNote: %" PRIu32 " of %" PRIu32 " seconds hold more than %" PRIu32
                    " bytes of video (the largest %" PRIu64
                    "); the camera may not play them smoothly.",
                    summary.seconds_over_video_limit, summary.seconds, MAX_VIDEO_BYTES_PER_SECOND,
                    summary.largest_second_video_bytes);
  }
  if (summary.source_seconds > summary.seconds) {
    report_progress(console,
                    "\nWrote %" PRIu32 " of the source's %" PRIu32
                    " seconds to '%s'; the camera plays at most %" PRIu32 ".\n",
                    summary.seconds, summary.source_seconds, dest.c_str(), MAX_SECONDS);
  } else {
    report_progress(console, "\nWrote %" PRIu32 " seconds to '%s'.\n", summary.seconds,
                    dest.c_str());
  }
}

}  // namespace

ExitStatus run_front_end(const std::vector<std::string>& arguments, Console& console,
                         platform::ClockFunction clock) {
  if (arguments.size() != 3) {
    report_usage(console);
    // `reelfix *.avi` would convert the first clip over the second: nothing is touched.
    if (arguments.size() > 3) {
      report_progress(console,
                      "\nreelfix takes two file names; %zu were given. Nothing was converted.\n",
                      arguments.size() - 1);
    }
    return ExitStatus::kUsage;
  }
  const std::string& source = arguments[1];
  const std::string& dest = arguments[2];
  // Creating the destination would empty the source before a byte of it was read: refuse
  // equal names, and different names of one existing file (links, relative and absolute, or
  // names that differ in case on a file system that ignores case).
  if (platform::same_file(source, dest)) {
    report_text(console, "Error: source and destination files are the same. Check parameters\n");
    return ExitStatus::kSameFile;
  }
  ConversionSummary summary;
  switch (convert_avi(source, dest, console, clock, &summary)) {
    case Outcome::kCompleted:
      report_completion(console, summary, dest);
      return ExitStatus::kCompleted;
    case Outcome::kRefused:
      return ExitStatus::kRefused;
    case Outcome::kSystemFailure:
      break;
  }
  return ExitStatus::kSystemFailure;
}

}  // namespace reelfix
