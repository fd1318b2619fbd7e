// Builds source AVI files for tests from a few parameters: every field has the value of a
// plain, acceptable source, and a test changes the one it is about.
//
//   SourcePlan plan = standard_source(/*frames=*/31, /*frame_size=*/4999);
//   plan.audio_header.dwSampleSize = 2;          // 16-bit audio
//   BuiltSource source = build_source(plan);     // bytes, and where each field ended up
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "convert/camera_layout.h"

namespace reelfix::testing {

using Bytes = std::vector<std::uint8_t>;

// A chunk: four-character identifier and payload. Also used for the movie list's chunks.
struct Chunk {
  std::string id;
  Bytes payload;
};

struct SourcePlan {
  std::optional<std::uint32_t> riff_size;  // default: the file's length - 8

  AviFileHeader main_header;
  std::uint32_t avih_size = 56;  // declared; the 56 bytes are cut or padded with zeros to fit

  AviStreamHeader video_header;
  std::uint32_t video_strh_size = 56;
  bminfo video_format;
  std::uint32_t video_strf_size = 40;
  std::vector<Chunk> video_list_extra;  // inside the video strl, behind its strf

  std::vector<Chunk> between_stream_lists;  // inside hdrl, between the two strl lists

  AviStreamHeader audio_header;
  std::uint32_t audio_strh_size = 56;
  std::uint32_t audio_strf_size = 16;  // payload: the format and zeros, cut to this size
  std::optional<Bytes> audio_format;   // default: 8-bit mono PCM at the stream's rate
  std::vector<Chunk> after_stream_lists;  // inside hdrl, behind the audio strl
  std::vector<Chunk> after_header_list;   // top level, between hdrl and the movie list

  std::vector<Chunk> movie;  // the movie list's chunks in file order
  // The movie chunks in the order the index lists them (indices into `movie`); default: file
  // order. Entries for chunks listed twice or not at all follow from it.
  std::optional<std::vector<std::size_t>> index_order;
  std::vector<IndexEntry> extra_index_entries;  // appended to the index as they are
  bool with_index = true;
  std::optional<std::uint32_t> idx1_size;  // declared; default: the entries' bytes
  Bytes trailing;  // behind the index
};

struct BuiltSource {
  Bytes bytes;
  std::uint32_t movi_fourcc = 0;  // offset of "movi"; index offsets count from it
  std::uint32_t idx1 = 0;         // offset of the "idx1" identifier (0 without an index)
  std::vector<std::uint32_t> movie_chunks;  // offset of each movie chunk's identifier
  // Offsets of the size fields, by name: "riff", "hdrl", "avih", "video_strl", "video_strh",
  // "video_strf", "audio_strl", "audio_strh", "audio_strf", "movi", "idx1".
  std::map<std::string, std::uint32_t> size_fields;
};

BuiltSource build_source(const SourcePlan& plan);

// A JPEG-like frame of `size` bytes: FF D8, then filler without FF bytes, with FF DA at
// `marker_at` (none when it does not fit or is npos). Different seeds give different filler.
Bytes jpeg_like_frame(std::size_t size, std::size_t marker_at = 2, std::uint8_t seed = 0);

// An acceptable source: `frames` frames of `frame_size` bytes, and audio of `audio_bytes`
// bytes (default: 11024 for every whole second of frames) in one chunk per 11024 bytes,
// each audio chunk before the fifteen frames of its second.
SourcePlan standard_source(std::size_t frames, std::size_t frame_size = 1000,
                           std::optional<std::size_t> audio_bytes = std::nullopt);

// The byte of audio sample i in standard_source: distinct, so misplaced audio shows.
std::uint8_t audio_sample(std::size_t i);

// File names in the tests are UTF-8 text, as the program's are. A std::filesystem::path made
// from a plain std::string reads it in the ANSI code page on Windows, so paths are made and
// read through these.
std::filesystem::path file_path(const std::string& utf8_name);
std::string path_text(const std::filesystem::path& path);

void write_file(const std::string& path, const Bytes& bytes);
Bytes read_file(const std::string& path);

}  // namespace reelfix::testing
