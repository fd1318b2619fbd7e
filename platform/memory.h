// Memory as the conversion needs it from the operating system beyond the allocator.
#pragma once

#include <cstddef>

namespace reelfix::platform {

// Makes the pages of the n bytes at `buffer` present at once, for a buffer that will be filled
// soon: one call instead of a page fault for each page, which on some systems (virtual
// machines above all) costs several microseconds apiece. Nothing where the system cannot.
void prefault(void* buffer, std::size_t n) noexcept;

}  // namespace reelfix::platform
