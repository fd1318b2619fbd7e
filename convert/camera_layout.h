// The camera's movie file: one fixed RIFF AVI layout, and the records it shares with sources.
//
// A destination starts with a header area of exactly 2048 bytes. "RIFF" <size> "AVI " opens
// the file; the size is 0 until the movie is complete. At 12 a "LIST" of type "hdrl" of size
// 326 holds, in this order: the "avih" chunk (56-byte AviFileHeader) at 24; the video "strl"
// list (size 116) at 88 with its "strh" (AviStreamHeader) at 100 and "strf" (40-byte bminfo)
// at 164; the audio "strl" list (size 92) at 212 with its "strh" at 224 and "strf" (16 bytes of
// WAVEFORMATEX) at 288; and the "IDIT" chunk at 312, whose 26 bytes are the creation date text
// and a zero byte. At 346 a "LIST" of type "INFO" (size 24) holds the "ISFT" software tag
// "CanonMVI01" and two zeros; at 378 a "JUNK" chunk of 1662 zero bytes fills up to 2048.
//
// At 2048 the "LIST" of type "movi" begins; its size at 2052 is patched at the end. Every
// second of movie is one "01wb" chunk of 11024 bytes of 8-bit mono audio followed by fifteen
// "00dc" JPEG frames. No pad byte follows a chunk of odd size. Right behind the movie list an
// "idx1" chunk lists 16 entries a second, each chunk's offset counted from the "movi" FOURCC at
// 2056. Five values are patched when the movie is complete: the movie list size (2052), the
// frame counts (140 and 48), the audio length (264) and the RIFF size (4), in that order.
//
// Every number is little-endian. Records are read and written field by field, never by laying
// a struct over bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "convert/little_endian.h"

namespace reelfix {

inline constexpr std::uint32_t HEADER_AREA_SIZE = 2048;  // the movie list starts here
inline constexpr std::uint32_t FRAMES_PER_SECOND = 15;   // frames in every one-second group
inline constexpr std::uint32_t AUDIO_RATE = 11024;       // samples, and bytes, a second
inline constexpr std::uint32_t MAX_SECONDS = 180;        // the longest movie the camera plays
inline constexpr std::uint32_t FRAME_BUFFER_SIZE = 131072;  // least size of a staging buffer
// The most video a second may hold for the camera to read it in time (stored frame bytes,
// chunk heads not counted): the usage text's "max 250KBytes/sec".
inline constexpr std::uint32_t MAX_VIDEO_BYTES_PER_SECOND = 250000;

// Offsets of the values patched when the movie is complete.
inline constexpr std::uint64_t RIFF_SIZE_OFFSET = 4;        // RIFF size: file length - 8
inline constexpr std::uint64_t TOTAL_FRAMES_OFFSET = 48;    // avih dwTotalFrames
inline constexpr std::uint64_t VIDEO_LENGTH_OFFSET = 140;   // video strh dwLength
inline constexpr std::uint64_t AUDIO_LENGTH_OFFSET = 264;   // audio strh dwLength
inline constexpr std::uint64_t MOVI_SIZE_OFFSET = 2052;     // movie list size

// Boundaries inside the header area.
inline constexpr std::uint64_t METADATA_OFFSET = 312;  // "IDIT": the header phase ends here
inline constexpr std::uint64_t FILLER_OFFSET = 386;    // JUNK payload: zeros up to 2048
inline constexpr std::uint64_t MOVI_FOURCC_OFFSET = 2056;  // index offsets count from here

// Sizes of the header area's lists and chunks.
inline constexpr std::uint32_t HDRL_LIST_SIZE = 326;
inline constexpr std::uint32_t VIDEO_STRL_SIZE = 116;
inline constexpr std::uint32_t AUDIO_STRL_SIZE = 92;
inline constexpr std::uint32_t INFO_LIST_SIZE = 24;
inline constexpr std::uint32_t IDIT_SIZE = 26;
inline constexpr std::uint32_t ISFT_SIZE = 12;
inline constexpr std::uint32_t JUNK_SIZE = 1662;

// The camera's timing and codec values.
inline constexpr std::uint32_t CAMERA_MICROSEC_PER_FRAME = 66666;
inline constexpr std::uint32_t CAMERA_MAX_BYTES_PER_SEC = 300000;
inline constexpr std::uint32_t CAMERA_AVI_FLAGS = 0x10010;  // AVIF_HASINDEX | AVIF_WASCAPTUREFILE
inline constexpr std::uint32_t CAMERA_SUGGESTED_BUFFER_SIZE = 25000;
inline constexpr std::uint32_t CAMERA_VIDEO_RATE = 1000000;  // with scale 66666: ~15 frames/s
inline constexpr std::uint32_t CAMERA_AUDIO_QUALITY = 10000;
inline constexpr std::uint32_t AVIIF_KEYFRAME = 0x10;

inline constexpr std::array<std::uint8_t, ISFT_SIZE> kSoftwareTag = {
    'C', 'a', 'n', 'o', 'n', 'M', 'V', 'I', '0', '1', 0, 0};

// The "avih" payload, also known as MainAVIHeader.
struct AviFileHeader {
  static constexpr std::size_t kSize = 56;
  std::uint32_t dwMicroSecPerFrame = 0;
  std::uint32_t dwMaxBytesPerSec = 0;
  std::uint32_t dwPaddingGranularity = 0;
  std::uint32_t dwFlags = 0;
  std::uint32_t dwTotalFrames = 0;
  std::uint32_t dwInitialFrames = 0;
  std::uint32_t dwStreams = 0;
  std::uint32_t dwSuggestedBufferSize = 0;
  std::uint32_t dwWidth = 0;
  std::uint32_t dwHeight = 0;
  std::array<std::uint32_t, 4> dwReserved{};
  bool operator==(const AviFileHeader&) const = default;
};

// The "strh" payload of one stream.
struct AviStreamHeader {
  static constexpr std::size_t kSize = 56;
  FourCC fccType = 0;
  FourCC fccHandler = 0;
  std::uint32_t dwFlags = 0;
  std::uint16_t wPriority = 0;
  std::uint16_t wLanguage = 0;
  std::uint32_t dwInitialFrames = 0;
  std::uint32_t dwScale = 0;
  std::uint32_t dwRate = 0;
  std::uint32_t dwStart = 0;
  std::uint32_t dwLength = 0;
  std::uint32_t dwSuggestedBufferSize = 0;
  std::uint32_t dwQuality = 0;
  std::uint32_t dwSampleSize = 0;
  std::array<std::int16_t, 4> rcFrame{};  // left, top, right, bottom
  bool operator==(const AviStreamHeader&) const = default;
};

// The video "strf" payload, a BITMAPINFOHEADER.
struct bminfo {
  static constexpr std::size_t kSize = 40;
  std::uint32_t biSize = 0;
  std::int32_t biWidth = 0;
  std::int32_t biHeight = 0;
  std::uint16_t biPlanes = 0;
  std::uint16_t biBitCount = 0;
  FourCC biCompression = 0;
  std::uint32_t biSizeImage = 0;
  std::int32_t biXPelsPerMeter = 0;
  std::int32_t biYPelsPerMeter = 0;
  std::uint32_t biClrUsed = 0;
  std::uint32_t biClrImportant = 0;
  bool operator==(const bminfo&) const = default;
};

// The audio "strf" payload; the file holds its first 16 bytes, without cbSize.
struct WAVEFORMATEX {
  static constexpr std::size_t kSize = 16;
  std::uint16_t wFormatTag = 0;
  std::uint16_t nChannels = 0;
  std::uint32_t nSamplesPerSec = 0;
  std::uint32_t nAvgBytesPerSec = 0;
  std::uint16_t nBlockAlign = 0;
  std::uint16_t wBitsPerSample = 0;
  bool operator==(const WAVEFORMATEX&) const = default;
};

// One "idx1" entry. dwChunkOffset counts from the "movi" FOURCC of the movie list.
struct IndexEntry {
  static constexpr std::size_t kSize = 16;
  FourCC ckid = 0;
  std::uint32_t dwFlags = 0;
  std::uint32_t dwChunkOffset = 0;
  std::uint32_t dwChunkLength = 0;
  bool operator==(const IndexEntry&) const = default;
};

std::array<std::uint8_t, AviFileHeader::kSize> encode(const AviFileHeader& header);
std::array<std::uint8_t, AviStreamHeader::kSize> encode(const AviStreamHeader& header);
std::array<std::uint8_t, bminfo::kSize> encode(const bminfo& format);
std::array<std::uint8_t, WAVEFORMATEX::kSize> encode(const WAVEFORMATEX& format);
void encode(const IndexEntry& entry, std::uint8_t* out);  // writes IndexEntry::kSize bytes

// Each reads its record's kSize bytes.
AviFileHeader decode_avi_file_header(const std::uint8_t* bytes);
AviStreamHeader decode_avi_stream_header(const std::uint8_t* bytes);
bminfo decode_bminfo(const std::uint8_t* bytes);
IndexEntry decode_index_entry(const std::uint8_t* bytes);

}  // namespace reelfix
