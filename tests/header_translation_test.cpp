#include "convert/header_translation.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <sstream>

#include "tests/test_support.h"

namespace reelfix {
namespace {

using testing::Bytes;
using testing::CapturedConsole;
using testing::SourcePlan;
using testing::standard_source;
using testing::TempDir;

// translate_headers alone on a built source: what it printed, where the destination stands and
// what it wrote.
struct HeaderRun {
  bool ok = false;
  std::string output;
  std::uint64_t dest_position = 0;
  Bytes dest;
};

HeaderRun translate(const Bytes& source) {
  TempDir dir;
  testing::write_file(dir.path("in.avi"), source);
  CapturedConsole captured;
  ConversionState state(captured.console, testing::pinned_time);
  EXPECT_TRUE(open_source(state.source_file, dir.path("in.avi"), testing::ignored_reason()));
  std::string temp;
  EXPECT_TRUE(platform::create_temporary_beside(dir.path("out.avi"), state.dest_file.handle, temp,
                                                testing::ignored_reason()));
  HeaderRun run;
  run.ok = translate_headers(state);
  flush(captured.console);
  run.output = captured.output;
  run.dest_position = position(state.dest_file);
  close(state.dest_file);
  close(state.source_file);
  run.dest = testing::read_file(temp);
  platform::remove_temporary(temp);
  return run;
}

// The printed lines that are not "label = value" lines: the warnings and refusals, in order.
std::vector<std::string> messages(const std::string& output) {
  std::vector<std::string> result;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    if (line.find("= ") == std::string::npos) result.push_back(line);
  }
  return result;
}

constexpr char kFirstTooBig[] =
    "strh size in first AviStreamHeader is greater than sizeof(AviStreamHeader)";
constexpr char kRateWarning[] =
    "Warning! Too big difference in sampling rate. Please convert audio to 11025 (10024) "
    "samples/sec";
constexpr char kNotMono[] = "audio stream MUST be 8-bit mono";

// An audio format record: tag, channels, rate 11024, bits, and for the extensible format its
// 22 further bytes with the given sub-format's first four bytes (1: PCM, 3: float).
Bytes audio_format(std::uint16_t tag, std::uint16_t channels, std::uint16_t bits,
                   std::optional<std::uint8_t> sub_format = std::nullopt) {
  WAVEFORMATEX wave{tag, channels, 11024, 11024u * channels * bits / 8,
                    static_cast<std::uint16_t>(channels * bits / 8), bits};
  auto image = encode(wave);
  Bytes format(image.begin(), image.end());
  if (sub_format) {
    const Bytes extension = {
        22, 0, static_cast<std::uint8_t>(bits), 0, 4, 0, 0, 0,  // cbSize, valid bits, mask
        *sub_format, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
    format.insert(format.end(), extension.begin(), extension.end());
  }
  return format;
}

// A video stream header's rate, and a main header's frame duration.
std::function<void(SourcePlan&)> video_rate(std::uint32_t rate, std::uint32_t scale,
                                            std::uint32_t micro_sec_per_frame = 66667) {
  return [=](SourcePlan& s) {
    s.video_header.dwRate = rate;
    s.video_header.dwScale = scale;
    s.main_header.dwMicroSecPerFrame = micro_sec_per_frame;
  };
}

std::function<void(SourcePlan&)> audio_strf(Bytes format, std::uint32_t declared) {
  return [=](SourcePlan& s) {
    s.audio_format = format;
    s.audio_strf_size = declared;
  };
}

std::vector<std::string> rate_refusal(const char* rate) {
  return {"", std::string("The video runs at ") + rate + " frames per second; it must run at 15."};
}

constexpr char kStrfWarning[] = "Warning! sizeof(WAVEFORMATEX)!=0x10. Set to 0x10";

TEST(HeaderTranslation, CasesWarnRefuseAndStopWhereTheyShould) {
  struct Case {
    const char* name;
    std::function<void(SourcePlan&)> change;
    std::vector<std::string> messages;
    bool ok;
    std::uint64_t dest_end;  // where the destination stands afterwards
  };
  const Case cases[] = {
      {"acceptable source", [](SourcePlan&) {}, {}, true, 312},
      {"avih of 64", [](SourcePlan& s) { s.avih_size = 64; },
       {"Warning! Sizeof(AviFileHeader)!=0x38"}, true, 312},
      {"video strh of 64", [](SourcePlan& s) { s.video_strh_size = 64; },
       {"Warning! strh size in first AviStreamHeader is not 0x38"}, true, 312},
      {"video strh of 65", [](SourcePlan& s) { s.video_strh_size = 65; },
       {"Warning! strh size in first AviStreamHeader is not 0x38", kFirstTooBig}, false, 108},
      {"audio strh of 64", [](SourcePlan& s) { s.audio_strh_size = 64; },
       {"Warning! strh size in second AviStreamHeader is not 0x38"}, true, 312},
      {"audio strh of 65", [](SourcePlan& s) { s.audio_strh_size = 65; },
       {"Warning! strh size in second AviStreamHeader is not 0x38", kFirstTooBig}, false, 232},
      {"handler MJPG", [](SourcePlan& s) { s.video_header.fccHandler = fourcc("MJPG"); },
       {"Warning! fccHadnler!='mjpg', set to 'mjpg'"}, true, 312},
      {"compression mjpg", [](SourcePlan& s) { s.video_format.biCompression = fourcc("mjpg"); },
       {"Warning! bminfo.biCompression!='MJPG', set to 'MJPG'."}, true, 312},
      {"rate 9999", [](SourcePlan& s) { s.audio_header.dwRate = 9999; }, {kRateWarning}, true, 312},
      {"rate 10000", [](SourcePlan& s) { s.audio_header.dwRate = 10000; }, {}, true, 312},
      {"rate 12000", [](SourcePlan& s) { s.audio_header.dwRate = 12000; }, {}, true, 312},
      {"rate 12001", [](SourcePlan& s) { s.audio_header.dwRate = 12001; }, {kRateWarning}, true, 312},
      {"8-bit stereo", [](SourcePlan& s) { s.audio_header.dwSampleSize = 2; }, {kNotMono}, false, 232},
      {"16-bit mono",
       [](SourcePlan& s) {
         s.audio_header.dwSampleSize = 2;
         s.audio_header.dwScale = 2;
       },
       {kNotMono}, false, 232},
      {"second stream typed vids", [](SourcePlan& s) { s.audio_header.fccType = fourcc("vids"); },
       {}, true, 312},
      {"stream name in the video list",
       [](SourcePlan& s) { s.video_list_extra = {{"strn", {'c', 'a', 'm', 0, 'x'}}}; }, {}, true,
       312},
      {"JUNK between the stream lists",
       [](SourcePlan& s) { s.between_stream_lists = {{"JUNK", Bytes(12)}}; },
       {"'LIST' signature was not found after first AVIStreamHeader (missing audio stream?)"},
       false, 212},
      {"RIFF size larger than the file", [](SourcePlan& s) { s.riff_size = 100000; },
       {" Warning: File size is smaller than AVI RIFF file size"}, true, 312},
      {"audio strf of 18", [](SourcePlan& s) { s.audio_strf_size = 18; },
       {"Warning! sizeof(WAVEFORMATEX)!=0x10. Set to 0x10"}, true, 312},
      {"several warnings in step order",
       [](SourcePlan& s) {
         s.avih_size = 60;
         s.video_header.fccHandler = fourcc("XVID");
         s.audio_header.dwRate = 22050;
       },
       {"Warning! Sizeof(AviFileHeader)!=0x38", "Warning! fccHadnler!='mjpg', set to 'mjpg'",
        kRateWarning},
       true, 312},
      {"first stream is audio", [](SourcePlan& s) { s.video_header.fccType = fourcc("auds"); },
       {"Sorry! Video stream AviStreamHeader must be the first AviStreamHeader in file"}, false,
       108},
      // The frame rate: the stream header's, else the main header's; 2 % either side of 15.
      {"30 frames a second", video_rate(30, 1), rate_refusal("30.000"), false, 108},
      {"25 frames a second", video_rate(25, 1), rate_refusal("25.000"), false, 108},
      {"10 frames a second", video_rate(10000000, 1000000), rate_refusal("10.000"), false, 108},
      {"15000/1001", video_rate(15000, 1001), {}, true, 312},
      {"2 % above 15", video_rate(153, 10), {}, true, 312},
      {"more than 2 % above 15", video_rate(1531, 100), rate_refusal("15.310"), false, 108},
      {"2 % below 15", video_rate(147, 10), {}, true, 312},
      {"stream rate 15, main header 25", video_rate(15, 1, 40000), {}, true, 312},
      {"no stream rate: the main header's 30", video_rate(0, 1, 33333), rate_refusal("30.000"),
       false, 108},
      {"no stream scale: the main header's 15", video_rate(15, 0, 66666), {}, true, 312},
      {"no rate anywhere", video_rate(0, 0, 0), {}, true, 312},
      {"warnings of the stream header first",
       [](SourcePlan& s) {
         video_rate(30, 1)(s);
         s.video_strh_size = 60;
         s.video_header.fccHandler = fourcc("MJPG");
       },
       {"Warning! strh size in first AviStreamHeader is not 0x38",
        "Warning! fccHadnler!='mjpg', set to 'mjpg'", "",
        "The video runs at 30.000 frames per second; it must run at 15."},
       false, 108},
      // The audio coding, channels and sample size as the format record gives them.
      {"A-law", audio_strf(audio_format(6, 1, 8), 18),
       {kStrfWarning, "audio stream MUST be 8-bit PCM, found format tag 0x0006"}, false, 292},
      {"mu-law", audio_strf(audio_format(7, 1, 8), 16),
       {"audio stream MUST be 8-bit PCM, found format tag 0x0007"}, false, 292},
      {"extensible PCM", audio_strf(audio_format(0xFFFE, 1, 8, 1), 40), {kStrfWarning}, true, 312},
      {"extensible float", audio_strf(audio_format(0xFFFE, 1, 8, 3), 40),
       {kStrfWarning, "audio stream MUST be 8-bit PCM, found format tag 0xFFFE"}, false, 292},
      {"extensible too short for its sub-format", audio_strf(audio_format(0xFFFE, 1, 8, 3), 39),
       {kStrfWarning}, true, 312},
      {"PCM, two channels", audio_strf(audio_format(1, 2, 8), 16), {kNotMono}, false, 292},
      {"PCM, 16 bits", audio_strf(audio_format(1, 1, 16), 16), {kNotMono}, false, 292},
      {"PCM record of 4 bytes, two channels", audio_strf(audio_format(1, 2, 8), 4),
       {kStrfWarning, kNotMono}, false, 292},
      {"PCM record of 4 bytes, mono", audio_strf(audio_format(1, 1, 16), 4), {kStrfWarning},
       true, 312},
      {"record of 2 bytes, A-law", audio_strf(audio_format(6, 1, 8), 2),
       {kStrfWarning, "audio stream MUST be 8-bit PCM, found format tag 0x0006"}, false, 292},
      {"record of 1 byte", audio_strf(audio_format(6, 1, 8), 1), {kStrfWarning}, true, 312},
      {"empty record", audio_strf({}, 0), {kStrfWarning}, true, 312},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SourcePlan plan = standard_source(15);
    c.change(plan);
    HeaderRun run = translate(testing::build_source(plan).bytes);
    EXPECT_EQ(run.ok, c.ok);
    EXPECT_EQ(messages(run.output), c.messages);
    EXPECT_EQ(run.dest_position, c.dest_end);
    EXPECT_EQ(run.dest.size(), c.dest_end);
  }
}

TEST(HeaderTranslation, RefusedAudioIsPrintedFirst) {
  SourcePlan plan = standard_source(15);
  plan.audio_header.fccHandler = 1;
  plan.audio_header.dwRate = 22050;
  plan.audio_header.dwSampleSize = 2;
  HeaderRun run = translate(testing::build_source(plan).bytes);
  EXPECT_FALSE(run.ok);
  const std::string tail =
      "auds.fccHandler = 1\nauds.dwRate= 22050\nauds.dwSampleSize= 2\nauds.dwScale= 1\n"
      "audio stream MUST be 8-bit mono\n";
  ASSERT_GE(run.output.size(), tail.size());
  EXPECT_EQ(run.output.substr(run.output.size() - tail.size()), tail);
}

TEST(HeaderTranslation, PrintsTheSourceValuesBeforeTheCameraValuesReplaceThem) {
  SourcePlan plan = standard_source(15);
  plan.main_header.dwMicroSecPerFrame = 40000;
  plan.main_header.dwMaxBytesPerSec = 4294967295u;
  HeaderRun run = translate(testing::build_source(plan).bytes);
  ASSERT_TRUE(run.ok);
  EXPECT_EQ(run.output.substr(0, run.output.find("auds.")),
            "dwMaxBytesPerSec = 4294967295\n"
            "dwMicroSecPerFrame = 40000\n"
            "dwWidth = 160\n"
            "dwHeight = 120\n"
            "dwTotalFrames = 15\n"
            "dwSuggestedBufferSize (MaxFrameSize) = 20000\n");
  EXPECT_EQ(load_u32(run.dest.data() + 32), 66666u);
  EXPECT_EQ(load_u32(run.dest.data() + 36), 300000u);
}

TEST(HeaderTranslation, ShortRecordsLeaveMissingFieldsZero) {
  SourcePlan plan = standard_source(15);
  plan.avih_size = 36;           // ends before dwHeight
  plan.video_strh_size = 32;     // ends before dwLength
  plan.main_header.dwHeight = 120;
  HeaderRun run = translate(testing::build_source(plan).bytes);
  ASSERT_TRUE(run.ok);
  EXPECT_EQ(load_u32(run.dest.data() + 64), 160u);  // dwWidth, inside the record
  EXPECT_EQ(load_u32(run.dest.data() + 68), 0u);    // dwHeight, beyond it
  EXPECT_EQ(load_u32(run.dest.data() + 140), 0u);   // video dwLength, beyond it
  EXPECT_EQ(load_u32(run.dest.data() + 148), 0u);   // dwQuality
}

// A second stream header declared shorter than 56 bytes shares its buffer with the first:
// the fields it does not supply are the first header's, as corrected for the camera.
TEST(HeaderTranslation, AShortSecondStreamHeaderReadsTheFirstOnesBytes) {
  SourcePlan plan = standard_source(15);
  plan.audio_strh_size = 20;  // supplies fccType to dwInitialFrames only
  HeaderRun run = translate(testing::build_source(plan).bytes);
  EXPECT_FALSE(run.ok);
  EXPECT_NE(run.output.find("auds.dwRate= 1000000\n"), std::string::npos);
  EXPECT_NE(run.output.find("auds.dwScale= 66666\n"), std::string::npos);
}

TEST(HeaderTranslation, TheHeaderAreaOfAConvertedSourceMatchesTheByteMap) {
  SourcePlan plan = standard_source(30, 800);
  plan.main_header.dwPaddingGranularity = 512;
  plan.main_header.dwReserved = {1, 2, 3, 4};
  plan.video_header.dwFlags = 0x20;
  plan.video_header.wLanguage = 9;
  plan.video_header.dwInitialFrames = 3;
  plan.video_header.dwStart = 5;
  plan.video_header.dwSampleSize = 7;
  plan.video_format.biXPelsPerMeter = 2835;
  plan.video_format.biClrUsed = 11;
  testing::Conversion result = testing::convert_bytes(testing::build_source(plan).bytes);
  ASSERT_EQ(result.status, ExitStatus::kCompleted) << result.output;
  Bytes expected = testing::expected_header_area(plan);
  store_u32(expected.data() + 4, static_cast<std::uint32_t>(result.dest.size() - 8));
  store_u32(expected.data() + 48, 30);      // two seconds of frames
  store_u32(expected.data() + 140, 30);
  store_u32(expected.data() + 264, 22048);  // and of audio
  ASSERT_GE(result.dest.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(result.dest[i], expected[i]) << "at offset " << i;
  }
}

}  // namespace
}  // namespace reelfix
