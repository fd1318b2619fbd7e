#include "convert/movie_writer.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "convert/index_scan.h"
#include "convert/jpeg_fixup.h"
#include "platform/memory.h"

namespace reelfix {
namespace {

constexpr std::uint32_t kAudioChunkTotal = 8 + AUDIO_RATE;  // identifier, size, payload

// Unsigned 8-bit PCM silence, for seconds the source's audio does not cover.
const std::array<std::uint8_t, AUDIO_RATE> kSilence = [] {
  std::array<std::uint8_t, AUDIO_RATE> bytes{};
  bytes.fill(0x80);
  return bytes;
}();

// The pad bytes behind a frame that receives the segment, up to its rounded length.
const std::array<std::uint8_t, 3> kPadding{};

// The longest file whose RIFF size (its length - 8) a 32-bit field holds.
constexpr std::uint64_t kMaxFileLength = std::uint64_t{0xFFFFFFFF} + 8;

// The window holds this many bytes of the source: a second of the movie (fifteen frames and its
// audio) usually lies in a few hundred KiB of the source, read at once. A larger frame passes
// through it in pieces. It is made present in one call, since a page fault for each page costs
// more than the reads themselves on some systems.
constexpr std::size_t kWindowSize = 1 << 20;

// Bytes of the source: where they begin and how many.
struct Piece {
  std::uint64_t offset = 0;
  std::size_t size = 0;
};

// Checks that every frame the movie uses lies inside the source. The first frame with any
// bytes must open a JPEG picture (FF D8): other video (H.264, raw) would give a movie that
// nothing can show. False with a message when a frame lies beyond the end or is no JPEG.
bool check_frames(ConversionState& state, std::uint32_t frames) {
  const std::uint64_t source_length = length(state.source_file);
  bool picture_checked = false;
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

// The audio the movie takes from the source: the first `left` bytes of the "01wb" chunks in
// index order, read from the index again as the seconds need them.
struct AudioStream {
  IndexReader reader;
  std::uint64_t left = 0;           // bytes still to be taken
  std::uint64_t chunk_offset = 0;   // source offset of the rest of the current chunk
  std::uint64_t chunk_left = 0;     // and its length
};

// Adds the pieces of one second's audio, at most AUDIO_RATE bytes, to `pieces`; returns their
// length. check_audio has found them all inside the source.
std::size_t take_second_of_audio(ConversionState& state, AudioStream& audio,
                                 std::vector<Piece>& pieces) {
  std::size_t taken = 0;
  while (taken < AUDIO_RATE && audio.left > 0) {
    if (audio.chunk_left == 0) {
      IndexEntry entry;
      std::uint32_t number = 0;
      if (!next_index_entry(state.source_file, audio.reader, entry, number)) break;
      if (entry.ckid == fourcc("01wb")) {
        audio.chunk_offset = state.movi_base + entry.dwChunkOffset + 8;
        audio.chunk_left = entry.dwChunkLength;
      }
      continue;
    }
    const std::size_t n = static_cast<std::size_t>(
        std::min({audio.chunk_left, std::uint64_t{AUDIO_RATE - taken}, audio.left}));
    pieces.push_back({audio.chunk_offset, n});
    audio.chunk_offset += n;
    audio.chunk_left -= n;
    audio.left -= n;
    taken += n;
  }
  return taken;
}

// Makes the window hold the n bytes of the source at `offset`, for a second whose frames and
// audio lie close together: unless the region read last holds them, the destination is
// flushed (its pending writes may point into the buffer) and they are read to the buffer's
// start, where the part of them that the last region held is moved rather than read again.
// One read a second, and the second's bytes are written while they are still in the
// processor's cache. The bytes were found inside the source before, so fewer mean that the
// file was cut meanwhile.
void window_hold(ConversionState& state, std::uint64_t offset, std::size_t n) {
  SourceWindow& window = state.window;
  const std::uint64_t region_end = window.region_start + window.region_size;
  if (offset >= window.region_start && offset + n <= region_end) return;
  flush(state.dest_file);
  std::size_t kept = 0;
  if (offset >= window.region_start && offset < region_end) {
    kept = static_cast<std::size_t>(region_end - offset);
    std::memmove(window.bytes.get(),
                 window.bytes.get() + window.region_at + (offset - window.region_start), kept);
  }
  seek(state.source_file, offset + kept);
  get_bytes_whole(state.source_file, window.bytes.get() + kept, n - kept);
  window.region_start = offset;
  window.region_at = 0;
  window.region_size = n;
  window.used = n;
}

// The n bytes of the source at `offset`: from the region read last when it holds them,
// otherwise read by themselves into the free part of the buffer, which starts over (after a
// flush of the destination) when it is full.
const std::uint8_t* window_take(ConversionState& state, std::uint64_t offset, std::size_t n) {
  SourceWindow& window = state.window;
  if (offset >= window.region_start && offset + n <= window.region_start + window.region_size) {
    return window.bytes.get() + window.region_at + (offset - window.region_start);
  }
  if (window.used + n > window.capacity) {
    flush(state.dest_file);
    window.used = 0;
  }
  seek(state.source_file, offset);
  get_bytes_whole(state.source_file, window.bytes.get() + window.used, n);
  window.region_start = offset;
  window.region_at = window.used;
  window.region_size = n;
  window.used += n;
  return window.bytes.get() + window.region_at;
}

// A frame larger than the window goes through it in pieces, twice: once to find where the
// segment goes, once to write it, so that memory stays the window's whatever a frame's size.
std::size_t large_frame_segment_position(ConversionState& state, std::uint64_t offset,
                                         std::size_t n) {
  ScanFinder finder = start_scan_finder(n);
  for (std::size_t done = 0; !scan_found(finder);) {
    const std::size_t k = std::min(state.window.capacity, n - done);
    feed_scan_finder(finder, window_take(state, offset + done, k), k);
    done += k;
  }
  return segment_position(finder);
}

void put_large_frame_bytes(ConversionState& state, std::uint64_t offset, std::size_t n) {
  for (std::size_t done = 0; done < n;) {
    const std::size_t k = std::min(state.window.capacity, n - done);
    put_view(state.dest_file, window_take(state, offset + done, k), k);
    done += k;
  }
}

}  // namespace

bool write_movie(ConversionState& state) {
  DestFile& dst = state.dest_file;
  Console& out = state.console;

  state.seconds = std::min(state.frame_count / FRAMES_PER_SECOND, MAX_SECONDS);
  state.movi_size = 4;
  const std::uint32_t frames = state.seconds * FRAMES_PER_SECOND;

  if (!check_frames(state, frames)) return false;
  // Refused from the index alone when even frames without the segment would pass the limit.
  // Within the frames' 423 bytes of leeway each, the check while writing decides.
  const DestinationSize size = destination_size(state);
  if (size.least > kMaxFileLength) {
    report_text(out, "\nThe converted movie would be larger than an AVI file can be (4 GB).\n");
    return false;
  }
  put_u32(dst, fourcc("LIST"));
  put_u32(dst, 0);  // movie list size, patched by finalise_output
  put_u32(dst, fourcc("movi"));
  state.out_index.assign(std::size_t{state.seconds} * 16, IndexEntry{});
  if (state.seconds == 0) return true;

  // Room on the disk for the longest the movie can be; when the disk has not that much, for
  // the shortest, which the movie needs in any case. finalise_output releases what is left.
  try {
    preallocate(dst, size.most);
  } catch (const platform::FileError&) {
    preallocate(dst, size.least);
  }
  // Not zeroed: only bytes read into it are used.
  SourceWindow& window = state.window;
  window.capacity = kWindowSize;
  window.bytes.reset(new std::uint8_t[window.capacity]);
  platform::prefault(window.bytes.get(), window.capacity);

  AudioStream audio{start_index_reader(state), 0, 0, 0};
  const std::uint64_t audio_needed = std::uint64_t{state.seconds} * AUDIO_RATE;
  audio.left = std::min(state.audio_bytes, audio_needed);
  if (audio.left < audio_needed) {
    report_progress(out, "Warning! %" PRIu64 " bytes of audio are missing and are replaced by silence\n",
                    audio_needed - audio.left);
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

  std::vector<Piece> audio_pieces;
  for (std::uint32_t second = 0; second < state.seconds; ++second) {
    report_progress(out, "\rConverting second %" PRIu32 " of %" PRIu32 "..", second + 1,
                    state.seconds);
    const SourceFrame* frame = &state.source_frames[std::size_t{second} * FRAMES_PER_SECOND];
    audio_pieces.clear();
    const std::size_t audio_size = take_second_of_audio(state, audio, audio_pieces);

    // Where the second's frames and audio lie in the source. When they lie close together
    // (in one window, with at most as much else between them), that part of the source is
    // read at once; otherwise (a badly interleaved source) each piece is read by itself.
    std::uint64_t low = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t high = 0;
    std::uint64_t needed = 0;
    auto span = [&](std::uint64_t offset, std::size_t n) {
      if (n == 0) return;
      low = std::min(low, offset);
      high = std::max(high, offset + n);
      needed += n;
    };
    for (const Piece& piece : audio_pieces) span(piece.offset, piece.size);
    for (std::uint32_t j = 0; j < FRAMES_PER_SECOND; ++j) {
      span(state.movi_base + frame[j].dwChunkOffset + 8, frame[j].dwChunkLength);
    }
    if (high > low && high - low <= window.capacity && high - low <= 2 * needed) {
      window_hold(state, low, static_cast<std::size_t>(high - low));
    }

    if (!fits(kAudioChunkTotal)) return false;
    put_u32(dst, fourcc("01wb"));
    put_u32(dst, AUDIO_RATE);
    for (const Piece& piece : audio_pieces) {
      put_view(dst, window_take(state, piece.offset, piece.size), piece.size);
    }
    put_view(dst, kSilence.data(), AUDIO_RATE - audio_size);
    state.out_index[std::size_t{second} * 16] = {fourcc("01wb"), 0, state.movi_size, AUDIO_RATE};
    state.movi_size += kAudioChunkTotal;

    std::uint64_t video_bytes = 0;  // this second's stored frames
    for (std::uint32_t j = 0; j < FRAMES_PER_SECOND; ++j) {
      const std::size_t n = frame[j].dwChunkLength;
      const std::uint64_t at = state.movi_base + frame[j].dwChunkOffset + 8;
      const bool large = n > window.capacity;
      const std::uint8_t* bytes = n == 0 || large ? nullptr : window_take(state, at, n);
      // The frame goes out in pieces from the window: the bytes before its start-of-scan
      // marker, the table segment, the rest and the padding up to the rounded length.
      const std::size_t scan = n == 0  ? 0
                               : large ? large_frame_segment_position(state, at, n)
                                       : segment_position(bytes, n);
      auto put_frame_bytes = [&](std::size_t from, std::size_t count) {
        if (large) {
          put_large_frame_bytes(state, at + from, count);
        } else {
          put_view(dst, bytes + from, count);
        }
      };
      const bool inserted = scan < n;
      const std::size_t length = inserted ? fixed_frame_length(n) : n;
      if (!inserted) {
        report_progress(out, "Warning! ffda (start MJPEG scanline) was not found in frame %" PRIu32 "\n",
                        second * FRAMES_PER_SECOND + j);
      }
      if (!fits(8 + std::uint64_t{length})) return false;
      put_u32(dst, fourcc("00dc"));
      put_u32(dst, static_cast<std::uint32_t>(length));
      if (inserted) {
        put_frame_bytes(0, scan);
        put_view(dst, kHuffmanSegment.data(), HUFFMAN_SEGMENT_SIZE);
        put_frame_bytes(scan, n - scan);
        put_view(dst, kPadding.data(), length - n - HUFFMAN_SEGMENT_SIZE);
      } else {
        put_frame_bytes(0, n);
      }
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
  put_view(dst, index.data(), index.size());  // handed on by the next seek, while it exists
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
  // The room set aside for frames that did not receive the segment goes back to the disk.
  set_length(dst, file_length);
}

}  // namespace reelfix
