// One run of reelprep, from the command line to the exit status: the checks made before any
// work; the input read, decoded, fitted to the camera's picture and sound, encoded within the
// camera's rate and written as an intermediate MJPEG + PCM source beside the output; the
// engine's conversion of that source into the output; and the report.
#pragma once

#include <string>
#include <vector>

#include "cli/front_end.h"
#include "convert/chunk_io.h"
#include "platform/clock.h"

namespace reelfix::prep {

// Runs one command line (arguments[0] is the program's name). Notes, warnings and the summary go
// to the console's standard output, errors and the progress line (only when
// `error_is_terminal`) to its standard error. The caller flushes the console.
ExitStatus run_reelprep(const std::vector<std::string>& arguments, Console& console,
                        bool error_is_terminal,
                        platform::ClockFunction clock = platform::local_time_now);

}  // namespace reelfix::prep
