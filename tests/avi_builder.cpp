#include "tests/avi_builder.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "convert/little_endian.h"

namespace reelfix::testing {
namespace {

class Writer {
 public:
  std::uint32_t here() const { return static_cast<std::uint32_t>(bytes.size()); }
  void id(const std::string& text) {
    if (text.size() != 4) throw std::invalid_argument("a FOURCC has four characters: " + text);
    bytes.insert(bytes.end(), text.begin(), text.end());
  }
  void u32(std::uint32_t v) {
    std::uint8_t b[4];
    store_u32(b, v);
    bytes.insert(bytes.end(), b, b + 4);
  }
  void raw(const Bytes& b) { bytes.insert(bytes.end(), b.begin(), b.end()); }
  void raw(const std::uint8_t* b, std::size_t n) { bytes.insert(bytes.end(), b, b + n); }
  // A size field to be filled in later; returns its offset.
  std::uint32_t size_placeholder() {
    std::uint32_t at = here();
    u32(0);
    return at;
  }
  // Sets the size field at `at` to count from behind it to here.
  void close_size(std::uint32_t at) { store_u32(bytes.data() + at, here() - at - 4); }
  void set_u32(std::uint32_t at, std::uint32_t v) { store_u32(bytes.data() + at, v); }
  void chunk(const Chunk& c) {
    id(c.id);
    u32(static_cast<std::uint32_t>(c.payload.size()));
    raw(c.payload);
  }
  // A record's bytes cut or padded with zeros to the declared size.
  template <std::size_t N>
  void record(const std::array<std::uint8_t, N>& image, std::uint32_t declared) {
    raw(image.data(), std::min<std::size_t>(N, declared));
    if (declared > N) bytes.insert(bytes.end(), declared - N, 0);
  }
  Bytes bytes;
};

}  // namespace

BuiltSource build_source(const SourcePlan& plan) {
  BuiltSource built;
  Writer w;
  auto& sizes = built.size_fields;
  w.id("RIFF");
  sizes["riff"] = w.size_placeholder();
  w.id("AVI ");
  w.id("LIST");
  sizes["hdrl"] = w.size_placeholder();
  w.id("hdrl");
  w.id("avih");
  sizes["avih"] = w.here();
  w.u32(plan.avih_size);
  w.record(encode(plan.main_header), plan.avih_size);

  w.id("LIST");
  sizes["video_strl"] = w.size_placeholder();
  w.id("strl");
  w.id("strh");
  sizes["video_strh"] = w.here();
  w.u32(plan.video_strh_size);
  w.record(encode(plan.video_header), plan.video_strh_size);
  w.id("strf");
  sizes["video_strf"] = w.here();
  w.u32(plan.video_strf_size);
  w.record(encode(plan.video_format), plan.video_strf_size);
  for (const Chunk& c : plan.video_list_extra) w.chunk(c);
  w.close_size(sizes["video_strl"]);

  for (const Chunk& c : plan.between_stream_lists) w.chunk(c);

  w.id("LIST");
  sizes["audio_strl"] = w.size_placeholder();
  w.id("strl");
  w.id("strh");
  sizes["audio_strh"] = w.here();
  w.u32(plan.audio_strh_size);
  w.record(encode(plan.audio_header), plan.audio_strh_size);
  w.id("strf");
  sizes["audio_strf"] = w.here();
  w.u32(plan.audio_strf_size);
  if (plan.audio_format) {
    Bytes format = *plan.audio_format;
    format.resize(plan.audio_strf_size, 0);
    w.raw(format);
  } else {
    WAVEFORMATEX wave{1, 1, plan.audio_header.dwRate, plan.audio_header.dwRate, 1, 8};
    w.record(encode(wave), plan.audio_strf_size);
  }
  w.close_size(sizes["audio_strl"]);
  for (const Chunk& c : plan.after_stream_lists) w.chunk(c);
  w.close_size(sizes["hdrl"]);

  for (const Chunk& c : plan.after_header_list) w.chunk(c);

  w.id("LIST");
  sizes["movi"] = w.size_placeholder();
  built.movi_fourcc = w.here();
  w.id("movi");
  for (const Chunk& c : plan.movie) {
    built.movie_chunks.push_back(w.here());
    w.chunk(c);
  }
  w.close_size(sizes["movi"]);

  if (plan.with_index) {
    std::vector<std::size_t> order = plan.index_order.value_or(std::vector<std::size_t>{});
    if (!plan.index_order) {
      for (std::size_t i = 0; i < plan.movie.size(); ++i) order.push_back(i);
    }
    built.idx1 = w.here();
    w.id("idx1");
    sizes["idx1"] = w.size_placeholder();
    for (std::size_t i : order) {
      const Chunk& c = plan.movie.at(i);
      std::uint8_t entry[IndexEntry::kSize];
      encode(IndexEntry{load_u32(reinterpret_cast<const std::uint8_t*>(c.id.data())),
                        c.id == "00dc" ? AVIIF_KEYFRAME : 0u,
                        built.movie_chunks[i] - built.movi_fourcc,
                        static_cast<std::uint32_t>(c.payload.size())},
             entry);
      w.raw(entry, sizeof entry);
    }
    for (const IndexEntry& e : plan.extra_index_entries) {
      std::uint8_t entry[IndexEntry::kSize];
      encode(e, entry);
      w.raw(entry, sizeof entry);
    }
    w.close_size(sizes["idx1"]);
    if (plan.idx1_size) w.set_u32(sizes["idx1"], *plan.idx1_size);
  }
  w.raw(plan.trailing);
  w.set_u32(sizes["riff"], plan.riff_size.value_or(w.here() - 8));
  built.bytes = std::move(w.bytes);
  return built;
}

Bytes jpeg_like_frame(std::size_t size, std::size_t marker_at, std::uint8_t seed) {
  Bytes frame(size);
  for (std::size_t i = 0; i < size; ++i) {
    frame[i] = static_cast<std::uint8_t>((i * 7 + seed * 13 + 1) % 251);  // never FF
  }
  if (size >= 1) frame[0] = 0xFF;
  if (size >= 2) frame[1] = 0xD8;
  if (marker_at != static_cast<std::size_t>(-1) && marker_at + 1 < size) {
    frame[marker_at] = 0xFF;
    frame[marker_at + 1] = 0xDA;
  }
  return frame;
}

std::uint8_t audio_sample(std::size_t i) { return static_cast<std::uint8_t>((i * 31 + i / 256) % 256); }

SourcePlan standard_source(std::size_t frames, std::size_t frame_size,
                           std::optional<std::size_t> audio_bytes) {
  SourcePlan plan;
  plan.main_header.dwMicroSecPerFrame = 66667;
  plan.main_header.dwMaxBytesPerSec = 250000;
  plan.main_header.dwFlags = 0x10;
  plan.main_header.dwTotalFrames = static_cast<std::uint32_t>(frames);
  plan.main_header.dwStreams = 2;
  plan.main_header.dwSuggestedBufferSize = 20000;
  plan.main_header.dwWidth = 160;
  plan.main_header.dwHeight = 120;

  plan.video_header.fccType = fourcc("vids");
  plan.video_header.fccHandler = fourcc("mjpg");
  plan.video_header.dwScale = 1;
  plan.video_header.dwRate = 15;
  plan.video_header.dwLength = static_cast<std::uint32_t>(frames);
  plan.video_header.dwSuggestedBufferSize = 20000;
  plan.video_header.dwQuality = 0xFFFFFFFF;
  plan.video_header.rcFrame = {0, 0, 160, 120};

  plan.video_format.biSize = 40;
  plan.video_format.biWidth = 160;
  plan.video_format.biHeight = 120;
  plan.video_format.biPlanes = 1;
  plan.video_format.biBitCount = 24;
  plan.video_format.biCompression = fourcc("MJPG");
  plan.video_format.biSizeImage = 160 * 120 * 3;

  std::size_t audio = audio_bytes.value_or(frames / FRAMES_PER_SECOND * AUDIO_RATE);
  plan.audio_header.fccType = fourcc("auds");
  plan.audio_header.dwScale = 1;
  plan.audio_header.dwRate = AUDIO_RATE;
  plan.audio_header.dwLength = static_cast<std::uint32_t>(audio);
  plan.audio_header.dwSuggestedBufferSize = AUDIO_RATE;
  plan.audio_header.dwSampleSize = 1;

  std::size_t audio_done = 0;
  for (std::size_t f = 0; f < frames || audio_done < audio; ++f) {
    if (f % FRAMES_PER_SECOND == 0 && audio_done < audio) {
      std::size_t n = std::min<std::size_t>(AUDIO_RATE, audio - audio_done);
      Chunk chunk{"01wb", Bytes(n)};
      for (std::size_t i = 0; i < n; ++i) chunk.payload[i] = audio_sample(audio_done + i);
      plan.movie.push_back(std::move(chunk));
      audio_done += n;
    }
    if (f < frames) {
      plan.movie.push_back({"00dc", jpeg_like_frame(frame_size, 2, static_cast<std::uint8_t>(f))});
    }
  }
  return plan;
}

std::filesystem::path file_path(const std::string& utf8_name) {
  return std::filesystem::path(std::u8string(utf8_name.begin(), utf8_name.end()));
}

std::string path_text(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

void write_file(const std::string& path, const Bytes& bytes) {
  std::ofstream out(file_path(path), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

Bytes read_file(const std::string& path) {
  std::ifstream in(file_path(path), std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace reelfix::testing
