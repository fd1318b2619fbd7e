// reelfix: converts an MJPEG AVI movie into the one layout a digital still camera plays.
#include "cli/front_end.h"
#include "platform/startup.h"

int main(int argc, char** argv) {
  reelfix::Console console = reelfix::standard_console();
  if (!reelfix::platform::start_up()) {
    console.error("Fatal Error: MFC initialization failed\n");
    return static_cast<int>(reelfix::ExitStatus::kUsage);
  }
  reelfix::ExitStatus status = reelfix::run_front_end(
      reelfix::platform::command_line_arguments(argc, argv), console);
  reelfix::flush(console);
  return static_cast<int>(status);
}
