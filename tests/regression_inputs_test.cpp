// Every source in tests/data/regressions once broke the conversion (most were found by the
// fuzzer; the README there says what each one did). Each goes through a whole conversion in this
// process, so that the sanitizer build sees the engine's every step.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "tests/camera_file_check.h"
#include "tests/test_support.h"

namespace fs = std::filesystem;

namespace reelfix {
namespace {

TEST(RegressionInputs, EachEndsWithStatus0Or3AndLeavesNoTemporaryFile) {
  std::vector<fs::path> inputs;
  for (const auto& entry : fs::directory_iterator(fs::path(REELFIX_TEST_DATA_DIR) / "regressions")) {
    if (entry.path().filename() != "README") inputs.push_back(entry.path());
  }
  std::sort(inputs.begin(), inputs.end());
  ASSERT_FALSE(inputs.empty());

  for (const fs::path& input : inputs) {
    SCOPED_TRACE(input.filename().string());
    testing::Conversion run = testing::convert_bytes(testing::read_file(input.string()));
    ASSERT_TRUE(run.status == ExitStatus::kCompleted || run.status == ExitStatus::kRefused)
        << static_cast<int>(run.status) << "\n" << run.output << run.error;
    EXPECT_EQ(run.error, "");
    if (run.status == ExitStatus::kCompleted) {
      EXPECT_EQ(testing::check_camera_file(run.dest), "");
      EXPECT_EQ(run.left_in_directory, (std::vector<std::string>{"in.avi", "out.avi"}));
    } else {
      EXPECT_EQ(run.left_in_directory, std::vector<std::string>{"in.avi"});
    }
  }
}

}  // namespace
}  // namespace reelfix
