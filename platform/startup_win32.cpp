// Windows start-up: no "insert a disk" or "cannot open file" dialogs from the system, a
// console that shows UTF-8, and the command line read as wide characters.
#include <windows.h>
// shellapi.h needs the declarations of windows.h before it.
#include <shellapi.h>

#include <cstdlib>

#include "platform/startup.h"
#include "platform/utf16_win32.h"

namespace reelfix::platform {
namespace {

// The console's code page before start_up(); the console outlives the process and belongs to
// the shell that started it, so it gets its code page back.
UINT g_previous_output_code_page = 0;

extern "C" void restore_output_code_page() {
  if (g_previous_output_code_page != 0) SetConsoleOutputCP(g_previous_output_code_page);
}

}  // namespace

bool start_up() {
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  // Without a console (output to files or pipes, a detached process) there is no code page to
  // set, and none is needed: the bytes go out as UTF-8 anyway.
  const UINT previous = GetConsoleOutputCP();
  if (previous == 0 || previous == CP_UTF8) return true;
  if (!SetConsoleOutputCP(CP_UTF8)) return false;
  g_previous_output_code_page = previous;
  std::atexit(restore_output_code_page);
  return true;
}

std::vector<std::string> command_line_arguments(int argc, char** argv) {
  // argv holds the arguments in the ANSI code page, where characters of other scripts are
  // lost; the wide command line has them all.
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> arguments;
  arguments.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) arguments.push_back(to_utf8(wide[i]));
  LocalFree(wide);
  return arguments;
}

}  // namespace reelfix::platform
