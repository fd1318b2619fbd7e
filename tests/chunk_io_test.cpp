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

TEST(ChunkIo, BytesMadeInReservedRoomArriveWhereverTheBufferIsHandedOn) {
  // Bytes pending before the room is taken, and the length of the data made in it behind an
  // 8-byte header: around the 256 KiB at which the buffer is handed on, and beyond.
  constexpr std::size_t kBlock = 256 * 1024;
  struct Case {
    std::size_t pending;
    std::size_t data;
  };
  const Case cases[] = {
      {0, 1000},          {100, 1000},        {kBlock - 1008, 1000}, {kBlock - 1007, 1000},
      {kBlock - 8, 1000}, {kBlock - 6, 1000}, {kBlock - 4, 1000},    {kBlock - 1, 1000},
      {1000, kBlock - 8}, {1000, kBlock},     {kBlock - 2, 300000},  {5, 0},
  };
  for (const Case& c : cases) {
    Files files({});
    Bytes expected(c.pending, 0x11);
    put_bytes(files.dest, expected.data(), expected.size());
    for (int chunk = 0; chunk < 2; ++chunk) {  // the second room follows the first
      std::uint8_t* room = reserve_bytes(files.dest, 8 + c.data);
      Bytes data(c.data);
      for (std::size_t i = 0; i < c.data; ++i) data[i] = static_cast<std::uint8_t>(i * 7 + chunk);
      std::copy(data.begin(), data.end(), room + 8);
      put_u32(files.dest, 0x63643030);
      put_u32(files.dest, static_cast<std::uint32_t>(c.data));
      put_bytes(files.dest, room + 8, c.data);
      expected.insert(expected.end(), {'0', '0', 'd', 'c'});
      const Bytes size = {static_cast<std::uint8_t>(c.data), static_cast<std::uint8_t>(c.data >> 8),
                          static_cast<std::uint8_t>(c.data >> 16), 0};
      expected.insert(expected.end(), size.begin(), size.end());
      expected.insert(expected.end(), data.begin(), data.end());
    }
    EXPECT_EQ(position(files.dest), expected.size());
    EXPECT_TRUE(files.written() == expected) << "pending " << c.pending << ", data " << c.data;
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
