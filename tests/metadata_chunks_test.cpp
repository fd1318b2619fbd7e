#include "convert/metadata_chunks.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace reelfix {
namespace {

platform::LocalTime at(int weekday, int month, int day, int hour, int minute, int second,
                       int year) {
  platform::LocalTime t;
  t.weekday = weekday;
  t.month = month;
  t.day = day;
  t.hour = hour;
  t.minute = minute;
  t.second = second;
  t.year = year;
  return t;
}

TEST(MetadataChunks, DateTextNamesDaysAndMonthsFromZeroWithLeadingZeros) {
  struct Case {
    platform::LocalTime time;
    const char* text;
  };
  const Case cases[] = {
      {testing::pinned_time(), "Sun Dec 07 00:00:00 2025\n"},  // Sunday, December, midnight
      {at(3, 2, 9, 14, 5, 33, 2005), "Wed Mar 09 14:05:33 2005\n"},
      {at(6, 0, 31, 23, 59, 59, 1999), "Sat Jan 31 23:59:59 1999\n"},
      {at(1, 8, 1, 9, 9, 9, 2026), "Mon Sep 01 09:09:09 2026\n"},
  };
  for (const Case& c : cases) {
    std::string text = format_date_text(c.time);
    EXPECT_EQ(text, c.text);
    EXPECT_EQ(text.size(), 25u);
  }
}

TEST(MetadataChunks, CompletesTheHeaderAreaAndStopsAt2048) {
  testing::TempDir dir;
  testing::CapturedConsole captured;
  ConversionState state(captured.console, testing::pinned_time);
  std::string temp;
  ASSERT_TRUE(platform::create_temporary_beside(dir.path("out.avi"), state.dest_file.handle, temp,
                                                testing::ignored_reason()));
  seek(state.dest_file, METADATA_OFFSET);
  write_metadata_chunks(state);
  EXPECT_EQ(position(state.dest_file), HEADER_AREA_SIZE);
  EXPECT_EQ(state.date_text, testing::kPinnedDateText);
  flush(state.dest_file);
  EXPECT_EQ(testing::read_file(temp).size(), FILLER_OFFSET);  // the filler comes with the movie
  put_u32(state.dest_file, fourcc("LIST"));
  close(state.dest_file);

  testing::Bytes file = testing::read_file(temp);
  platform::remove_temporary(temp);
  ASSERT_EQ(file.size(), HEADER_AREA_SIZE + 4);
  testing::Bytes expected = testing::expected_header_area(testing::SourcePlan{});
  EXPECT_EQ(testing::Bytes(file.begin() + METADATA_OFFSET, file.begin() + HEADER_AREA_SIZE),
            testing::Bytes(expected.begin() + METADATA_OFFSET, expected.end()));
  EXPECT_EQ(captured.output, "");
}

}  // namespace
}  // namespace reelfix
