// What the process does before the command line is looked at.
#pragma once

#include <string>
#include <vector>

namespace reelfix::platform {

// Prepares the process: device errors are reported to the failing call instead of a dialog,
// the console takes UTF-8. False when that fails.
bool start_up();

// The program name and the arguments, as UTF-8 text. On Windows they are read as wide
// characters from the system, so names in any script survive; elsewhere they are argv.
std::vector<std::string> command_line_arguments(int argc, char** argv);

}  // namespace reelfix::platform
