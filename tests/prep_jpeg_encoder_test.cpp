#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>

#include "convert/camera_layout.h"
#include "convert/jpeg_fixup.h"
#include "prep/jpeg_encoder.h"

namespace reelfix::prep {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(PrepJpegEncoder, TheSearchFindsTheLowestFittingQuantiserAskingLittle) {
  // Frames fit from `threshold` on (32: never); the search starts at `guess`.
  for (int threshold : {1, 2, 5, 17, 30, 31, 32}) {
    for (int guess : {1, 4, 5, 16, 31}) {
      SCOPED_TRACE("threshold " + std::to_string(threshold) + ", guess " + std::to_string(guess));
      std::set<int> asked;
      int questions = 0;
      const int q = lowest_fitting_quantiser(guess, [&](int candidate) {
        ++questions;
        asked.insert(candidate);
        return candidate >= threshold;
      });
      EXPECT_EQ(q, std::min(threshold, kCoarsestQuantiser));
      EXPECT_EQ(asked.count(q), 1u) << "the result was never tried";
      EXPECT_EQ(asked.size(), static_cast<std::size_t>(questions)) << "a quantiser asked twice";
      EXPECT_LE(questions, 10);
      if (guess == threshold && threshold > kFinestQuantiser) {
        EXPECT_EQ(questions, 2);
      }
    }
  }
}

TEST(PrepJpegEncoder, EachFrameGetsAnEvenShareOfWhatItsSecondHasLeft) {
  SecondBudget second;
  EXPECT_EQ(next_frame_budget(second), 250000 / 15);
  for (int i = 0; i < 5; ++i) account_frame(second, 10000);  // small frames leave more
  EXPECT_EQ(next_frame_budget(second), (250000 - 50000) / 10);
  for (int i = 0; i < 9; ++i) account_frame(second, 25000);  // large ones take from it
  EXPECT_EQ(next_frame_budget(second), 0);                   // the second is spent
  account_frame(second, 8000);  // the fifteenth frame completes the second
  EXPECT_EQ(second.frames, 0);
  EXPECT_EQ(next_frame_budget(second), 250000 / 15);
}

// A busy 320x240 picture: fine noise in the luma, smooth colours.
FramePtr busy_frame() {
  FramePtr frame = make_frame();
  frame->format = AV_PIX_FMT_YUVJ420P;
  frame->width = 320;
  frame->height = 240;
  EXPECT_EQ(av_frame_get_buffer(frame.get(), 0), 0);
  std::mt19937 random(7);
  for (int y = 0; y < 240; ++y) {
    for (int x = 0; x < 320; ++x) {
      frame->data[0][y * frame->linesize[0] + x] = static_cast<std::uint8_t>(64 + random() % 128);
    }
  }
  for (int plane : {1, 2}) {
    for (int y = 0; y < 120; ++y) {
      std::fill_n(frame->data[plane] + y * frame->linesize[plane], 160,
                  static_cast<std::uint8_t>(plane == 1 ? 100 + y / 4 : 150 - y / 4));
    }
  }
  return frame;
}

TEST(PrepJpegEncoder, AFrameGetsTheFinestQuantiserItsBudgetAllows) {
  JpegEncoder encoder = make_jpeg_encoder("camera.avi");
  FramePtr frame = busy_frame();
  PacketPtr packet = make_packet();
  const std::int64_t finest = encode_at(encoder, *frame, kFinestQuantiser, *packet);
  const std::int64_t coarsest = encode_at(encoder, *frame, kCoarsestQuantiser, *packet);
  ASSERT_GT(finest, 2 * coarsest);

  for (std::int64_t budget :
       {finest, (finest + coarsest) / 2, (finest + 3 * coarsest) / 4, coarsest}) {
    SCOPED_TRACE(budget);
    const std::int64_t stored = encode_within(encoder, *frame, budget);
    const int q = encoder.quantiser;
    EXPECT_LE(stored, budget);
    EXPECT_EQ(stored, static_cast<std::int64_t>(fixed_frame_length(encoder.packet->size)));
    if (q > kFinestQuantiser) {
      EXPECT_GT(encode_at(encoder, *frame, q - 1, *packet), budget);
    }
  }
  // Nothing fits: the coarsest frame is kept, over its budget.
  EXPECT_EQ(encode_within(encoder, *frame, coarsest - 1), coarsest);
  EXPECT_EQ(encoder.quantiser, kCoarsestQuantiser);
}

// The table definitions of a DHT-like segment's payload, by class and id.
std::map<int, Bytes> huffman_tables(const std::uint8_t* payload, std::size_t size) {
  std::map<int, Bytes> tables;
  for (std::size_t at = 0; at + 17 <= size;) {
    std::size_t values = 0;
    for (int i = 1; i <= 16; ++i) values += payload[at + i];
    tables[payload[at]] = Bytes(payload + at + 1, payload + at + 17 + values);
    at += 17 + values;
  }
  return tables;
}

TEST(PrepJpegEncoder, FramesCarryTheTablesTheMovieGivesTheCamera) {
  JpegEncoder encoder = make_jpeg_encoder("camera.avi");
  FramePtr frame = busy_frame();
  encode_within(encoder, *frame, MAX_VIDEO_BYTES_PER_SECOND / 15);
  const std::uint8_t* data = encoder.packet->data;
  const std::size_t size = static_cast<std::size_t>(encoder.packet->size);
  ASSERT_GT(size, 4u);
  EXPECT_EQ(data[0], 0xFF);
  EXPECT_EQ(data[1], 0xD8);
  // The frame's own DHT segment (FF C4, length 418) defines the four tables of the camera's
  // segment (in another order).
  const std::uint8_t dht[] = {0xFF, 0xC4, 0x01, 0xA2};
  const std::uint8_t* at = std::search(data, data + size, dht, dht + 4);
  ASSERT_LE(at + HUFFMAN_SEGMENT_SIZE, data + size) << "no DHT segment of 418 bytes";
  const auto camera = huffman_tables(kHuffmanSegment.data() + 4, HUFFMAN_SEGMENT_SIZE - 4);
  EXPECT_EQ(camera.size(), 4u);
  EXPECT_EQ(huffman_tables(at + 4, HUFFMAN_SEGMENT_SIZE - 4), camera);
}

}  // namespace
}  // namespace reelfix::prep
