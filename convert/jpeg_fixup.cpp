#include "convert/jpeg_fixup.h"

#include <algorithm>
#include <cstring>

namespace reelfix {

// The layout of each table definition is that of a DHT segment: one byte with the table class
// (0 DC, 1 AC) in the high nibble and the table id in the low nibble, sixteen counts of codes
// of lengths 1 to 16, then the symbol values in code order. The marker is deliberately APP2,
// not DHT (FF C4).
// clang-format off
const std::array<std::uint8_t, HUFFMAN_SEGMENT_SIZE> kHuffmanSegment = {
    // Marker FF E2 and length 418 (the two length bytes and the four tables).
    0xFF, 0xE2, 0x01, 0xA2,
    // Luminance DC (K.3): class 0, id 0; counts; 12 values.
    0x00,
    0x00, 0x01, 0x05, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B,
    // Luminance AC (K.5): class 1, id 0; counts; 162 values.
    0x10,
    0x00, 0x02, 0x01, 0x03, 0x03, 0x02, 0x04, 0x03, 0x05, 0x05, 0x04, 0x04, 0x00, 0x00, 0x01, 0x7D,
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07,
    0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xA1, 0x08, 0x23, 0x42, 0xB1, 0xC1, 0x15, 0x52, 0xD1, 0xF0,
    0x24, 0x33, 0x62, 0x72, 0x82, 0x09, 0x0A, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x25, 0x26, 0x27, 0x28,
    0x29, 0x2A, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3A, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49,
    0x4A, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69,
    0x6A, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89,
    0x8A, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9A, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7,
    0xA8, 0xA9, 0xAA, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0xC2, 0xC3, 0xC4, 0xC5,
    0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xE1, 0xE2,
    0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8,
    0xF9, 0xFA,
    // Chrominance DC (K.4): class 0, id 1; counts; 12 values.
    0x01,
    0x00, 0x03, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B,
    // Chrominance AC (K.6): class 1, id 1; counts; 162 values.
    0x11,
    0x00, 0x02, 0x01, 0x02, 0x04, 0x04, 0x03, 0x04, 0x07, 0x05, 0x04, 0x04, 0x00, 0x01, 0x02, 0x77,
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61, 0x71,
    0x13, 0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xA1, 0xB1, 0xC1, 0x09, 0x23, 0x33, 0x52, 0xF0,
    0x15, 0x62, 0x72, 0xD1, 0x0A, 0x16, 0x24, 0x34, 0xE1, 0x25, 0xF1, 0x17, 0x18, 0x19, 0x1A, 0x26,
    0x27, 0x28, 0x29, 0x2A, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3A, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48,
    0x49, 0x4A, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68,
    0x69, 0x6A, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87,
    0x88, 0x89, 0x8A, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9A, 0xA2, 0xA3, 0xA4, 0xA5,
    0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0xC2, 0xC3,
    0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA,
    0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8,
    0xF9, 0xFA,
};
// clang-format on

// 4 bytes of marker and length, then four tables of 1 + 16 bytes plus their values.
static_assert(HUFFMAN_SEGMENT_SIZE == 4 + 2 * (17 + 12) + 2 * (17 + 162));

namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// The walk along the marker segments from the FF D8 that opens the picture (T.81 B.1.1), to the
// start-of-scan marker it leads to: fill bytes FF FF ... before a marker (the position is that
// of the last FF), the standalone markers FF 01 and FF D0 to FF D7, and every other marker with
// a big-endian length that counts itself. A payload (an EXIF thumbnail, a quantisation table)
// may hold the pair FF DA; only the walk tells it from the real scan. The walk fails when the
// frame does not open with FF D8 or it meets anything else: a length of less than 2 or running
// past the end, a byte that is no marker, FF 00, FF D8 or FF D9, or the frame's end. Payloads
// are passed over without a look at their bytes.
using Walk = ScanFinder::Walk;

// The walk expects a marker's FF at `at`; it fails when the frame has no room for the marker.
void expect_marker(ScanFinder& f, std::size_t at) {
  f.at = at;
  f.walk = at + 1 >= f.length ? Walk::kFailed : Walk::kMarker;
}

void walk(ScanFinder& f, const std::uint8_t* piece, std::size_t size) {
  std::size_t k = 0;
  while (k < size && f.walk != Walk::kFound && f.walk != Walk::kFailed) {
    const std::size_t i = f.fed + k;
    if (f.walk == Walk::kMarker && i < f.at) {  // a payload
      k += std::min(f.at - i, size - k);
      continue;
    }
    const std::uint8_t b = piece[k++];
    switch (f.walk) {
      case Walk::kOpening:
        if (b != (i == 0 ? 0xFF : 0xD8)) {
          f.walk = Walk::kFailed;
        } else if (i == 1) {
          expect_marker(f, 2);
        }
        break;
      case Walk::kMarker:
        f.walk = b == 0xFF ? Walk::kCode : Walk::kFailed;
        break;
      case Walk::kCode:
        if (b == 0xFF && f.at + 2 < f.length) {
          f.at = i;  // a fill byte: the marker follows the last FF
        } else if (b == 0xDA) {
          f.walk = Walk::kFound;
        } else if (b == 0x01 || (b >= 0xD0 && b <= 0xD7)) {
          expect_marker(f, f.at + 2);
        } else if (b == 0x00 || b == 0xD8 || b == 0xD9 || b == 0xFF || f.at + 4 > f.length) {
          f.walk = Walk::kFailed;
        } else {
          f.walk = Walk::kLengthHigh;
        }
        break;
      case Walk::kLengthHigh:
        f.length_high = b;
        f.walk = Walk::kLengthLow;
        break;
      case Walk::kLengthLow: {
        const std::size_t segment = (std::size_t{f.length_high} << 8) | b;
        if (segment < 2 || segment > f.length - f.at - 2) {
          f.walk = Walk::kFailed;
        } else {
          expect_marker(f, f.at + 2 + segment);
        }
        break;
      }
      case Walk::kFound:
      case Walk::kFailed:
        break;
    }
  }
}

// The plain search: the first FF DA pair of the frame, also one inside an earlier segment's
// payload, wherever the pieces divide the frame.
void search(ScanFinder& f, const std::uint8_t* piece, std::size_t size) {
  if (f.pair != kNone || size == 0) {
    return;
  }
  if (f.last_byte_ff && piece[0] == 0xDA) {
    f.pair = f.fed - 1;
    return;
  }
  const std::uint8_t* const last = piece + (size - 1);  // a pair starts before the last byte
  const std::uint8_t* p = piece;
  while (p < last) {
    const void* hit = std::memchr(p, 0xFF, static_cast<std::size_t>(last - p));
    if (hit == nullptr) {
      break;
    }
    p = static_cast<const std::uint8_t*>(hit);
    if (p[1] == 0xDA) {
      f.pair = f.fed + static_cast<std::size_t>(p - piece);
      return;
    }
    ++p;
  }
  f.last_byte_ff = *last == 0xFF;
}

}  // namespace

ScanFinder start_scan_finder(std::size_t frame_length) {
  ScanFinder finder;
  finder.length = frame_length;
  if (frame_length < 2) {
    finder.walk = Walk::kFailed;
  }
  return finder;
}

void feed_scan_finder(ScanFinder& finder, const std::uint8_t* piece, std::size_t size) {
  walk(finder, piece, size);
  // The walk usually reaches the scan in the frame's first bytes; the plain search is needed
  // only where it fails, but it must see every piece until then.
  if (finder.walk != Walk::kFound) {
    search(finder, piece, size);
  }
  finder.fed += size;
}

bool scan_found(const ScanFinder& finder) {
  return finder.walk == Walk::kFound || (finder.walk == Walk::kFailed && finder.pair != kNone) ||
         finder.fed >= finder.length;
}

std::size_t segment_position(const ScanFinder& finder) {
  const std::size_t scan = finder.walk == Walk::kFound ? finder.at
                           : finder.pair != kNone      ? finder.pair
                                                       : finder.length;
  // A frame that begins with FF DA is not given the segment.
  return scan == 0 ? finder.length : scan;
}

std::size_t segment_position(const std::uint8_t* frame, std::size_t n) {
  ScanFinder finder = start_scan_finder(n);
  feed_scan_finder(finder, frame, n);
  return segment_position(finder);
}

bool fix_jpeg_frame(const std::uint8_t* frame, std::uint8_t* output, std::size_t& length) {
  const std::size_t n = length;
  const std::size_t scan = segment_position(frame, n);
  if (scan == n) {
    if (n != 0) {
      std::memcpy(output, frame, n);
    }
    return false;
  }

  std::memcpy(output, frame, scan);
  std::memcpy(output + scan, kHuffmanSegment.data(), HUFFMAN_SEGMENT_SIZE);
  std::memcpy(output + scan + HUFFMAN_SEGMENT_SIZE, frame + scan, n - scan);
  const std::size_t fixed = fixed_frame_length(n);
  const std::size_t end = n + HUFFMAN_SEGMENT_SIZE;
  std::memset(output + end, 0, fixed - end);
  length = fixed;
  return true;
}

}  // namespace reelfix
