// The primitives every phase reads, writes and prints with.
//
// The source is read at a position that the reader keeps itself: a seek costs nothing, may
// point beyond the end, and a read there delivers fewer bytes or none, which is no error (the
// phases decide for themselves whether the bytes they did not get matter). The destination is
// a private temporary file while it is written, so its writes are held and handed to the
// system in large blocks; a seek or a flush hands them on first. Small writes are copied into
// a buffer; bytes lent with put_view are written from where they lie, in one gather with the
// rest (on Windows they are copied too). A write behind the end extends the file, and the gap
// reads as zeros.
//
// All text for standard output passes through one buffer, so it comes out in exactly the order
// of the calls whichever primitive wrote it.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "convert/little_endian.h"
#include "platform/file.h"

namespace reelfix {

struct SourceFile {
  platform::FileHandle handle;
  std::uint64_t position = 0;
};

struct DestFile {
  platform::FileHandle handle;
  std::uint64_t position = 0;       // where the next byte goes
  std::uint64_t pending_start = 0;  // file offset of the first pending byte
  // Written but not yet handed to the system, in file order: pieces of `copies` and lent bytes.
  std::vector<platform::ByteRange> pending;
  std::unique_ptr<std::uint8_t[]> copies;  // allocated once; copies_size bytes in use
  std::size_t copies_size = 0;
};

// Standard output's one buffer, and where its text goes. Tests give their own sinks.
struct Console {
  std::string held;  // text given but not yet handed on
  std::function<bool(std::string_view)> output;  // standard output; false when it failed
  std::function<bool(std::string_view)> error;   // standard error
  bool output_failed = false;  // once a hand-over failed, later text is dropped
};

// A console on the process's standard output and standard error.
Console standard_console();

// Opens the source for reading (others may read and write it meanwhile); false when it cannot,
// with the system's reason in `reason`.
bool open_source(SourceFile& source, const std::string& name, std::string& reason);

// Reads up to n bytes at the position and moves on by the number read, which is returned.
// Fewer at the end of the source, 0 at or behind it; the rest of the buffer is left alone.
std::size_t get_bytes(SourceFile& source, void* buffer, std::size_t n);

// Reads exactly n bytes at the position, bytes the conversion has already found inside the
// source. Fewer mean that another program cut the file meanwhile: FileError.
void get_bytes_whole(SourceFile& source, void* buffer, std::size_t n);

void seek(SourceFile& source, std::uint64_t offset);
std::uint64_t position(const SourceFile& source);
std::uint64_t length(SourceFile& source);
void close(SourceFile& source);

// Writes n bytes at the position and moves on by n. The bytes are copied (or written at once).
void put_bytes(DestFile& dest, const void* buffer, std::size_t n);
// The same, but the n bytes are lent, not copied: they must stay as they are until the next
// flush, seek or close of the destination, which hands them to the system.
void put_view(DestFile& dest, const void* buffer, std::size_t n);
// Writes the value as four bytes, least significant first.
void put_u32(DestFile& dest, std::uint32_t value);
// Moves the position; pending bytes are handed to the system first.
void seek(DestFile& dest, std::uint64_t offset);
std::uint64_t position(const DestFile& dest);
// Hands the pending bytes to the system.
void flush(DestFile& dest);
// Sets room aside on the disk for a destination of n bytes (see platform::preallocate); false
// where the file system cannot.
bool preallocate(DestFile& dest, std::uint64_t n);
// Flushes, then makes the destination n bytes long, which releases room set aside behind it.
void set_length(DestFile& dest, std::uint64_t n);
// Flushes and closes; the handle is closed afterwards even when that throws.
void close(DestFile& dest);

// Reads four bytes from the source. When they are the expected FOURCC they are copied to the
// destination and the result is true. Otherwise the message is printed as a line, nothing is
// written, and the result is false; the up to four bytes read stay consumed.
bool expect_fourcc(SourceFile& source, DestFile& dest, Console& console, FourCC expected,
                   std::string_view message);

// The texts one after the other, a line feed, then a flush.
void report_line(Console& console, std::initializer_list<std::string_view> texts);
// The text as it is: no line end added, no flush.
void report_text(Console& console, std::string_view text);
// The label, the value as an unsigned decimal number, a line feed, then a flush.
void report_value(Console& console, std::string_view label, std::uint32_t value);
// printf-style text; no line end added, no flush.
void report_progress(Console& console, const char* format, ...)
#if defined(__MINGW32__)
    // mingw-w64's C99 printf (the one std::vsnprintf is with libstdc++), which knows %zu;
    // plain `printf` would check against the old msvcrt's.
    __attribute__((format(__MINGW_PRINTF_FORMAT, 2, 3)))
#elif defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
// Hands all held text to standard output.
void flush(Console& console);
// Flushes standard output, then writes the line and a line feed to standard error.
void report_error_line(Console& console, std::string_view text);

}  // namespace reelfix
