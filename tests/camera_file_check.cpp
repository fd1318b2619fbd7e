#include "tests/camera_file_check.h"

#include <algorithm>
#include <cstring>

#include "convert/camera_layout.h"

namespace reelfix::testing {
namespace {

struct Reader {
  const std::vector<std::uint8_t>& file;
  bool holds(std::uint64_t offset, std::uint64_t n) const {
    return offset <= file.size() && n <= file.size() - offset;
  }
  std::uint32_t u32(std::uint64_t offset) const { return load_u32(file.data() + offset); }
  bool id(std::uint64_t offset, const char (&text)[5]) const {
    return std::memcmp(file.data() + offset, text, 4) == 0;
  }
};

std::string at(const char* what, std::uint64_t offset) {
  return std::string(what) + " (at " + std::to_string(offset) + ")";
}

}  // namespace

std::string check_camera_file(const std::vector<std::uint8_t>& file) {
  const Reader r{file};
  // The header area, the movie list's head and the index's head.
  if (!r.holds(0, MOVI_FOURCC_OFFSET + 4 + 8)) return "shorter than the header area";
  if (!r.id(0, "RIFF") || !r.id(8, "AVI ")) return "no RIFF AVI signature";
  if (r.u32(RIFF_SIZE_OFFSET) != file.size() - 8) return "RIFF size is not the length - 8";
  if (!r.id(12, "LIST") || r.u32(16) != HDRL_LIST_SIZE || !r.id(20, "hdrl") || !r.id(24, "avih"))
    return "no hdrl list of the camera's size at 12";
  if (!r.id(88, "LIST") || !r.id(212, "LIST") || !r.id(METADATA_OFFSET, "IDIT"))
    return "the stream lists or the IDIT chunk are not in place";
  if (!r.id(346, "LIST") || !r.id(354, "INFO")) return "no INFO list at 346";
  if (!r.id(378, "JUNK") || 378 + 8 + r.u32(382) != HEADER_AREA_SIZE)
    return "the JUNK chunk does not end the header area at 2048";
  if (std::any_of(file.begin() + FILLER_OFFSET, file.begin() + HEADER_AREA_SIZE,
                  [](std::uint8_t b) { return b != 0; }))
    return "the JUNK filler is not zeros";
  if (!r.id(HEADER_AREA_SIZE, "LIST") || !r.id(MOVI_FOURCC_OFFSET, "movi"))
    return "no movie list at 2048";

  const std::uint64_t movi_size = r.u32(MOVI_SIZE_OFFSET);
  const std::uint64_t idx1 = MOVI_FOURCC_OFFSET + movi_size;
  if (movi_size < 4 || !r.holds(idx1, 8)) return "the movie list size points behind the file";
  if (!r.id(idx1, "idx1")) return at("no idx1 chunk right behind the movie list", idx1);
  const std::uint64_t idx1_size = r.u32(idx1 + 4);
  if (idx1 + 8 + idx1_size != file.size()) return "the file does not end with the index";
  if (idx1_size % (16 * IndexEntry::kSize) != 0) return "the index is not whole seconds";

  // Every entry names the chunk that lies where it points, the chunks lie back to back in
  // index order, and each second is one audio chunk and fifteen frames.
  const std::uint64_t entries = idx1_size / IndexEntry::kSize;
  std::uint64_t expected_offset = 4;  // the first chunk follows the "movi" FOURCC
  for (std::uint64_t i = 0; i < entries; ++i) {
    const IndexEntry e = decode_index_entry(file.data() + idx1 + 8 + i * IndexEntry::kSize);
    const bool audio = i % 16 == 0;
    if (audio && (e.ckid != fourcc("01wb") || e.dwChunkLength != AUDIO_RATE || e.dwFlags != 0))
      return at("a second does not start with a 01wb entry of 11024 bytes", i);
    if (!audio && (e.ckid != fourcc("00dc") || e.dwFlags != AVIIF_KEYFRAME))
      return at("a second does not go on with fifteen 00dc keyframe entries", i);
    if (e.dwChunkOffset != expected_offset) return at("an index entry skips or overlaps", i);
    const std::uint64_t chunk = MOVI_FOURCC_OFFSET + e.dwChunkOffset;
    if (chunk + 8 + e.dwChunkLength > idx1) return at("an entry points behind the movie list", i);
    if (r.u32(chunk) != e.ckid || r.u32(chunk + 4) != e.dwChunkLength)
      return at("an entry does not match its chunk", i);
    expected_offset += 8 + std::uint64_t{e.dwChunkLength};
  }
  if (expected_offset != movi_size) return "the movie list holds more than the index lists";

  const std::uint64_t seconds = entries / 16;
  if (r.u32(TOTAL_FRAMES_OFFSET) != seconds * FRAMES_PER_SECOND ||
      r.u32(VIDEO_LENGTH_OFFSET) != seconds * FRAMES_PER_SECOND)
    return "the frame counts do not match the index";
  if (r.u32(AUDIO_LENGTH_OFFSET) != seconds * AUDIO_RATE)
    return "the audio length does not match the index";
  return "";
}

}  // namespace reelfix::testing
