// Windows memory: committed pages come as they are touched; nothing to do ahead.
#include "platform/memory.h"

namespace reelfix::platform {

void prefault(void* /*buffer*/, std::size_t /*n*/) noexcept {}

}  // namespace reelfix::platform
