#include <gtest/gtest.h>

#include "prep/options.h"

namespace reelfix::prep {
namespace {

TEST(PrepOptions, TimesAreSecondsOrClockTimes) {
  const std::pair<const char*, std::optional<std::int64_t>> cases[] = {
      {"90", 90'000'000},   {"2.5", 2'500'000},        {"0", 0},
      {"1:30", 90'000'000}, {"0:01:30.5", 90'500'000}, {"01:00:00", 3'600'000'000},
      {"-1", std::nullopt}, {"-0:10", std::nullopt},   {"abc", std::nullopt},
      {"", std::nullopt},   {"1:2:3:4", std::nullopt},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(parse_duration(text), expected);
  }
}

TEST(PrepOptions, OptionsAndDefaults) {
  ParsedCommandLine plain = parse_command_line({"reelprep", "in.mp4", "out.avi"});
  ASSERT_TRUE(plain.options);
  EXPECT_EQ(plain.options->input, "in.mp4");
  EXPECT_EQ(plain.options->output, "out.avi");
  EXPECT_EQ(plain.options->start_us, 0);
  EXPECT_FALSE(plain.options->length_us);
  EXPECT_EQ(plain.options->fit, FitMode::kPad);
  EXPECT_FALSE(plain.options->overwrite);
  EXPECT_FALSE(plain.options->quiet);

  ParsedCommandLine all = parse_command_line({"reelprep", "--start", "1:05", "--length=2.5",
                                              "--fit", "crop", "-y", "-q", "in.mp4", "out.avi"});
  ASSERT_TRUE(all.options);
  EXPECT_EQ(all.options->start_us, 65'000'000);
  EXPECT_EQ(all.options->length_us, 2'500'000);
  EXPECT_EQ(all.options->fit, FitMode::kCrop);
  EXPECT_TRUE(all.options->overwrite);
  EXPECT_TRUE(all.options->quiet);
  EXPECT_EQ(parse_command_line({"reelprep", "--overwrite", "--quiet", "--fit=stretch", "a", "b"})
                .options->fit,
            FitMode::kStretch);
}

TEST(PrepOptions, HelpAndVersionEndWithStatus0OnStandardOutput) {
  ParsedCommandLine help = parse_command_line({"reelprep", "--help"});
  EXPECT_FALSE(help.options);
  EXPECT_EQ(help.status, ExitStatus::kCompleted);
  EXPECT_NE(help.output.find("reelprep [OPTIONS] INPUT OUTPUT"), std::string::npos) << help.output;
  EXPECT_NE(help.output.find("--fit"), std::string::npos);
  EXPECT_EQ(help.error, "");

  ParsedCommandLine version = parse_command_line({"reelprep", "--version"});
  EXPECT_EQ(version.status, ExitStatus::kCompleted);
  EXPECT_EQ(version.output.rfind("reelprep ", 0), 0u) << version.output;
}

TEST(PrepOptions, MistakesEndWithStatus1AndAMessage) {
  const std::vector<std::vector<std::string>> cases = {
      {"reelprep"},
      {"reelprep", "in.mp4"},
      {"reelprep", "in.mp4", "out.avi", "third.avi"},
      {"reelprep", "--fit", "zoom", "in.mp4", "out.avi"},
      {"reelprep", "--start", "soon", "in.mp4", "out.avi"},
      {"reelprep", "--length", "0", "in.mp4", "out.avi"},
      {"reelprep", "--speed", "2", "in.mp4", "out.avi"},
  };
  for (const auto& arguments : cases) {
    SCOPED_TRACE(arguments.size() > 1 ? arguments[1] : "no arguments");
    ParsedCommandLine parsed = parse_command_line(arguments);
    EXPECT_FALSE(parsed.options);
    EXPECT_EQ(parsed.status, ExitStatus::kUsage);
    EXPECT_NE(parsed.error, "");
    EXPECT_EQ(parsed.output, "");
  }
}

}  // namespace
}  // namespace reelfix::prep
