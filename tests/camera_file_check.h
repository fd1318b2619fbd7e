// An independent reading of a finished destination: does it hold together as the camera's
// layout? Used by the tests and by the fuzzer on every conversion that completes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace reelfix::testing {

// "" when the file holds together, otherwise the first thing that does not: the RIFF size is
// the file's length - 8; the header area is 2048 bytes and the movie list follows it; the
// movie list size and the idx1 chunk agree with the file, which ends with the last entry; every
// index entry names the chunk at 2056 + its offset, with that identifier and size; every second
// is one "01wb" chunk of 11024 bytes then fifteen "00dc" chunks; the patched lengths agree.
std::string check_camera_file(const std::vector<std::uint8_t>& file);

}  // namespace reelfix::testing
