#include "cli/front_end.h"

#include "convert/driver.h"
#include "platform/file.h"

namespace reelfix {

ExitStatus run_front_end(const std::vector<std::string>& arguments, Console& console,
                         platform::ClockFunction clock) {
  if (arguments.size() < 3) {
    report_text(console, "reelfix.exe <source.avi> <destination.avi>\n");
    report_text(console, "\n");
    report_text(console, "source.avi must be in the following format:\n");
    report_text(console, "Video track: MJPG codec, max 250KBytes/sec\n");
    report_text(console, "Audio track: PCM 8 bit, mono, 11024 Hz (make sure it's not 11025!)\n");
    return ExitStatus::kUsage;
  }
  const std::string& source = arguments[1];
  const std::string& dest = arguments[2];
  // Creating the destination would empty the source before a byte of it was read: refuse
  // equal names, and different names of one existing file (links, relative and absolute, or
  // names that differ in case on a file system that ignores case).
  if (platform::same_file_name(source, dest) || platform::same_existing_file(source, dest)) {
    report_text(console, "Error: source and destination files are the same. Check parameters\n");
    return ExitStatus::kSameFile;
  }
  switch (convert_avi(source, dest, console, clock)) {
    case Outcome::kCompleted:
      return ExitStatus::kCompleted;
    case Outcome::kRefused:
      return ExitStatus::kRefused;
    case Outcome::kSystemFailure:
      break;
  }
  return ExitStatus::kSystemFailure;
}

}  // namespace reelfix
