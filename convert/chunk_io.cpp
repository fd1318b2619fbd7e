#include "convert/chunk_io.h"

#include <cstdio>
#include <cstring>

#include "platform/console.h"

namespace reelfix {
namespace {

// Small writes are copied into a buffer of this size; larger ones go to the system at once.
// Where the pieces cannot be written in one gather (Windows), every byte passes through it,
// so it is larger there.
constexpr std::size_t kCopyBufferSize = (platform::kWritesGathered ? 64 : 256) * 1024;
// Pending pieces are handed on at this many, the most one gather takes on Linux.
constexpr std::size_t kMaxPendingPieces = 1024;
// Held console text goes out when it grows past this, as a full stdio buffer would.
constexpr std::size_t kConsoleBufferSize = 64 * 1024;

// Adds n bytes at `data` to the pending ones, as one more piece or, when they follow the last
// piece in memory, as part of it.
void add_piece(DestFile& dest, const void* data, std::size_t n) {
  if (dest.pending.empty()) dest.pending_start = dest.position;
  if (!dest.pending.empty()) {
    platform::ByteRange& last = dest.pending.back();
    if (static_cast<const std::uint8_t*>(last.data) + last.size == data) {
      last.size += n;
      dest.position += n;
      return;
    }
  }
  if (dest.pending.capacity() == 0) dest.pending.reserve(kMaxPendingPieces);
  dest.pending.push_back({data, n});
  dest.position += n;
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
  if (get_bytes(source, buffer, n) < n) {
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
  if (dest.copies_size + n > kCopyBufferSize || dest.pending.size() == kMaxPendingPieces) {
    flush(dest);
  }
  if (n >= kCopyBufferSize) {  // large blocks go straight to the system
    platform::write_at(dest.handle, dest.position, buffer, n);
    dest.position += n;
    return;
  }
  // Not zeroed: only bytes that were written are ever handed on.
  if (!dest.copies) dest.copies.reset(new std::uint8_t[kCopyBufferSize]);
  std::uint8_t* copy = dest.copies.get() + dest.copies_size;
  std::memcpy(copy, buffer, n);
  dest.copies_size += n;
  add_piece(dest, copy, n);
}

void put_view(DestFile& dest, const void* buffer, std::size_t n) {
  if constexpr (!platform::kWritesGathered) {
    put_bytes(dest, buffer, n);
  } else {
    if (n == 0) return;
    if (dest.pending.size() == kMaxPendingPieces) flush(dest);
    add_piece(dest, buffer, n);
  }
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
  if (dest.pending.empty()) return;
  // Emptied however the write ends, so that a failed write is not tried again by a later flush.
  struct Emptied {
    DestFile& dest;
    ~Emptied() {
      dest.pending.clear();
      dest.copies_size = 0;
    }
  } emptied{dest};
  platform::write_gather_at(dest.handle, dest.pending_start, dest.pending.data(),
                            dest.pending.size());
}

bool preallocate(DestFile& dest, std::uint64_t n) { return platform::preallocate(dest.handle, n); }

void set_length(DestFile& dest, std::uint64_t n) {
  flush(dest);
  platform::set_length(dest.handle, n);
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
