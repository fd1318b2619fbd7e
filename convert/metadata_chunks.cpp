#include "convert/metadata_chunks.h"

#include <cstdio>

namespace reelfix {
namespace {

constexpr const char* kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Keeps a calendar field inside the range its text needs.
int clamp(int value, int low, int high) { return value < low ? low : value > high ? high : value; }

}  // namespace

std::string format_date_text(const platform::LocalTime& time) {
  char text[32];
  std::snprintf(text, sizeof text, "%s %s %02i %02i:%02i:%02i %04i\n",
                kDayNames[clamp(time.weekday, 0, 6)], kMonthNames[clamp(time.month, 0, 11)],
                clamp(time.day, 1, 31), clamp(time.hour, 0, 23), clamp(time.minute, 0, 59),
                clamp(time.second, 0, 60), clamp(time.year, 0, 9999));
  return text;
}

void write_metadata_chunks(ConversionState& state) {
  DestFile& dst = state.dest_file;
  put_u32(dst, fourcc("IDIT"));
  put_u32(dst, IDIT_SIZE);
  state.date_text = format_date_text(state.clock());
  put_bytes(dst, state.date_text.c_str(), IDIT_SIZE);  // 25 characters and the zero byte

  put_u32(dst, fourcc("LIST"));
  put_u32(dst, INFO_LIST_SIZE);
  put_u32(dst, fourcc("INFO"));
  put_u32(dst, fourcc("ISFT"));
  put_u32(dst, ISFT_SIZE);
  put_bytes(dst, kSoftwareTag.data(), kSoftwareTag.size());

  put_u32(dst, fourcc("JUNK"));
  put_u32(dst, JUNK_SIZE);
  // The filler is not written: the file is new, so the gap up to the movie list reads as zeros
  // once the first chunk of the movie lands behind it.
  seek(dst, HEADER_AREA_SIZE);
}

}  // namespace reelfix
