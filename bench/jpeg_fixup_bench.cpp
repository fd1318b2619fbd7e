// Throughput of the JPEG frame fix-up on a frame the size of a typical 640x480 MJPEG frame.

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "convert/jpeg_fixup.h"

namespace {

constexpr std::size_t kFrameSize = 25 * 1024;

void append_segment(std::vector<std::uint8_t>& out, std::uint8_t marker, std::size_t payload,
                    std::uint8_t fill) {
  const std::size_t size = payload + 2;
  out.insert(out.end(), {0xFF, marker, static_cast<std::uint8_t>(size >> 8),
                         static_cast<std::uint8_t>(size & 0xFF)});
  out.insert(out.end(), payload, fill);
}

// SOI, about 600 bytes of header segments (APP0, COM, DQT, SOF0), the start of scan, then
// entropy-coded bytes with stuffed FF 00 pairs and no further FF DA, ending in EOI.
std::vector<std::uint8_t> make_frame() {
  std::vector<std::uint8_t> frame = {0xFF, 0xD8};
  append_segment(frame, 0xE0, 14, 0x41);   // APP0
  append_segment(frame, 0xFE, 400, 0x20);  // COM
  append_segment(frame, 0xDB, 130, 0x10);  // DQT, two tables
  append_segment(frame, 0xC0, 17, 0x11);   // SOF0, three components
  append_segment(frame, 0xDA, 10, 0x00);   // SOS
  std::uint32_t x = 12345;
  while (frame.size() < kFrameSize - 2) {
    x = x * 1103515245u + 12345u;
    const auto b = static_cast<std::uint8_t>(x >> 16);
    frame.push_back(b);
    if (b == 0xFF) {
      frame.push_back(0x00);
    }
  }
  frame.resize(kFrameSize - 2);
  if (frame.back() == 0xFF) {
    frame.back() = 0x00;
  }
  frame.insert(frame.end(), {0xFF, 0xD9});
  return frame;
}

void BM_FixJpegFrame(benchmark::State& state) {
  const std::vector<std::uint8_t> frame = make_frame();
  std::vector<std::uint8_t> output(reelfix::fixed_frame_length(frame.size()));
  for (auto _ : state) {
    std::size_t length = frame.size();
    const bool inserted = reelfix::fix_jpeg_frame(frame.data(), output.data(), length);
    benchmark::DoNotOptimize(inserted);
    benchmark::DoNotOptimize(output.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(frame.size()));
}
BENCHMARK(BM_FixJpegFrame);

}  // namespace

BENCHMARK_MAIN();
