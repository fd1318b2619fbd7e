// POSIX memory: Linux (5.14 and later) populates pages with madvise; elsewhere nothing.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

#include "platform/memory.h"

namespace reelfix::platform {

void prefault(void* buffer, std::size_t n) noexcept {
#if defined(__linux__)
#ifndef MADV_POPULATE_WRITE
  constexpr int MADV_POPULATE_WRITE = 23;  // older C library headers lack it
#endif
  // madvise takes whole pages: those that lie inside the buffer.
  const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto start = reinterpret_cast<std::uintptr_t>(buffer);
  const std::uintptr_t first = (start + page - 1) / page * page;
  const std::uintptr_t end = (start + n) / page * page;
  // An older kernel refuses the advice (EINVAL): the pages then come as they are touched.
  if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
#else
  (void)buffer;
  (void)n;
#endif
}

}  // namespace reelfix::platform
