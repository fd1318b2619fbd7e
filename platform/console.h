// The process's two console streams. Standard output is buffered above this layer (one buffer,
// convert/chunk_io); these calls hand text to the system at once.
#pragma once

#include <string_view>

namespace reelfix::platform {

// Writes the text to standard output. False when the system refused it.
bool write_standard_output(std::string_view text);

// Writes the text to standard error. False when the system refused it.
bool write_standard_error(std::string_view text);

// True when standard error is a terminal (a console window), where a line may be rewritten.
bool standard_error_is_terminal();

}  // namespace reelfix::platform
