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

// The same search for a frame that arrives in consecutive pieces, one after the other, for
// frames too large to hold at once. Feed pieces until scan_found; segment_position(finder) is
// then what segment_position gives for the whole frame.
struct ScanFinder {
  enum class Walk { kOpening, kMarker, kCode, kLengthHigh, kLengthLow, kFound, kFailed };
  std::size_t length = 0;  // the frame's
  std::size_t fed = 0;     // bytes seen so far
  // The walk along the marker segments: what it expects of the byte at `at` onwards.
  Walk walk = Walk::kOpening;
  std::size_t at = 0;  // the marker's FF (its last one, behind fill bytes)
  std::uint8_t length_high = 0;
  // The plain search for the first FF DA pair: where it lies, once seen.
  std::size_t pair = static_cast<std::size_t>(-1);
  bool last_byte_ff = false;
};

ScanFinder start_scan_finder(std::size_t frame_length);
// Takes the next `size` bytes of the frame (no more than it has left).
void feed_scan_finder(ScanFinder& finder, const std::uint8_t* piece, std::size_t size);
// True when the bytes fed so far settle where the segment goes.
bool scan_found(const ScanFinder& finder);
std::size_t segment_position(const ScanFinder& finder);

}  // namespace reelfix
