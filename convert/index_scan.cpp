#include "convert/index_scan.h"

#include <algorithm>
#include <cinttypes>

namespace reelfix {
namespace {

// The most a destination uses: 180 seconds of fifteen frames and 11024 bytes of audio.
constexpr std::uint32_t kMaxFrames = MAX_SECONDS * FRAMES_PER_SECOND;

// The index is read in blocks of this many entries, so memory does not grow with its length.
constexpr std::uint32_t kIndexBlockEntries = 1024;

// The walk reads the source in blocks of this many bytes rather than chunk head by chunk head.
constexpr std::size_t kWalkBlockSize = 16 * 1024;
// Every step of the walk prints a search text, each overwriting the last on the console line,
// up to this many; from then on only every kQuietStepsth step prints one, so that a walk over
// millions of empty chunks does not flood a pipe. No real source takes more than a few steps.
constexpr std::uint64_t kPrintedSteps = 1000;
constexpr std::uint64_t kQuietSteps = 4096;

// Walks the top-level chunks from the source position to the one whose data begins with
// "movi". Every chunk is taken to end exactly 8 + size bytes after its start (no pad byte), and
// positions only grow, so the walk ends at the end of the source at the latest. A chunk whose
// identifier and size are both zero is no chunk but zero-filled space (a sparse, cut or
// damaged file) and ends the walk too. Sets movi_base and the movie list's size; false with the
// message printed when no movie list is found.
bool find_movie_list(ConversionState& state, std::uint64_t source_length,
                     std::uint32_t& movie_list_size) {
  SourceFile& src = state.source_file;
  std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[kWalkBlockSize]);  // not zeroed
  std::uint64_t block_start = 0;
  std::size_t block_size = 0;
  std::uint64_t chunk = position(src);
  for (std::uint64_t step = 0;; ++step) {
    if (chunk + 12 > source_length) break;
    if (step < kPrintedSteps || step % kQuietSteps == 0) {
      report_progress(state.console, "\rSearching for 'movi' at 0x%08" PRIx64 "..", chunk);
    }
    if (chunk < block_start || chunk + 12 > block_start + block_size) {
      seek(src, chunk);
      block_start = chunk;
      block_size = get_bytes(src, block.get(), kWalkBlockSize);
      if (block_size < 12) break;  // the source became shorter meanwhile
    }
    // Identifier (never examined), size, first four data bytes.
    const std::uint8_t* head = block.get() + (chunk - block_start);
    const std::uint32_t size = load_u32(head + 4);
    if (load_u32(head + 8) == fourcc("movi")) {
      state.movi_base = chunk + 8;
      movie_list_size = size;
      return true;
    }
    if (load_u32(head) == 0 && size == 0) break;
    chunk += 8 + std::uint64_t{size};
  }
  report_text(state.console, "\n'movi' section was not found. The file must have movie data.\n");
  return false;
}

// Reads the index, counting the audio bytes and the frames of all its entries and keeping the
// frames that a movie can use.
void load_index(ConversionState& state) {
  state.source_frames.reserve(std::min(state.index_entry_count, kMaxFrames));
  IndexReader reader = start_index_reader(state);
  IndexEntry entry;
  std::uint32_t number = 0;
  while (next_index_entry(state.source_file, reader, entry, number)) {
    if (entry.ckid == fourcc("01wb")) {
      state.audio_bytes += entry.dwChunkLength;
    } else if (entry.ckid == fourcc("00dc")) {
      ++state.frame_count;
      if (state.source_frames.size() < kMaxFrames) {
        state.source_frames.push_back({entry.dwChunkOffset, entry.dwChunkLength, number});
      }
    }
  }
}

}  // namespace

bool scan_source_index(ConversionState& state) {
  SourceFile& src = state.source_file;
  Console& out = state.console;
  const std::uint64_t source_length = length(src);

  seek(src, state.audio_list_pos + state.audio_list_size);
  flush(out);  // the header texts before the first progress text
  std::uint32_t movie_list_size = 0;
  if (!find_movie_list(state, source_length, movie_list_size)) return false;
  report_progress(out, "\r'movi' section found at 0x%08" PRIx64 "   \n", state.movi_base);

  seek(src, state.movi_base + movie_list_size);
  std::uint8_t head[8] = {};
  get_bytes(src, head, sizeof head);
  if (load_u32(head) != fourcc("idx1")) {
    report_text(out, "'idx1' was not found after 'movi' section. The file must have index.\n");
    return false;
  }
  // Only the whole entries that the file holds count, whatever size the chunk declares.
  std::uint64_t declared_entries = load_u32(head + 4) / IndexEntry::kSize;
  state.index_start = position(src);
  std::uint64_t present_entries = source_length > state.index_start
                                      ? (source_length - state.index_start) / IndexEntry::kSize
                                      : 0;
  state.index_entry_count =
      static_cast<std::uint32_t>(std::min(declared_entries, present_entries));
  report_progress(out, "%" PRIu32 " chunks found in AVI index\n", state.index_entry_count);

  load_index(state);
  report_progress(out,
                  "Found %" PRIu64 " bytes of audio data (~%" PRIu64 " seconds) and %" PRIu32
                  " video frames (~%" PRIu32 " seconds)\n",
                  state.audio_bytes, state.audio_bytes / AUDIO_RATE, state.frame_count,
                  state.frame_count / FRAMES_PER_SECOND);
  // A movie of no whole second is one that players refuse to open.
  if (state.frame_count < FRAMES_PER_SECOND) {
    report_progress(out,
                    "\nThe source holds %" PRIu32 " frames; at least %" PRIu32
                    " (one second) are needed.\n",
                    state.frame_count, FRAMES_PER_SECOND);
    return false;
  }
  return true;
}

IndexReader start_index_reader(const ConversionState& state) {
  IndexReader reader;
  reader.next_block = state.index_start;
  reader.unread = state.index_entry_count;
  return reader;
}

bool next_index_entry(SourceFile& source, IndexReader& reader, IndexEntry& entry,
                      std::uint32_t& number) {
  if (reader.block_next == reader.block_size) {
    if (reader.unread == 0) return false;
    const std::uint32_t n = std::min(reader.unread, kIndexBlockEntries);
    // Not zeroed: every entry is read before it is used. The first block is the largest.
    if (!reader.block) reader.block.reset(new std::uint8_t[std::size_t{n} * IndexEntry::kSize]);
    reader.block_size = std::size_t{n} * IndexEntry::kSize;
    seek(source, reader.next_block);
    get_bytes_whole(source, reader.block.get(), reader.block_size);
    reader.next_block += reader.block_size;
    reader.unread -= n;
    reader.block_next = 0;
  }
  entry = decode_index_entry(reader.block.get() + reader.block_next);
  reader.block_next += IndexEntry::kSize;
  number = reader.next_number++;
  return true;
}

bool check_audio(ConversionState& state) {
  SourceFile& src = state.source_file;
  const std::uint32_t seconds = std::min(state.frame_count / FRAMES_PER_SECOND, MAX_SECONDS);
  const std::uint64_t wanted = std::min<std::uint64_t>(state.audio_bytes,
                                                       std::uint64_t{seconds} * AUDIO_RATE);
  const std::uint64_t source_length = length(src);
  std::uint64_t taken = 0;
  IndexReader reader = start_index_reader(state);
  IndexEntry entry;
  std::uint32_t number = 0;
  while (taken < wanted && next_index_entry(src, reader, entry, number)) {
    if (entry.ckid != fourcc("01wb")) continue;
    std::uint64_t n = std::min<std::uint64_t>(entry.dwChunkLength, wanted - taken);
    std::uint64_t start = state.movi_base + entry.dwChunkOffset + 8;
    if (n > 0 && start + n > source_length) {
      report_progress(state.console,
                      "\nThe audio chunk of index entry %" PRIu32 " lies beyond the end of the "
                      "file. '%s' is damaged.\n",
                      number, state.source_name.c_str());
      return false;
    }
    taken += n;
  }
  report_text(state.console, "Audio data has been read successfully.\n");
  return true;
}

}  // namespace reelfix
