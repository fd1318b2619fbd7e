#include "convert/chunk_io.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace reelfix {
namespace {

using testing::Bytes;
using testing::CapturedConsole;
using testing::read_file;
using testing::TempDir;
using testing::write_file;

struct Files {
  TempDir dir;
  SourceFile source;
  DestFile dest;
  std::string temp_path;

  explicit Files(const Bytes& source_bytes) {
    write_file(dir.path("src"), source_bytes);
    EXPECT_TRUE(open_source(source, dir.path("src"), testing::ignored_reason()));
    EXPECT_TRUE(platform::create_temporary_beside(dir.path("dst"), dest.handle, temp_path,
                                                testing::ignored_reason()));
  }
  ~Files() {
    close(source);
    close(dest);
    platform::remove_temporary(temp_path);
  }
  Bytes written() {
    flush(dest);
    return read_file(temp_path);
  }
};

TEST(ChunkIo, PutU32WritesLeastSignificantByteFirst) {
  Files files({});
  put_u32(files.dest, 326);
  put_u32(files.dest, 66666);
  EXPECT_EQ(files.written(), (Bytes{0x46, 0x01, 0x00, 0x00, 0x6A, 0x04, 0x01, 0x00}));
}

TEST(ChunkIo, WriteBehindTheEndLeavesZerosInTheGap) {
  Files files({});
  Bytes head(386, 0xAB);
  put_bytes(files.dest, head.data(), head.size());
  seek(files.dest, 2048);
  EXPECT_EQ(files.written().size(), 386u);  // the seek alone does not grow the file
  put_u32(files.dest, 0);
  Bytes file = files.written();
  ASSERT_EQ(file.size(), 2052u);
  EXPECT_EQ(Bytes(file.begin() + 386, file.end()), Bytes(2052 - 386, 0));
  // A patch inside what was written leaves the rest alone.
  seek(files.dest, 4);
  put_u32(files.dest, 0x01020304);
  file = files.written();
  EXPECT_EQ(file.size(), 2052u);
  EXPECT_EQ(file[3], 0xAB);
  EXPECT_EQ(file[4], 0x04);
  EXPECT_EQ(file[8], 0xAB);
}

// Copied bytes (put_bytes) may change in the caller's memory at once; lent ones (put_view) stay
// until the flush. Either way every byte arrives in order, wherever the pending bytes are
// handed on: when the copies fill their buffer (64 KiB, or 256 KiB where every byte is copied),
// at 1024 pieces, or for a large block.
TEST(ChunkIo, CopiedAndLentBytesArriveInOrderWhereverTheyAreHandedOn) {
  constexpr std::size_t kSmall = 64 * 1024;
  constexpr std::size_t kBlock = 256 * 1024;
  struct Case {
    const char* name;
    std::size_t first;       // copied bytes before the pieces
    std::size_t pieces;      // lent pieces, each after a copied 4-byte head when `heads`
    std::size_t piece_size;
    bool heads;
  };
  const Case cases[] = {
      {"a few pieces", 100, 3, 1000, true},
      {"heads that fill 64 KiB of copies", kSmall - 9, 5, 8, true},
      {"heads that fill 256 KiB of copies", kBlock - 9, 5, 8, true},
      {"more pieces than one gather takes", 10, 2500, 3, true},
      {"pieces next to each other in memory", 10, 2500, 3, false},
      {"a large block, written at once", 300000, 2, 10, true},
      {"empty pieces", 7, 5, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Files files({});
    Bytes lent(c.pieces * c.piece_size);
    for (std::size_t i = 0; i < lent.size(); ++i) lent[i] = static_cast<std::uint8_t>(i * 7 + 1);
    Bytes scratch(c.first, 0x11);
    Bytes expected = scratch;
    put_bytes(files.dest, scratch.data(), scratch.size());
    std::fill(scratch.begin(), scratch.end(), 0xEE);  // copied: may change at once
    for (std::size_t i = 0; i < c.pieces; ++i) {
      if (c.heads) {
        const std::uint32_t head = static_cast<std::uint32_t>(0x63643000 + i);
        put_u32(files.dest, head);
        expected.insert(expected.end(), {static_cast<std::uint8_t>(head), static_cast<std::uint8_t>(head >> 8),
                                         static_cast<std::uint8_t>(head >> 16), static_cast<std::uint8_t>(head >> 24)});
      }
      const std::uint8_t* piece = lent.data() + i * c.piece_size;
      put_view(files.dest, piece, c.piece_size);
      expected.insert(expected.end(), piece, piece + c.piece_size);
    }
    EXPECT_EQ(position(files.dest), expected.size());
    EXPECT_TRUE(files.written() == expected);
  }
}

TEST(ChunkIo, GetBytesAtTheEndDeliversWhatIsThereAndLeavesTheRest) {
  Files files({1, 2, 3, 4, 5, 6});
  seek(files.source, 3);
  std::uint8_t buffer[8] = {9, 9, 9, 9, 9, 9, 9, 9};
  EXPECT_EQ(get_bytes(files.source, buffer, 8), 3u);
  EXPECT_EQ(Bytes(buffer, buffer + 8), (Bytes{4, 5, 6, 9, 9, 9, 9, 9}));
  EXPECT_EQ(position(files.source), 6u);
  EXPECT_EQ(get_bytes(files.source, buffer, 8), 0u);
  // Far behind the end, beyond any 32-bit offset, a read is no error either.
  seek(files.source, 0x80000000ull);
  EXPECT_EQ(get_bytes(files.source, buffer, 8), 0u);
  seek(files.source, 0xFFFFFFFFFFFFFFF0ull);
  EXPECT_EQ(get_bytes(files.source, buffer, 8), 0u);
  EXPECT_EQ(length(files.source), 6u);
}

TEST(ChunkIo, ExpectFourccCopiesAMatchAndConsumesAMismatch) {
  struct Case {
    Bytes source;
    std::uint64_t start;
    bool matches;
    std::uint64_t position_after;
  };
  const Case cases[] = {
      {{'R', 'I', 'F', 'F'}, 0, true, 4},
      {{'R', 'I', 'F', 'X', 0}, 0, false, 4},  // a failed check still consumes four bytes
      {{0, 0, 'R', 'I'}, 2, false, 4},         // two bytes before the end
      {{'r', 'i', 'f', 'f'}, 0, false, 4},     // case counts
  };
  for (const Case& c : cases) {
    Files files(c.source);
    CapturedConsole captured;
    seek(files.source, c.start);
    EXPECT_EQ(expect_fourcc(files.source, files.dest, captured.console, fourcc("RIFF"), "no RIFF"),
              c.matches);
    EXPECT_EQ(position(files.source), c.position_after);
    EXPECT_EQ(files.written(), (c.matches ? Bytes{'R', 'I', 'F', 'F'} : Bytes{}));
    EXPECT_EQ(captured.output, c.matches ? "" : "no RIFF\n");
  }
}

TEST(ChunkIo, ConsoleKeepsCallOrderAndFlushesOnlyOnLines) {
  CapturedConsole captured;
  report_text(captured.console, "text\n");
  report_progress(captured.console, "\rprogress %i of %i..", 1, 2);
  EXPECT_EQ(captured.handed, 0);  // neither flushes
  report_line(captured.console, {"line ", "two"});
  EXPECT_EQ(captured.handed, 1);
  report_value(captured.console, "dwWidth = ", 320);
  report_value(captured.console, "big = ", 4294967295u);
  EXPECT_EQ(captured.output,
            "text\n\rprogress 1 of 2..line two\ndwWidth = 320\nbig = 4294967295\n");
  report_text(captured.console, "held");
  report_error_line(captured.console, "Error: x");  // standard output goes out first
  EXPECT_EQ(captured.output.substr(captured.output.size() - 4), "held");
  EXPECT_EQ(captured.error, "Error: x\n");
}

TEST(ChunkIo, FailedOutputDropsLaterText) {
  Console console;
  std::string seen;
  console.output = [&](std::string_view text) {
    seen.append(text);
    return false;
  };
  report_line(console, {"first"});
  report_line(console, {"second"});
  EXPECT_EQ(seen, "first\n");
}

}  // namespace
}  // namespace reelfix
