#include "convert/header_translation.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdlib>
#include <cstring>

namespace reelfix {
namespace {

// A little-endian number from the source; bytes behind the end of the source read as zero.
std::uint32_t get_u32(SourceFile& source) {
  std::uint8_t bytes[4] = {};
  get_bytes(source, bytes, sizeof bytes);
  return load_u32(bytes);
}

// Reads a record whose chunk declares `declared` bytes into `record` (at most its size) and
// leaves the source behind the declared payload. Bytes the source does not supply stay as
// they were.
void get_record(SourceFile& source, std::uint8_t* record, std::size_t record_size,
                std::uint32_t declared) {
  std::uint64_t payload_start = position(source);
  get_bytes(source, record, std::min<std::size_t>(record_size, declared));
  seek(source, payload_start + declared);
}

// Stops the phase with a text that carries its own line end.
bool refuse(ConversionState& state, std::string_view text) {
  report_text(state.console, text);
  return false;
}

void print_main_header(Console& console, const AviFileHeader& h) {
  report_value(console, "dwMaxBytesPerSec = ", h.dwMaxBytesPerSec);
  report_value(console, "dwMicroSecPerFrame = ", h.dwMicroSecPerFrame);
  report_value(console, "dwWidth = ", h.dwWidth);
  report_value(console, "dwHeight = ", h.dwHeight);
  report_value(console, "dwTotalFrames = ", h.dwTotalFrames);
  report_value(console, "dwSuggestedBufferSize (MaxFrameSize) = ", h.dwSuggestedBufferSize);
}

// RIFF header, hdrl list and the main header: destination offsets 0 to 87. Hands on the
// source's frame duration for the frame-rate test.
bool translate_main_header(ConversionState& state, std::uint32_t& micro_sec_per_frame) {
  SourceFile& src = state.source_file;
  DestFile& dst = state.dest_file;
  Console& out = state.console;

  if (!expect_fourcc(src, dst, out, fourcc("RIFF"),
                     "'RIFF' signature was not found. This is not an AVI file.")) {
    return false;
  }
  std::uint64_t riff_size = get_u32(src);
  if (length(src) < riff_size + 8) {
    report_line(out, {" Warning: File size is smaller than AVI RIFF file size"});
  }
  put_u32(dst, 0);  // RIFF size, patched when the movie is complete
  if (!expect_fourcc(src, dst, out, fourcc("AVI "),
                     "'AVI' signature was not found. This is not an AVI file.")) {
    return false;
  }
  if (!expect_fourcc(src, dst, out, fourcc("LIST"),
                     "'LIST' signature was not found at 0x0c. Is this an AVI file?")) {
    return false;
  }
  get_u32(src);  // the hdrl size does not steer the reading
  put_u32(dst, HDRL_LIST_SIZE);

  std::uint8_t signature[8] = {};
  get_bytes(src, signature, sizeof signature);
  if (std::memcmp(signature, "hdrlavih", sizeof signature) != 0) {
    return refuse(state, "'hdrlavih' signature wasn't found at the usual place (at offset 0x14)\n");
  }
  put_bytes(dst, signature, sizeof signature);

  std::uint32_t avih_size = get_u32(src);
  std::array<std::uint8_t, AviFileHeader::kSize> avih{};  // fields a short record lacks are 0
  get_record(src, avih.data(), avih.size(), avih_size);
  if (avih_size != AviFileHeader::kSize) {
    report_text(out, "Warning! Sizeof(AviFileHeader)!=0x38\n");
  }
  put_u32(dst, AviFileHeader::kSize);

  AviFileHeader header = decode_avi_file_header(avih.data());
  print_main_header(out, header);
  micro_sec_per_frame = header.dwMicroSecPerFrame;
  header.dwMicroSecPerFrame = CAMERA_MICROSEC_PER_FRAME;
  header.dwMaxBytesPerSec = CAMERA_MAX_BYTES_PER_SEC;
  header.dwFlags = CAMERA_AVI_FLAGS;
  header.dwSuggestedBufferSize = CAMERA_SUGGESTED_BUFFER_SIZE;
  put_bytes(dst, encode(header).data(), AviFileHeader::kSize);  // offsets 32..87
  return true;
}

// Both stream headers are read into this one buffer, the second over the first: when the
// second is declared shorter than 56 bytes, the rest still holds the first one's bytes.
using StreamHeaderBuffer = std::array<std::uint8_t, 64>;

// The head of a stream list: "LIST", its size (replaced by the camera's), "strl", "strh" and the
// strh size (replaced by 56). Records where the list's data starts and its size, and hands on
// the declared strh size, which must fit the stream-header buffer. The "strl", "strh" and size
// messages name the first stream header for both lists; users know them in this form.
bool open_stream_list(ConversionState& state, std::string_view missing_list,
                      std::uint32_t camera_list_size, std::string_view size_warning,
                      std::uint64_t& list_pos, std::uint32_t& list_size, std::uint32_t& strh_size) {
  SourceFile& src = state.source_file;
  DestFile& dst = state.dest_file;
  Console& out = state.console;
  if (!expect_fourcc(src, dst, out, fourcc("LIST"), missing_list)) return false;
  list_size = get_u32(src);
  list_pos = position(src);
  put_u32(dst, camera_list_size);
  if (!expect_fourcc(src, dst, out, fourcc("strl"),
                     "'strl' signature was not found in first AviStreamHeader") ||
      !expect_fourcc(src, dst, out, fourcc("strh"),
                     "'strh' signature was not found in first AviStreamHeader")) {
    return false;
  }
  strh_size = get_u32(src);
  if (strh_size != AviStreamHeader::kSize) report_text(out, size_warning);
  put_u32(dst, AviStreamHeader::kSize);
  if (strh_size > StreamHeaderBuffer{}.size()) {
    return refuse(state,
                  "strh size in first AviStreamHeader is greater than sizeof(AviStreamHeader)\n");
  }
  return true;
}

// The camera shows fifteen frames a second whatever the source declares: a movie made for
// another rate would play too fast or too slow and drift away from its sound. The rate is the
// stream header's, or the main header's frame duration when the stream header gives none;
// 2 % either way lets NTSC-style rates such as 15000/1001 through. False with the message
// when the rate is another.
bool check_frame_rate(ConversionState& state, const AviStreamHeader& video,
                      std::uint32_t micro_sec_per_frame) {
  std::int64_t frames = 0;  // in `seconds` seconds
  std::int64_t seconds = 0;
  if (video.dwRate != 0 && video.dwScale != 0) {
    frames = video.dwRate;
    seconds = video.dwScale;
  } else if (micro_sec_per_frame != 0) {
    frames = 1000000;
    seconds = micro_sec_per_frame;
  } else {
    return true;  // nothing says how fast the video runs
  }
  // |frames / seconds - 15| <= 15 * 2 / 100, in whole numbers.
  const std::int64_t off = 100 * frames - 100 * std::int64_t{FRAMES_PER_SECOND} * seconds;
  if (std::llabs(off) <= 2 * std::int64_t{FRAMES_PER_SECOND} * seconds) return true;
  report_progress(state.console,
                  "\nThe video runs at %.3f frames per second; it must run at %" PRIu32 ".\n",
                  static_cast<double>(frames) / static_cast<double>(seconds), FRAMES_PER_SECOND);
  return false;
}

// The video stream list: destination offsets 88 to 211.
bool translate_video_stream(ConversionState& state, StreamHeaderBuffer& buffer,
                            std::uint32_t micro_sec_per_frame) {
  SourceFile& src = state.source_file;
  DestFile& dst = state.dest_file;
  Console& out = state.console;

  std::uint32_t strh_size = 0;
  if (!open_stream_list(state, "'LIST' signature was not found after MainAVIHeader",
                        VIDEO_STRL_SIZE, "Warning! strh size in first AviStreamHeader is not 0x38\n",
                        state.video_list_pos, state.video_list_size, strh_size)) {
    return false;
  }
  buffer.fill(0);  // fields a short record lacks are 0
  get_record(src, buffer.data(), buffer.size(), strh_size);

  AviStreamHeader video = decode_avi_stream_header(buffer.data());
  if (video.fccType != fourcc("vids")) {
    return refuse(
        state, "Sorry! Video stream AviStreamHeader must be the first AviStreamHeader in file\n");
  }
  const AviStreamHeader source_video = video;
  video.dwScale = CAMERA_MICROSEC_PER_FRAME;
  video.dwRate = CAMERA_VIDEO_RATE;
  video.wPriority = 0;
  if (video.fccHandler != fourcc("mjpg")) {
    report_text(out, "Warning! fccHadnler!='mjpg', set to 'mjpg'\n");
    video.fccHandler = fourcc("mjpg");
  }
  if (!check_frame_rate(state, source_video, micro_sec_per_frame)) return false;
  auto video_bytes = encode(video);
  std::copy(video_bytes.begin(), video_bytes.end(), buffer.begin());
  put_bytes(dst, video_bytes.data(), video_bytes.size());  // offsets 108..163; dwLength patched

  if (!expect_fourcc(src, dst, out, fourcc("strf"),
                     "'strf' signature was not found in first AviStreamHeader")) {
    return false;
  }
  get_u32(src);  // the strf size: exactly 40 bytes are read whatever it says
  std::array<std::uint8_t, bminfo::kSize> format_bytes{};
  get_bytes(src, format_bytes.data(), format_bytes.size());
  bminfo format = decode_bminfo(format_bytes.data());
  if (format.biCompression != fourcc("MJPG")) {
    report_text(out, "Warning! bminfo.biCompression!='MJPG', set to 'MJPG'.\n");
    format.biCompression = fourcc("MJPG");
  }
  format.biSize = bminfo::kSize;
  put_u32(dst, bminfo::kSize);
  put_bytes(dst, encode(format).data(), bminfo::kSize);  // offsets 172..211

  // Whatever else the list holds (a stream name, more format bytes) is passed over.
  seek(src, state.video_list_pos + state.video_list_size);
  return true;
}

// The camera plays the audio bytes as unsigned 8-bit mono PCM: A-law, mu-law or any other
// coding would come out as noise. Reads as much of the source's format record as it declares
// and the file holds, up to the 40 bytes of an extensible format, and tests what is there.
// False with the message when the coding, the channels or the sample size are others.
bool check_audio_format(ConversionState& state, std::uint32_t format_size) {
  constexpr std::uint16_t kPcm = 1;
  constexpr std::uint16_t kExtensible = 0xFFFE;
  // KSDATAFORMAT_SUBTYPE_PCM, 00000001-0000-0010-8000-00AA00389B71, as stored.
  constexpr std::uint8_t kPcmSubFormat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                              0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
  constexpr std::size_t kSubFormatOffset = 24;
  std::uint8_t format[40] = {};
  const std::size_t got = get_bytes(state.source_file, format,
                                    std::min<std::size_t>(format_size, sizeof format));
  if (got < 2) return true;  // nothing to go by
  const std::uint16_t tag = load_u16(format);
  const bool pcm = tag == kPcm ||
                   (tag == kExtensible &&
                    (got < sizeof format ||
                     std::memcmp(format + kSubFormatOffset, kPcmSubFormat, 16) == 0));
  if (!pcm) {
    report_progress(state.console, "audio stream MUST be 8-bit PCM, found format tag 0x%04X\n",
                    static_cast<unsigned>(tag));
    return false;
  }
  const bool mono = got < 4 || load_u16(format + 2) == 1;
  const bool eight_bit = got < 16 || load_u16(format + 14) == 8;
  if (!mono || !eight_bit) return refuse(state, "audio stream MUST be 8-bit mono\n");
  return true;
}

// The audio stream list: destination offsets 212 to 311.
bool translate_audio_stream(ConversionState& state, StreamHeaderBuffer& buffer) {
  SourceFile& src = state.source_file;
  DestFile& dst = state.dest_file;
  Console& out = state.console;

  std::uint32_t strh_size = 0;
  if (!open_stream_list(state,
                        "'LIST' signature was not found after first AVIStreamHeader (missing audio "
                        "stream?)",
                        AUDIO_STRL_SIZE, "Warning! strh size in second AviStreamHeader is not 0x38\n",
                        state.audio_list_pos, state.audio_list_size, strh_size)) {
    return false;
  }
  // Bytes the source does not supply read as zero; bytes behind a short declared size keep
  // the first header's.
  std::fill_n(buffer.begin(), strh_size, 0);
  get_record(src, buffer.data(), buffer.size(), strh_size);

  // The second stream is the audio stream whatever its type says.
  AviStreamHeader audio = decode_avi_stream_header(buffer.data());
  report_value(out, "auds.fccHandler = ", audio.fccHandler);
  report_value(out, "auds.dwRate= ", audio.dwRate);
  report_value(out, "auds.dwSampleSize= ", audio.dwSampleSize);
  report_value(out, "auds.dwScale= ", audio.dwScale);
  if (audio.dwSampleSize != 1 || audio.dwScale != 1) {
    return refuse(state, "audio stream MUST be 8-bit mono\n");
  }
  if (audio.dwRate < 10000 || audio.dwRate > 12000) {
    report_text(out,
                "Warning! Too big difference in sampling rate. Please convert audio to 11025 "
                "(10024) samples/sec\n");
  }
  AviStreamHeader camera_audio;
  camera_audio.fccType = fourcc("auds");
  camera_audio.dwScale = 1;
  camera_audio.dwRate = AUDIO_RATE;
  camera_audio.dwLength = audio.dwLength;  // patched when the movie is complete
  camera_audio.dwSuggestedBufferSize = AUDIO_RATE;
  camera_audio.dwQuality = CAMERA_AUDIO_QUALITY;
  camera_audio.dwSampleSize = 1;
  put_bytes(dst, encode(camera_audio).data(), AviStreamHeader::kSize);  // offsets 232..287

  if (!expect_fourcc(src, dst, out, fourcc("strf"),
                     "'strf' signature was not found in first AviStreamHeader")) {
    return false;
  }
  const std::uint32_t format_size = get_u32(src);
  if (format_size != WAVEFORMATEX::kSize) {
    report_text(out, "Warning! sizeof(WAVEFORMATEX)!=0x10. Set to 0x10\n");
  }
  if (!check_audio_format(state, format_size)) return false;
  put_u32(dst, WAVEFORMATEX::kSize);
  WAVEFORMATEX camera_format;
  camera_format.wFormatTag = 1;  // PCM
  camera_format.nChannels = 1;
  camera_format.nSamplesPerSec = AUDIO_RATE;
  camera_format.nAvgBytesPerSec = AUDIO_RATE;
  camera_format.nBlockAlign = 1;
  camera_format.wBitsPerSample = 8;
  put_bytes(dst, encode(camera_format).data(), WAVEFORMATEX::kSize);  // offsets 296..311
  return true;
}

}  // namespace

bool translate_headers(ConversionState& state) {
  StreamHeaderBuffer stream_header{};
  std::uint32_t micro_sec_per_frame = 0;
  return translate_main_header(state, micro_sec_per_frame) &&
         translate_video_stream(state, stream_header, micro_sec_per_frame) &&
         translate_audio_stream(state, stream_header);
}

}  // namespace reelfix
