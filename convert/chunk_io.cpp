#include "convert/chunk_io.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

#include "platform/console.h"

namespace reelfix {
namespace {

// Large enough that a frame and its chunk header usually go out in one system call.
constexpr std::size_t kDestBufferSize = 256 * 1024;
// Held console text goes out when it grows past this, as a full stdio buffer would.
constexpr std::size_t kConsoleBufferSize = 64 * 1024;

// Makes the destination's buffer hold at least `capacity` bytes, keeping the pending ones.
void grow_pending(DestFile& dest, std::size_t capacity) {
  if (dest.pending_capacity >= capacity) return;
  // Not zeroed: only bytes that were written are ever handed on.
  std::unique_ptr<std::uint8_t[]> bigger(new std::uint8_t[capacity]);
  if (dest.pending_size != 0) std::memcpy(bigger.get(), dest.pending.get(), dest.pending_size);
  dest.pending = std::move(bigger);
  dest.pending_capacity = capacity;
}

void hand_on(Console& console) {
  if (console.held.empty()) return;
  if (!console.output_failed && console.output) {
    console.output_failed = !console.output(console.held);
  }
  console.held.clear();
}

void hold(Console& console, std::string_view text) {
  if (console.output_failed) return;  // a failed stream drops what follows
  console.held.append(text);
  if (console.held.size() >= kConsoleBufferSize) hand_on(console);
}

}  // namespace

Console standard_console() {
  Console console;
  console.output = platform::write_standard_output;
  console.error = platform::write_standard_error;
  return console;
}

bool open_source(SourceFile& source, const std::string& name, std::string& reason) {
  source.position = 0;
  return platform::open_for_reading(source.handle, name, reason);
}

std::size_t get_bytes(SourceFile& source, void* buffer, std::size_t n) {
  if (n == 0) return 0;
  std::size_t got = platform::read_at(source.handle, source.position, buffer, n);
  source.position += got;
  return got;
}

void get_bytes_whole(SourceFile& source, void* buffer, std::size_t n) {
  if (get_bytes(source, buffer, n) != n) {
    throw platform::FileError("reading", source.handle.name,
                              "the file became shorter during the conversion");
  }
}

void seek(SourceFile& source, std::uint64_t offset) { source.position = offset; }

std::uint64_t position(const SourceFile& source) { return source.position; }

std::uint64_t length(SourceFile& source) { return platform::file_length(source.handle); }

void close(SourceFile& source) { platform::close_file(source.handle); }

void put_bytes(DestFile& dest, const void* buffer, std::size_t n) {
  if (n == 0) return;
  if (dest.pending_size == 0) dest.pending_start = dest.position;
  if (dest.pending_size + n > kDestBufferSize) {
    flush(dest);
    if (n >= kDestBufferSize) {  // large blocks go straight to the system
      platform::write_at(dest.handle, dest.position, buffer, n);
      dest.position += n;
      return;
    }
    dest.pending_start = dest.position;
  }
  grow_pending(dest, kDestBufferSize);
  std::uint8_t* end = dest.pending.get() + dest.pending_size;
  // Bytes made in the room of reserve_bytes may be there already, or lie further on.
  if (end != buffer) std::memmove(end, buffer, n);
  dest.pending_size += n;
  dest.position += n;
}

std::uint8_t* reserve_bytes(DestFile& dest, std::uint64_t n) {
  // At most kDestBufferSize bytes are pending, so the room lies inside this many.
  const std::uint64_t needed = kDestBufferSize + std::max<std::uint64_t>(kDestBufferSize, n);
  if (needed > std::numeric_limits<std::size_t>::max()) throw std::bad_alloc();
  grow_pending(dest, static_cast<std::size_t>(needed));
  return dest.pending.get() + dest.pending_size;
}

void put_u32(DestFile& dest, std::uint32_t value) {
  std::uint8_t bytes[4];
  store_u32(bytes, value);
  put_bytes(dest, bytes, sizeof bytes);
}

void seek(DestFile& dest, std::uint64_t offset) {
  flush(dest);
  dest.position = offset;
}

std::uint64_t position(const DestFile& dest) { return dest.position; }

void flush(DestFile& dest) {
  if (dest.pending_size == 0) return;
  // Emptied before the write, so that a failed write is not tried again by a later flush. The
  // bytes themselves stay where they are until something is written after them.
  const std::size_t n = dest.pending_size;
  dest.pending_size = 0;
  platform::write_at(dest.handle, dest.pending_start, dest.pending.get(), n);
}

void close(DestFile& dest) {
  if (!platform::is_open(dest.handle)) return;
  try {
    flush(dest);
  } catch (...) {
    try {
      platform::close_file(dest.handle);
    } catch (...) {
    }
    throw;
  }
  platform::close_file(dest.handle);
}

bool expect_fourcc(SourceFile& source, DestFile& dest, Console& console, FourCC expected,
                   std::string_view message) {
  std::uint8_t bytes[4] = {};
  if (get_bytes(source, bytes, 4) == 4 && load_u32(bytes) == expected) {
    put_bytes(dest, bytes, 4);
    return true;
  }
  report_line(console, {message});
  return false;
}

void report_line(Console& console, std::initializer_list<std::string_view> texts) {
  for (std::string_view text : texts) hold(console, text);
  hold(console, "\n");
  hand_on(console);
}

void report_text(Console& console, std::string_view text) { hold(console, text); }

void report_value(Console& console, std::string_view label, std::uint32_t value) {
  hold(console, label);
  hold(console, std::to_string(value));
  hold(console, "\n");
  hand_on(console);
}

void report_progress(Console& console, const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int size = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (size >= 0 && static_cast<std::size_t>(size) < sizeof text) {
    hold(console, std::string_view(text, static_cast<std::size_t>(size)));
  } else if (size >= 0) {  // a long file name in the text
    std::string long_text(static_cast<std::size_t>(size) + 1, '\0');
    std::vsnprintf(long_text.data(), long_text.size(), format, again);
    long_text.pop_back();
    hold(console, long_text);
  }
  va_end(again);
}

void flush(Console& console) { hand_on(console); }

void report_error_line(Console& console, std::string_view text) {
  hand_on(console);
  if (!console.error) return;
  std::string line(text);
  line += '\n';
  console.error(line);
}

}  // namespace reelfix
