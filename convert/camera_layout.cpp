#include "convert/camera_layout.h"

namespace reelfix {
namespace {

// Walks a record's bytes field by field, in file order.
struct Writer {
  std::uint8_t* p;
  void u16(std::uint16_t v) {
    store_u16(p, v);
    p += 2;
  }
  void u32(std::uint32_t v) {
    store_u32(p, v);
    p += 4;
  }
  void i16(std::int16_t v) { u16(static_cast<std::uint16_t>(v)); }
  void i32(std::int32_t v) { u32(static_cast<std::uint32_t>(v)); }
};

struct Reader {
  const std::uint8_t* p;
  std::uint16_t u16() {
    std::uint16_t v = load_u16(p);
    p += 2;
    return v;
  }
  std::uint32_t u32() {
    std::uint32_t v = load_u32(p);
    p += 4;
    return v;
  }
  std::int16_t i16() { return static_cast<std::int16_t>(u16()); }
  std::int32_t i32() { return static_cast<std::int32_t>(u32()); }
};

}  // namespace

std::array<std::uint8_t, AviFileHeader::kSize> encode(const AviFileHeader& h) {
  std::array<std::uint8_t, AviFileHeader::kSize> bytes{};
  Writer w{bytes.data()};
  w.u32(h.dwMicroSecPerFrame);
  w.u32(h.dwMaxBytesPerSec);
  w.u32(h.dwPaddingGranularity);
  w.u32(h.dwFlags);
  w.u32(h.dwTotalFrames);
  w.u32(h.dwInitialFrames);
  w.u32(h.dwStreams);
  w.u32(h.dwSuggestedBufferSize);
  w.u32(h.dwWidth);
  w.u32(h.dwHeight);
  for (std::uint32_t v : h.dwReserved) w.u32(v);
  return bytes;
}

AviFileHeader decode_avi_file_header(const std::uint8_t* bytes) {
  Reader r{bytes};
  AviFileHeader h;
  h.dwMicroSecPerFrame = r.u32();
  h.dwMaxBytesPerSec = r.u32();
  h.dwPaddingGranularity = r.u32();
  h.dwFlags = r.u32();
  h.dwTotalFrames = r.u32();
  h.dwInitialFrames = r.u32();
  h.dwStreams = r.u32();
  h.dwSuggestedBufferSize = r.u32();
  h.dwWidth = r.u32();
  h.dwHeight = r.u32();
  for (std::uint32_t& v : h.dwReserved) v = r.u32();
  return h;
}

std::array<std::uint8_t, AviStreamHeader::kSize> encode(const AviStreamHeader& h) {
  std::array<std::uint8_t, AviStreamHeader::kSize> bytes{};
  Writer w{bytes.data()};
  w.u32(h.fccType);
  w.u32(h.fccHandler);
  w.u32(h.dwFlags);
  w.u16(h.wPriority);
  w.u16(h.wLanguage);
  w.u32(h.dwInitialFrames);
  w.u32(h.dwScale);
  w.u32(h.dwRate);
  w.u32(h.dwStart);
  w.u32(h.dwLength);
  w.u32(h.dwSuggestedBufferSize);
  w.u32(h.dwQuality);
  w.u32(h.dwSampleSize);
  for (std::int16_t v : h.rcFrame) w.i16(v);
  return bytes;
}

AviStreamHeader decode_avi_stream_header(const std::uint8_t* bytes) {
  Reader r{bytes};
  AviStreamHeader h;
  h.fccType = r.u32();
  h.fccHandler = r.u32();
  h.dwFlags = r.u32();
  h.wPriority = r.u16();
  h.wLanguage = r.u16();
  h.dwInitialFrames = r.u32();
  h.dwScale = r.u32();
  h.dwRate = r.u32();
  h.dwStart = r.u32();
  h.dwLength = r.u32();
  h.dwSuggestedBufferSize = r.u32();
  h.dwQuality = r.u32();
  h.dwSampleSize = r.u32();
  for (std::int16_t& v : h.rcFrame) v = r.i16();
  return h;
}

std::array<std::uint8_t, bminfo::kSize> encode(const bminfo& f) {
  std::array<std::uint8_t, bminfo::kSize> bytes{};
  Writer w{bytes.data()};
  w.u32(f.biSize);
  w.i32(f.biWidth);
  w.i32(f.biHeight);
  w.u16(f.biPlanes);
  w.u16(f.biBitCount);
  w.u32(f.biCompression);
  w.u32(f.biSizeImage);
  w.i32(f.biXPelsPerMeter);
  w.i32(f.biYPelsPerMeter);
  w.u32(f.biClrUsed);
  w.u32(f.biClrImportant);
  return bytes;
}

bminfo decode_bminfo(const std::uint8_t* bytes) {
  Reader r{bytes};
  bminfo f;
  f.biSize = r.u32();
  f.biWidth = r.i32();
  f.biHeight = r.i32();
  f.biPlanes = r.u16();
  f.biBitCount = r.u16();
  f.biCompression = r.u32();
  f.biSizeImage = r.u32();
  f.biXPelsPerMeter = r.i32();
  f.biYPelsPerMeter = r.i32();
  f.biClrUsed = r.u32();
  f.biClrImportant = r.u32();
  return f;
}

std::array<std::uint8_t, WAVEFORMATEX::kSize> encode(const WAVEFORMATEX& f) {
  std::array<std::uint8_t, WAVEFORMATEX::kSize> bytes{};
  Writer w{bytes.data()};
  w.u16(f.wFormatTag);
  w.u16(f.nChannels);
  w.u32(f.nSamplesPerSec);
  w.u32(f.nAvgBytesPerSec);
  w.u16(f.nBlockAlign);
  w.u16(f.wBitsPerSample);
  return bytes;
}

void encode(const IndexEntry& e, std::uint8_t* out) {
  Writer w{out};
  w.u32(e.ckid);
  w.u32(e.dwFlags);
  w.u32(e.dwChunkOffset);
  w.u32(e.dwChunkLength);
}

IndexEntry decode_index_entry(const std::uint8_t* bytes) {
  Reader r{bytes};
  IndexEntry e;
  e.ckid = r.u32();
  e.dwFlags = r.u32();
  e.dwChunkOffset = r.u32();
  e.dwChunkLength = r.u32();
  return e;
}

}  // namespace reelfix
