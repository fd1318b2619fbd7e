#include "prep/avio_file.h"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

#include <cstdio>
#include <new>

namespace reelfix::prep {
namespace {

// FFmpeg's buffer between its parsers or muxers and the callbacks below.
constexpr int kBufferSize = 256 * 1024;

// The callbacks are called from C: a failure must not leave them as an exception.
extern "C" int read_packet(void* opaque, std::uint8_t* buffer, int size) {
  auto& file = *static_cast<AvioFile*>(opaque);
  try {
    std::size_t got =
        platform::read_at(file.handle, file.position, buffer, static_cast<std::size_t>(size));
    file.position += got;
    return got == 0 ? AVERROR_EOF : static_cast<int>(got);
  } catch (const platform::FileError& error) {
    if (!file.failure) file.failure = error;
    return AVERROR(EIO);
  }
}

extern "C" int write_packet(void* opaque, std::uint8_t* buffer, int size) {
  auto& file = *static_cast<AvioFile*>(opaque);
  try {
    platform::write_at(file.handle, file.position, buffer, static_cast<std::size_t>(size));
    file.position += static_cast<std::uint64_t>(size);
    return size;
  } catch (const platform::FileError& error) {
    if (!file.failure) file.failure = error;
    return AVERROR(EIO);
  }
}

extern "C" std::int64_t seek(void* opaque, std::int64_t offset, int whence) {
  auto& file = *static_cast<AvioFile*>(opaque);
  try {
    const int how = whence & ~AVSEEK_FORCE;
    std::int64_t base = 0;
    if (how == AVSEEK_SIZE || how == SEEK_END) {
      // Writes reach the file at once, so its length is what FFmpeg has written so far.
      base = static_cast<std::int64_t>(platform::file_length(file.handle));
      if (how == AVSEEK_SIZE) return base;
    } else if (how == SEEK_CUR) {
      base = static_cast<std::int64_t>(file.position);
    } else if (how != SEEK_SET) {
      return AVERROR(EINVAL);
    }
    if (offset < -base) return AVERROR(EINVAL);
    file.position = static_cast<std::uint64_t>(base + offset);
    return static_cast<std::int64_t>(file.position);
  } catch (const platform::FileError& error) {
    if (!file.failure) file.failure = error;
    return AVERROR(EIO);
  }
}

AvioPtr make_context(AvioFile& file, bool writing) {
  auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
  if (buffer == nullptr) throw std::bad_alloc();
  AVIOContext* context =
      avio_alloc_context(buffer, kBufferSize, writing ? 1 : 0, &file,
                         writing ? nullptr : read_packet, writing ? write_packet : nullptr, seek);
  if (context == nullptr) {
    av_free(buffer);
    throw std::bad_alloc();
  }
  return AvioPtr(context);
}

}  // namespace

void AvioFreer::operator()(AVIOContext* context) const {
  // The buffer may have been replaced by FFmpeg; the context's own pointer is the one to free.
  av_freep(&context->buffer);
  avio_context_free(&context);
}

AvioPtr make_reading_context(AvioFile& file) { return make_context(file, false); }

AvioPtr make_writing_context(AvioFile& file) { return make_context(file, true); }

void rethrow_failure(const AvioFile& file) {
  if (file.failure) throw *file.failure;
}

void close_quietly(AvioFile& file) noexcept {
  try {
    platform::close_file(file.handle);
  } catch (const platform::FileError&) {
  }
}

}  // namespace reelfix::prep
