#include "tests/camera_file_check.h"

#include <cstring>

namespace reelfix::testing {
namespace {

std::uint32_t u32_at(const std::vector<std::uint8_t>& f, std::uint64_t at) {
  return static_cast<std::uint32_t>(f[at]) | (static_cast<std::uint32_t>(f[at + 1]) << 8) |
         (static_cast<std::uint32_t>(f[at + 2]) << 16) |
         (static_cast<std::uint32_t>(f[at + 3]) << 24);
}

bool id_at(const std::vector<std::uint8_t>& f, std::uint64_t at, const char* id) {
  return std::memcmp(f.data() + at, id, 4) == 0;
}

}  // namespace

std::string check_camera_file(const std::vector<std::uint8_t>& f) {
  const std::uint64_t size = f.size();
  if (size < 2068) return "shorter than the header area and an empty movie";
  if (!id_at(f, 0, "RIFF") || !id_at(f, 8, "AVI ")) return "no RIFF AVI header";
  if (u32_at(f, 4) != size - 8) return "RIFF size is not the file length - 8";
  if (!id_at(f, 2048, "LIST") || !id_at(f, 2056, "movi")) return "no movie list at 2048";
  const std::uint64_t movi_size = u32_at(f, 2052);
  const std::uint64_t idx1 = 2056 + movi_size;
  if (idx1 + 8 > size || !id_at(f, idx1, "idx1")) return "no idx1 right behind the movie list";
  const std::uint64_t index_size = u32_at(f, idx1 + 4);
  if (idx1 + 8 + index_size != size) return "the file does not end with the index";
  if (index_size % 256 != 0) return "the index is not whole seconds";
  const std::uint64_t seconds = index_size / 256;
  if (seconds > 180) return "more than 180 seconds";
  if (u32_at(f, 48) != seconds * 15 || u32_at(f, 140) != seconds * 15) {
    return "frame counts do not match the index";
  }
  if (u32_at(f, 264) != seconds * 11024) return "audio length does not match the index";

  std::uint64_t expected_offset = 4;
  for (std::uint64_t i = 0; i < seconds * 16; ++i) {
    const std::uint64_t entry = idx1 + 8 + i * 16;
    const bool audio = i % 16 == 0;
    const char* id = audio ? "01wb" : "00dc";
    const std::uint64_t offset = u32_at(f, entry + 8);
    const std::uint64_t length = u32_at(f, entry + 12);
    const std::string which = "index entry " + std::to_string(i);
    if (!id_at(f, entry, id)) return which + " is not " + id;
    if (u32_at(f, entry + 4) != (audio ? 0u : 0x10u)) return which + " has the wrong flags";
    if (offset != expected_offset) return which + " is not where the chunk before it ends";
    if (audio && length != 11024) return which + " is not 11024 bytes of audio";
    const std::uint64_t chunk = 2056 + offset;
    if (chunk + 8 + length > idx1) return which + " points beyond the movie list";
    if (!id_at(f, chunk, id)) return which + " points at a chunk of another identifier";
    if (u32_at(f, chunk + 4) != length) return which + " and its chunk differ in size";
    expected_offset = offset + 8 + length;
  }
  if (2056 + expected_offset != idx1) return "the movie list holds more than the index lists";
  return "";
}

}  // namespace reelfix::testing
