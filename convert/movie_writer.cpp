#include "convert/movie_writer.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "convert/jpeg_fixup.h"

namespace reelfix {
namespace {

constexpr std::uint32_t kAudioChunkTotal = 8 + AUDIO_RATE;  // identifier, size, payload

// Unsigned 8-bit PCM silence, for seconds the source's audio does not cover.
const std::array<std::uint8_t, AUDIO_RATE> kSilence = [] {
  std::array<std::uint8_t, AUDIO_RATE> bytes{};
  bytes.fill(0x80);
  return bytes;
}();

// The longest file whose RIFF size (its length - 8) a 32-bit field holds.
constexpr std::uint64_t kMaxFileLength = std::uint64_t{0xFFFFFFFF} + 8;

// Checks that every frame the movie uses lies inside the source and finds the largest, so the
// staging buffers are made once and every frame fits them whole. The first frame with any
// bytes must open a JPEG picture (FF D8): other video (H.264, raw) would give a movie that
// nothing can show. False with a message when a frame lies beyond the end or is no JPEG.
bool measure_frames(ConversionState& state, std::uint32_t frames, std::uint64_t& largest) {
  const std::uint64_t source_length = length(state.source_file);
  bool picture_checked = false;
  largest = 0;
  for (std::uint32_t k = 0; k < frames; ++k) {
    const SourceFrame& frame = state.source_frames[k];
    std::uint64_t start = state.movi_base + frame.dwChunkOffset + 8;
    if (frame.dwChunkLength > 0 && start + frame.dwChunkLength > source_length) {
      report_progress(state.console,
                      "\nFrame %" PRIu32 " (index entry %" PRIu32 ") lies beyond the end of the "
                      "file. '%s' is damaged.\n",
                      k, frame.index_entry, state.source_name.c_str());
      return false;
    }
    if (!picture_checked && frame.dwChunkLength > 0) {
      picture_checked = true;
      std::uint8_t head[2] = {};
      seek(state.source_file, start);
      get_bytes(state.source_file, head, sizeof head);
      if (frame.dwChunkLength < 2 || head[0] != 0xFF || head[1] != 0xD8) {
        report_progress(state.console,
                        "\nFrame %" PRIu32 " is not a JPEG picture (it does not begin with FF "
                        "D8). The video must be MJPEG.\n",
                        k);
        return false;
      }
    }
    largest = std::max<std::uint64_t>(largest, frame.dwChunkLength);
  }
  return true;
}

// The destination's length as the index tells it, before a frame is read. Whether a frame
// receives the table segment depends on its bytes (an FF DA pair after its first byte), so the
// index gives two bounds: every frame stored as it is, and every frame given the segment.
struct DestinationSize {
  std::uint64_t least = 0;
  std::uint64_t most = 0;
};

DestinationSize destination_size(const ConversionState& state) {
  // The header area, the movie list's head, the audio chunks, the idx1 chunk.
  const std::uint64_t fixed = MOVI_FOURCC_OFFSET + 4 + std::uint64_t{state.seconds} * kAudioChunkTotal +
                              8 + std::uint64_t{state.seconds} * 16 * IndexEntry::kSize;
  DestinationSize size{fixed, fixed};
  for (std::uint32_t k = 0; k < state.seconds * FRAMES_PER_SECOND; ++k) {
    const std::uint32_t length = state.source_frames[k].dwChunkLength;
    size.least += 8 + std::uint64_t{length};
    size.most += 8 + std::uint64_t{fixed_frame_length(length)};
  }
  return size;
}

void write_audio_chunk(ConversionState& state, std::uint32_t second) {
  DestFile& dst = state.dest_file;
  put_u32(dst, fourcc("01wb"));
  put_u32(dst, AUDIO_RATE);
  const std::uint64_t from = std::uint64_t{second} * AUDIO_RATE;
  const std::size_t available = static_cast<std::size_t>(
      std::min<std::uint64_t>(AUDIO_RATE, state.audio_data.size() > from
                                              ? state.audio_data.size() - from
                                              : 0));
  // Past the end of the gathered audio there is no position to point at (a movie without any
  // audio has no buffer at all), so only a second that has audio takes some.
  if (available > 0) put_bytes(dst, state.audio_data.data() + from, available);
  put_bytes(dst, kSilence.data(), AUDIO_RATE - available);
  state.out_index[std::size_t{second} * 16] = {fourcc("01wb"), 0, state.movi_size, AUDIO_RATE};
  state.movi_size += kAudioChunkTotal;
}

}  // namespace

bool write_movie(ConversionState& state) {
  SourceFile& src = state.source_file;
  DestFile& dst = state.dest_file;
  Console& out = state.console;

  state.seconds = std::min(state.frame_count / FRAMES_PER_SECOND, MAX_SECONDS);
  state.movi_size = 4;
  const std::uint32_t frames = state.seconds * FRAMES_PER_SECOND;

  std::uint64_t largest = 0;
  if (!measure_frames(state, frames, largest)) return false;
  // Refused from the index alone when even frames without the segment would pass the limit.
  // Within the frames' 423 bytes of leeway each, the check while writing decides.
  if (destination_size(state).least > kMaxFileLength) {
    report_text(out, "\nThe converted movie would be larger than an AVI file can be (4 GB).\n");
    return false;
  }
  put_u32(dst, fourcc("LIST"));
  put_u32(dst, 0);  // movie list size, patched by finalise_output
  put_u32(dst, fourcc("movi"));
  state.out_index.assign(std::size_t{state.seconds} * 16, IndexEntry{});
  if (state.seconds == 0) return true;
  // Not zeroed: a frame's bytes are read or zeroed before they are used.
  const std::uint64_t input_size = std::max<std::uint64_t>(FRAME_BUFFER_SIZE, largest);
  if (input_size > std::numeric_limits<std::size_t>::max()) throw std::bad_alloc();
  std::unique_ptr<std::uint8_t[]> input(new std::uint8_t[static_cast<std::size_t>(input_size)]);

  const std::uint64_t audio_needed = std::uint64_t{state.seconds} * AUDIO_RATE;
  if (state.audio_data.size() < audio_needed) {
    report_progress(out, "Warning! %" PRIu64 " bytes of audio are missing and are replaced by silence\n",
                    audio_needed - state.audio_data.size());
  }
  // The finished file must stay within what a 32-bit RIFF size can describe. Every chunk,
  // audio or frame, is measured against it before it is written, so the 32-bit movie size
  // never wraps.
  const std::uint64_t size_limit = std::numeric_limits<std::uint32_t>::max() -
                                   MOVI_FOURCC_OFFSET - std::uint64_t{state.seconds} * 256;
  auto fits = [&](std::uint64_t chunk_total) {
    if (state.movi_size + chunk_total <= size_limit) return true;
    report_text(out, "\nThe converted movie would be larger than an AVI file can be (4 GB).\n");
    return false;
  };

  for (std::uint32_t second = 0; second < state.seconds; ++second) {
    report_progress(out, "\rConverting second %" PRIu32 " of %" PRIu32 "..", second + 1,
                    state.seconds);
    if (!fits(kAudioChunkTotal)) return false;
    write_audio_chunk(state, second);
    std::uint64_t video_bytes = 0;  // this second's stored frames
    for (std::uint32_t j = 0; j < FRAMES_PER_SECOND; ++j) {
      const SourceFrame& frame = state.source_frames[std::size_t{second} * FRAMES_PER_SECOND + j];
      seek(src, state.movi_base + frame.dwChunkOffset + 8);
      std::size_t length = frame.dwChunkLength;
      get_bytes_whole(src, input.get(), length);
      // The frame is fixed up right where the destination's buffer takes it in, behind room
      // for the chunk header, so that put_bytes need not copy it again.
      std::uint8_t* output = reserve_bytes(dst, 8 + fixed_frame_length(length)) + 8;
      const std::uint32_t frame_number = second * FRAMES_PER_SECOND + j;
      if (!fix_jpeg_frame(input.get(), output, length)) {
        report_progress(out, "Warning! ffda (start MJPEG scanline) was not found in frame %" PRIu32 "\n",
                        frame_number);
      }
      if (!fits(8 + std::uint64_t{length})) return false;
      put_u32(dst, fourcc("00dc"));
      put_u32(dst, static_cast<std::uint32_t>(length));
      put_bytes(dst, output, length);
      state.out_index[std::size_t{second} * 16 + 1 + j] = {
          fourcc("00dc"), AVIIF_KEYFRAME, state.movi_size, static_cast<std::uint32_t>(length)};
      state.movi_size += static_cast<std::uint32_t>(length) + 8;
      video_bytes += length;
    }
    state.largest_second_video_bytes = std::max(state.largest_second_video_bytes, video_bytes);
    if (video_bytes > MAX_VIDEO_BYTES_PER_SECOND) ++state.seconds_over_video_limit;
  }
  return true;
}

void finalise_output(ConversionState& state) {
  DestFile& dst = state.dest_file;
  const std::uint64_t movie_end = position(dst);
  seek(dst, MOVI_SIZE_OFFSET);
  put_u32(dst, state.movi_size);
  seek(dst, movie_end);

  std::vector<std::uint8_t> index(state.out_index.size() * IndexEntry::kSize);
  for (std::size_t i = 0; i < state.out_index.size(); ++i) {
    encode(state.out_index[i], index.data() + i * IndexEntry::kSize);
  }
  put_u32(dst, fourcc("idx1"));
  put_u32(dst, static_cast<std::uint32_t>(index.size()));
  put_bytes(dst, index.data(), index.size());
  const std::uint64_t file_length = position(dst);

  const std::uint32_t frames = state.seconds * FRAMES_PER_SECOND;
  seek(dst, VIDEO_LENGTH_OFFSET);
  put_u32(dst, frames);
  seek(dst, TOTAL_FRAMES_OFFSET);
  put_u32(dst, frames);
  seek(dst, AUDIO_LENGTH_OFFSET);
  put_u32(dst, state.seconds * AUDIO_RATE);
  seek(dst, RIFF_SIZE_OFFSET);
  put_u32(dst, static_cast<std::uint32_t>(file_length - 8));
}

}  // namespace reelfix
