#include "convert/jpeg_fixup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace reelfix {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kUnwritten = 0xCC;

// Where each table definition starts in the segment and how long it is (class/id byte, 16
// counts, values).
struct TableSlot {
  std::uint8_t class_and_id;
  std::size_t offset;
  std::size_t size;
};
constexpr TableSlot kSlots[] = {
    {0x00, 4, 1 + 16 + 12},
    {0x10, 33, 1 + 16 + 162},
    {0x01, 212, 1 + 16 + 12},
    {0x11, 241, 1 + 16 + 162},
};

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) {
    out.insert(out.end(), part.begin(), part.end());
  }
  return out;
}

// Entropy-coded-looking bytes: every value but FF, with stuffed FF 00 pairs and restart
// markers sprinkled in, so the search meets many FF bytes that do not start FF DA.
Bytes scan_data(std::size_t n, unsigned seed) {
  Bytes out;
  out.reserve(n);
  std::uint32_t x = seed * 2654435761u + 1;
  while (out.size() < n) {
    x = x * 1103515245u + 12345u;
    const std::uint8_t b = static_cast<std::uint8_t>(x >> 16);
    if (b == 0xFF && out.size() + 1 < n) {
      out.push_back(0xFF);
      out.push_back((x >> 8) & 1 ? 0x00 : 0xD3);
    } else if (b != 0xFF) {
      out.push_back(b);
    }
  }
  return out;
}

// SOI and a quantisation-table segment whose values hold FF D9: 16 bytes, FF D8 FF DB ...
const Bytes kHead = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x0C, 0x00, 0x01,
                     0x02, 0x03, 0x04, 0x05, 0x06, 0xFF, 0xD9, 0x07};
const Bytes kSos = {0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x3F, 0x00};

// A frame of exactly n bytes: kHead, a start-of-scan header, scan data.
Bytes frame_of_length(std::size_t n) {
  return concat({kHead, kSos, scan_data(n - kHead.size() - kSos.size(), static_cast<unsigned>(n))});
}

struct Case {
  std::string name;
  Bytes memory;                   // the frame, possibly followed by bytes beyond its end
  std::size_t length;             // the frame's length passed to the fix-up
  std::optional<std::size_t> at;  // where the segment goes, if anywhere
  std::size_t expected_length;    // length after the call
};

std::vector<Case> cases() {
  std::vector<Case> out;
  auto add = [&out](std::string name, Bytes memory, std::optional<std::size_t> at,
                    std::size_t expected_length) {
    const std::size_t length = memory.size();
    out.push_back({std::move(name), std::move(memory), length, at, expected_length});
  };

  const Bytes typical = concat({kHead, kSos, scan_data(300, 1)});
  add("typical frame", typical, kHead.size(), 748);

  // Every remainder of n modulo 4: zero to three pad bytes.
  const std::size_t rounded[] = {1420, 1424, 1424, 1424, 1424};
  for (std::size_t n = 1000; n <= 1004; ++n) {
    add("length " + std::to_string(n), frame_of_length(n), kHead.size(), rounded[n - 1000]);
  }

  add("two start-of-scan markers", concat({kHead, kSos, scan_data(40, 2), kSos, scan_data(9, 3)}),
      kHead.size(), 16 + 10 + 40 + 10 + 9 + 420 + 3);

  const Bytes sos_first = concat({kSos, scan_data(20, 4), kSos, scan_data(30, 5)});
  add("starts with FF DA", sos_first, std::nullopt, sos_first.size());

  const Bytes no_sos = concat({kHead, scan_data(200, 6), {0xFF, 0xD9}});
  add("no FF DA", no_sos, std::nullopt, no_sos.size());

  add("FF DA at index 1", concat({{0x00}, kSos, scan_data(5, 7)}), 1, 1 + 10 + 5 + 420);
  add("FF FF DA at the end", {0xFF, 0xD8, 0xFF, 0xFF, 0xDA}, 3, 5 + 420 + 3);
  add("FF DA as the last two bytes", concat({kHead, {0xFF, 0xDA}}), 16, 16 + 2 + 420 + 2);

  // Segments whose payloads hold the pair FF DA: following the segment lengths from FF D8
  // leads past them to the real start-of-scan marker.
  const Bytes comment = {0xFF, 0xFE, 0x00, 0x06, 0x41, 0xFF, 0xDA, 0x42};
  add("FF DA inside a comment", concat({{0xFF, 0xD8}, comment, kSos, scan_data(50, 8)}), 2 + 8,
      2 + 8 + 10 + 50 + 420 + 2);
  const Bytes quantisation = {0xFF, 0xDB, 0x00, 0x08, 0x00, 0x10, 0xFF, 0xDA, 0x20, 0x30};
  add("FF DA among quantisation values", concat({kHead, quantisation, kSos, scan_data(30, 10)}),
      16 + 10, 16 + 10 + 10 + 30 + 420 + 2);
  // Fill bytes and standalone markers on the way; the segment goes in front of the last FF,
  // where the plain search puts it as well.
  add("fill bytes and standalone markers",
      concat({{0xFF, 0xD8, 0xFF, 0x01, 0xFF, 0xD3}, comment, {0xFF, 0xFF, 0xFF}, kSos,
              scan_data(20, 11)}),
      6 + 8 + 3, 6 + 8 + 3 + 10 + 20 + 420 + 1);
  // Where the segments lead nowhere, the first pair is taken as before.
  const Bytes damaged = {0xFF, 0xFE, 0x00, 0x40, 0x41, 0xFF, 0xDA, 0x42};  // length runs past
  add("segment length past the end", concat({{0xFF, 0xD8}, damaged, kSos, scan_data(20, 12)}),
      2 + 5, 2 + 8 + 10 + 20 + 420 + 0);
  add("FF 00 between segments",
      concat({{0xFF, 0xD8}, comment, {0xFF, 0x00}, kSos, scan_data(20, 13)}), 2 + 5,
      2 + 8 + 2 + 10 + 20 + 420 + 2);
  add("segment length below 2", concat({{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x01}, comment, kSos}),
      6 + 5, 6 + 8 + 10 + 420 + 0);

  // The frame ends in FF and the byte after it in memory is DA: that pair is not the frame's.
  Case last_ff{"last byte FF", concat({kHead, scan_data(21, 9), {0xFF, 0xDA}}), 0, std::nullopt, 0};
  last_ff.length = last_ff.memory.size() - 1;
  last_ff.expected_length = last_ff.length;
  out.push_back(last_ff);

  out.push_back({"length 0", {0xFF, 0xDA, 0x00}, 0, std::nullopt, 0});
  out.push_back({"length 1", {0xFF, 0xDA, 0x00}, 1, std::nullopt, 1});
  return out;
}

TEST(JpegFixup, CopiesFramesAndInsertsTablesBeforeFirstStartOfScan) {
  const Bytes segment(kHuffmanSegment.begin(), kHuffmanSegment.end());
  for (const Case& c : cases()) {
    SCOPED_TRACE(c.name);
    const auto frame_begin = c.memory.begin();
    const auto frame_end = frame_begin + static_cast<std::ptrdiff_t>(c.length);

    Bytes expected;
    if (c.at) {
      const auto split = frame_begin + static_cast<std::ptrdiff_t>(*c.at);
      expected = concat({Bytes(frame_begin, split), segment, Bytes(split, frame_end)});
      ASSERT_LE(expected.size(), c.expected_length);
      ASSERT_LT(c.expected_length - expected.size(), 4u);
      expected.resize(c.expected_length, 0x00);
    } else {
      expected.assign(frame_begin, frame_end);
    }

    // The room the contract asks for plus guard bytes; nothing past the new length changes.
    Bytes output(fixed_frame_length(c.length) + 8, kUnwritten);
    std::size_t length = c.length;
    const bool inserted = fix_jpeg_frame(c.memory.data(), output.data(), length);

    EXPECT_EQ(inserted, c.at.has_value());
    EXPECT_EQ(length, c.expected_length);
    expected.resize(output.size(), kUnwritten);
    EXPECT_EQ(output, expected);
  }
}

// A frame too large to hold at once is searched a piece at a time: every way of cutting it
// gives the place that the whole frame gives, also where a marker, its length or an FF DA
// pair is cut in two.
TEST(JpegFixup, APieceAtATimeFindsWhatTheWholeFrameGives) {
  for (const Case& c : cases()) {
    SCOPED_TRACE(c.name);
    const std::size_t whole = segment_position(c.memory.data(), c.length);
    for (std::size_t piece = 1; piece <= 17; ++piece) {
      ScanFinder finder = start_scan_finder(c.length);
      std::size_t fed = 0;
      while (!scan_found(finder)) {
        ASSERT_LT(fed, c.length) << "piece " << piece;
        const std::size_t n = std::min(piece, c.length - fed);
        feed_scan_finder(finder, c.memory.data() + fed, n);
        fed += n;
      }
      EXPECT_EQ(segment_position(finder), whole) << "piece " << piece;
    }
  }
}

TEST(JpegFixup, SegmentIsWellFormed) {
  EXPECT_EQ(kHuffmanSegment[0], 0xFF);
  EXPECT_EQ(kHuffmanSegment[1], 0xE2);
  EXPECT_EQ(kHuffmanSegment[2] << 8 | kHuffmanSegment[3], 418);
  std::size_t next = 4;
  for (const TableSlot& slot : kSlots) {
    SCOPED_TRACE(slot.offset);
    EXPECT_EQ(slot.offset, next);
    EXPECT_EQ(kHuffmanSegment[slot.offset], slot.class_and_id);
    std::size_t values = 0;
    for (std::size_t i = 1; i <= 16; ++i) {
      values += kHuffmanSegment[slot.offset + i];
    }
    EXPECT_EQ(values, slot.size - 17);
    next = slot.offset + slot.size;
  }
  EXPECT_EQ(next, kHuffmanSegment.size());
}

// The table definitions of every DHT segment before the first scan, keyed by their
// class/id byte, each with that byte, its 16 counts and its values.
std::map<std::uint8_t, Bytes> read_dht_tables(const Bytes& jpeg) {
  std::map<std::uint8_t, Bytes> tables;
  EXPECT_GE(jpeg.size(), 2u);
  EXPECT_TRUE(jpeg.size() >= 2 && jpeg[0] == 0xFF && jpeg[1] == 0xD8) << "no SOI";
  std::size_t pos = 2;
  while (pos + 4 <= jpeg.size()) {
    if (jpeg[pos] != 0xFF) {
      ADD_FAILURE() << "no marker at " << pos;
      break;
    }
    const std::uint8_t marker = jpeg[pos + 1];
    if (marker == 0xFF) {  // fill byte
      ++pos;
      continue;
    }
    if (marker == 0xDA || marker == 0xD9) {
      break;
    }
    const std::size_t size = static_cast<std::size_t>(jpeg[pos + 2] << 8 | jpeg[pos + 3]);
    const std::size_t end = pos + 2 + size;
    if (size < 2 || end > jpeg.size()) {
      ADD_FAILURE() << "segment at " << pos << " runs past the file";
      break;
    }
    if (marker == 0xC4) {
      std::size_t p = pos + 4;
      while (p < end) {
        if (p + 17 > end) {
          ADD_FAILURE() << "truncated table at " << p;
          break;
        }
        std::size_t count = 0;
        for (std::size_t i = 1; i <= 16; ++i) {
          count += jpeg[p + i];
        }
        if (p + 17 + count > end) {
          ADD_FAILURE() << "table values run past the segment at " << p;
          break;
        }
        const auto first = jpeg.begin() + static_cast<std::ptrdiff_t>(p);
        tables[jpeg[p]] = Bytes(first, first + static_cast<std::ptrdiff_t>(17 + count));
        p += 17 + count;
      }
    }
    pos = end;
  }
  return tables;
}

// The tables must be the typical ones of T.81 Annex K. An FFmpeg-encoded JPEG that uses them
// (see tests/data/k3_tables.jpg.txt) is the reference, byte for byte.
TEST(JpegFixup, SegmentTablesMatchReferenceEncoder) {
  const std::string path = std::string(REELFIX_TEST_DATA_DIR) + "/k3_tables.jpg";
  std::ifstream in(path, std::ios::binary);
  ASSERT_TRUE(in) << "cannot open " << path;
  const Bytes jpeg{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};

  const std::map<std::uint8_t, Bytes> reference = read_dht_tables(jpeg);
  for (const TableSlot& slot : kSlots) {
    SCOPED_TRACE(static_cast<int>(slot.class_and_id));
    const auto found = reference.find(slot.class_and_id);
    ASSERT_NE(found, reference.end()) << "reference JPEG lacks this table";
    const auto first = kHuffmanSegment.begin() + static_cast<std::ptrdiff_t>(slot.offset);
    const Bytes ours(first, first + static_cast<std::ptrdiff_t>(slot.size));
    EXPECT_EQ(ours, found->second);
  }
}

}  // namespace
}  // namespace reelfix
