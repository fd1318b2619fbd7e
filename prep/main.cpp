// reelprep: turns any video that FFmpeg reads into a movie that the camera plays, in one step.
#include "platform/console.h"
#include "platform/startup.h"
#include "prep/prepare.h"

int main(int argc, char** argv) {
  reelfix::Console console = reelfix::standard_console();
  if (!reelfix::platform::start_up()) {
    console.error("Error: the process could not be prepared\n");
    return static_cast<int>(reelfix::ExitStatus::kUsage);
  }
  reelfix::ExitStatus status =
      reelfix::prep::run_reelprep(reelfix::platform::command_line_arguments(argc, argv), console,
                                  reelfix::platform::standard_error_is_terminal());
  reelfix::flush(console);
  return static_cast<int>(status);
}
