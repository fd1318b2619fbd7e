// The camera decodes a JPEG frame only when the frame carries the typical Huffman tables of
// ITU-T T.81 Annex K.3 in a segment in front of its first start-of-scan marker (FF DA). The
// fix-up copies a frame into an output buffer and inserts that segment on the way.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace reelfix {

inline constexpr std::size_t HUFFMAN_SEGMENT_SIZE = 420;

// FF E2, the big-endian length 418, then four table definitions as in a DHT segment
// (T.81 B.2.4.2): luminance DC (K.3), luminance AC (K.5), chrominance DC (K.4) and
// chrominance AC (K.6).
extern const std::array<std::uint8_t, HUFFMAN_SEGMENT_SIZE> kHuffmanSegment;

// The stored length of a frame of n bytes that receives the segment: n + 420 rounded up to a
// multiple of four. Also the room the output buffer needs for such a frame.
constexpr std::size_t fixed_frame_length(std::size_t n) {
  return (n + HUFFMAN_SEGMENT_SIZE + 3) / 4 * 4;
}

// Copies the `length` bytes of `frame` to `output`. When the frame holds an FF DA pair after
// index 0, the segment goes in front of its start-of-scan marker: the one that its marker
// segments lead to from the FF D8 at its start, or, where they lead nowhere (not a picture,
// damaged lengths), the first FF DA pair that lies wholly inside the frame. Then the one to
// three bytes up to the rounded length are zero, `length` becomes fixed_frame_length(length)
// and the result is true. Otherwise the frame is copied unchanged, `length` stays and the
// result is false (also for a frame that starts with FF DA, and for lengths 0 and 1).
// `output` must hold fixed_frame_length(length) bytes and must not overlap `frame`.
bool fix_jpeg_frame(const std::uint8_t* frame, std::uint8_t* output, std::size_t& length);

// Where fix_jpeg_frame puts the segment in the n bytes of `frame`: the index of the
// start-of-scan marker it goes in front of (always after index 0), or n when the frame does not
// receive it. For writers that put the frame's pieces and the segment together themselves.
std::size_t segment_position(const std::uint8_t* frame, std::size_t n);

}  // namespace reelfix
