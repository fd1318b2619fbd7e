#include "tests/camera_file_check.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace reelfix {
namespace {

// The check is what the catalogue and the fuzzer trust for every completed run, so it must
// pass a real conversion and notice each kind of broken bookkeeping.
TEST(CameraFileCheck, PassesAConversionAndNoticesBrokenBookkeeping) {
  testing::Conversion run = testing::convert_bytes(
      testing::build_source(testing::standard_source(31, 500)).bytes);
  ASSERT_EQ(run.status, ExitStatus::kCompleted);
  const testing::Bytes good = run.dest;
  EXPECT_EQ(testing::check_camera_file(good), "");

  const std::uint32_t idx1 = 2056 + load_u32(good.data() + 2052);
  const std::uint32_t entry = idx1 + 8;
  struct Case {
    const char* what;
    std::uint32_t at;
    std::uint32_t value;
  };
  const Case cases[] = {
      {"RIFF size", 4, static_cast<std::uint32_t>(good.size())},
      {"frame count", 48, 31},
      {"audio length", 264, 0},
      {"movie list size", 2052, load_u32(good.data() + 2052) - 4},
      {"idx1 size", idx1 + 4, load_u32(good.data() + idx1 + 4) - 16},
      {"audio entry length", entry + 12, 11023},
      {"frame entry offset", entry + 16 + 8, load_u32(good.data() + entry + 16 + 8) + 1},
      {"frame entry length", entry + 16 + 12, load_u32(good.data() + entry + 16 + 12) + 4},
      {"frame entry identifier", entry + 16, fourcc("01dc")},
      {"a frame chunk's size", 2056 + load_u32(good.data() + entry + 16 + 8) + 4, 0},
      {"JUNK size", 382, 1663},
  };
  for (const Case& c : cases) {
    testing::Bytes broken = good;
    store_u32(broken.data() + c.at, c.value);
    EXPECT_NE(testing::check_camera_file(broken), "") << c.what;
  }
  testing::Bytes longer = good;
  longer.push_back(0);
  EXPECT_NE(testing::check_camera_file(longer), "");
  EXPECT_NE(testing::check_camera_file(testing::Bytes(good.begin(), good.begin() + 2100)), "");
}

}  // namespace
}  // namespace reelfix
