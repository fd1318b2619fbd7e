#include "convert/header_translation.h"

#include <algorithm>
#include <array>
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

// RIFF header, hdrl list and the main header: destination offsets 0 to 87.
bool translate_main_header(ConversionState& state) {
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

// The video stream list: destination offsets 88 to 211.
bool translate_video_stream(ConversionState& state, StreamHeaderBuffer& buffer) {
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
  video.dwScale = CAMERA_MICROSEC_PER_FRAME;
  video.dwRate = CAMERA_VIDEO_RATE;
  video.wPriority = 0;
  if (video.fccHandler != fourcc("mjpg")) {
    report_text(out, "Warning! fccHadnler!='mjpg', set to 'mjpg'\n");
    video.fccHandler = fourcc("mjpg");
  }
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
  if (get_u32(src) != WAVEFORMATEX::kSize) {
    report_text(out, "Warning! sizeof(WAVEFORMATEX)!=0x10. Set to 0x10\n");
  }
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
  return translate_main_header(state) && translate_video_stream(state, stream_header) &&
         translate_audio_stream(state, stream_header);
}

}  // namespace reelfix
