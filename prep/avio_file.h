// FFmpeg reads the input and writes the intermediate movie through the platform layer's files,
// as every other file of the program is read and written: an input is opened only when it is a
// regular file (a named pipe would block), the intermediate is the exclusive temporary file that
// an interruption removes, and a failed system call keeps its reason for the message.
#pragma once

extern "C" {
#include <libavformat/avio.h>
}

#include <cstdint>
#include <memory>
#include <optional>

#include "platform/file.h"

namespace reelfix::prep {

// One open file as FFmpeg's I/O context sees it.
struct AvioFile {
  platform::FileHandle handle;
  std::uint64_t position = 0;  // where FFmpeg reads or writes next
  // The first failure of a system call. FFmpeg is told only "I/O error"; the caller rethrows
  // this when an FFmpeg call fails, so the message names the file and the system's reason.
  std::optional<platform::FileError> failure;
};

struct AvioFreer {
  void operator()(AVIOContext* context) const;
};
using AvioPtr = std::unique_ptr<AVIOContext, AvioFreer>;

// An I/O context that reads `file` (open for reading) or writes it, seekable either way. The
// file must stay where it is while the context lives.
AvioPtr make_reading_context(AvioFile& file);
AvioPtr make_writing_context(AvioFile& file);

// Throws the kept failure, if any. For the caller of an FFmpeg call that failed.
void rethrow_failure(const AvioFile& file);

// Closes the file, if open, when its context is gone; a failure to close costs nothing here (the
// file was only read, or is removed next).
void close_quietly(AvioFile& file) noexcept;

}  // namespace reelfix::prep
