// Files as the conversion needs them from the operating system: a source opened for reading
// while others may read and write it, a destination written under a temporary name beside its
// final name and put in place only when it is complete, positioned reads and writes, lengths,
// and the identity of two names. Every call that can fail on an open file throws FileError;
// opening and creating report failure through their result instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace reelfix::platform {

// A system call on an open file failed. Carries what was attempted ("reading", "writing"...),
// the file's name as the user gave it, and the system's reason in words.
struct FileError : std::runtime_error {
  FileError(std::string operation, std::string file_name, std::string reason);
  std::string operation;
  std::string file_name;
  std::string reason;
};

// An open file, or none. `native` is a descriptor on POSIX and a HANDLE on Windows.
struct FileHandle {
  std::intptr_t native = -1;  // -1 while closed
  std::string name;           // the name used in messages (the user's name, never a temp name)
};

bool is_open(const FileHandle& file);

// Opens an existing file read-only; others may read and write it meanwhile. False when the
// file is missing, is no regular file (a directory, a pipe, a device), or may not be read;
// `reason` then says why in the system's words.
bool open_for_reading(FileHandle& file, const std::string& name, std::string& reason);

// Reads up to n bytes at offset. Returns the number read: fewer at the end of the file and 0 at
// or behind it, which is no error.
std::size_t read_at(FileHandle& file, std::uint64_t offset, void* buffer, std::size_t n);

// Writes all n bytes at offset, extending the file; a gap behind the old end reads as zeros.
// A write the system completes only in part (disk full, file size limit) throws.
void write_at(FileHandle& file, std::uint64_t offset, const void* buffer, std::size_t n);

// Bytes somewhere in memory, to be written with others in one gather.
struct ByteRange {
  const void* data;
  std::size_t size;
};

// Whether write_gather_at hands many ranges to the system in one call (POSIX pwritev). Where
// it does not (Windows), a caller does better to copy small pieces into one buffer itself.
#ifdef _WIN32
inline constexpr bool kWritesGathered = false;
#else
inline constexpr bool kWritesGathered = true;
#endif

// Writes the ranges one after the other from offset, all their bytes, as write_at does.
void write_gather_at(FileHandle& file, std::uint64_t offset, const ByteRange* ranges,
                     std::size_t count);

// Sets aside room on the disk for the first n bytes of the file without changing its length,
// so that the writes that follow need not find room block by block. False, and nothing done,
// where the file system cannot; a full disk (or quota) throws, at once rather than in the
// middle of the writes.
bool preallocate(FileHandle& file, std::uint64_t n);

// Makes the file n bytes long, releasing room set aside behind its end.
void set_length(FileHandle& file, std::uint64_t n);

std::uint64_t file_length(FileHandle& file);

// Closes the file if one is open. The handle is closed afterwards even when the system
// reports a failure, which then throws.
void close_file(FileHandle& file);

// Creates a new, empty file with a unique name in the directory of dest_name, exclusively, for
// writing; `file.name` is set to dest_name for messages and temp_path to the new file's path.
// False when dest_name is a directory or an existing file that may not be written, or the
// temporary file cannot be made (missing directory, no permission); `reason` then says why in
// the system's words. While the file exists, a terminating signal (SIGINT, SIGTERM, SIGHUP,
// SIGQUIT and the others a process may catch) or a console break removes it before the
// process ends; up to four such files at once.
bool create_temporary_beside(const std::string& dest_name, FileHandle& file,
                             std::string& temp_path, std::string& reason);

// The longest file name (one part of a path) and the longest path, in bytes, that the system
// takes. Windows counts UTF-16 units, of which a name has never more than it has UTF-8 bytes.
inline constexpr std::size_t kMaxNameBytes = 255;
#ifdef _WIN32
inline constexpr std::size_t kMaxPathBytes = 259;  // MAX_PATH, without the terminating zero
#else
inline constexpr std::size_t kMaxPathBytes = 4095;  // Linux's PATH_MAX, without the zero
#endif

// A name for a temporary file beside dest_name, in its directory: dest_name followed by
// ".reelfix-", eight random letters and digits, and ".tmp". Where that would be longer than
// a name or a path may be, the part taken from the destination's own name is cut short (at a
// character's boundary). Not yet taken, most likely.
std::string temporary_name_beside(const std::string& dest_name);

// Puts the closed temporary file in place of dest_name in one step, replacing a file of that
// name. Throws FileError naming dest_name when the system refuses.
void replace_with_temporary(const std::string& temp_path, const std::string& dest_name);

// Removes a temporary file; never throws. Also ends its removal on interruption.
void remove_temporary(const std::string& temp_path) noexcept;

// A text for standard error when an interruption removes the temporary files, just before the
// process ends (what was completed, for instance); empty for none, as at the start. At most
// 8192 bytes of it are kept.
void set_interruption_note(const std::string& text);

// True when something stands at the name: a file, a directory, a link (even a broken one).
bool name_exists(const std::string& name);

// True when both names denote one existing file (a link, another path to it).
bool same_existing_file(const std::string& a, const std::string& b);

// True when the two names are one name as the platform compares file names: byte for byte on
// POSIX systems, where whether case matters is the file system's affair (same_existing_file
// asks it); without regard to case on Windows, as NTFS and FAT compare names.
bool same_file_name(const std::string& a, const std::string& b);

// True when the two names lead to one file: they are one name (same_file_name), or two names
// of one existing file (same_existing_file).
bool same_file(const std::string& a, const std::string& b);

// The reason given when a name that must be a regular file is something else.
inline constexpr char kNotARegularFile[] = "Not a regular file";

}  // namespace reelfix::platform
