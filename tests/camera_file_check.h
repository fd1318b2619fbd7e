// The structural rules every finished destination keeps, whatever source it came from: the
// RIFF size, the fixed header area, a movie list of whole seconds (one "01wb" chunk of 11024
// bytes, then fifteen "00dc" chunks) lying back to back, and an idx1 index right behind it
// that lists exactly those chunks. Shared by the tests and the fuzzer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace reelfix::testing {

// An empty text when the bytes keep every rule; otherwise the first rule broken, in words.
std::string check_camera_file(const std::vector<std::uint8_t>& file);

}  // namespace reelfix::testing
