#include "convert/camera_layout.h"

#include <gtest/gtest.h>

namespace reelfix {
namespace {

// Each record's image, field by field at its offset: a field written to the wrong place or in
// the wrong byte order shows here.
TEST(CameraLayout, RecordsAreLittleEndianImagesWithFieldsInPlace) {
  AviStreamHeader strh;
  strh.fccType = fourcc("vids");
  strh.wPriority = 0x0102;
  strh.dwLength = 0x0A0B0C0D;
  strh.rcFrame = {-1, 2, 160, 120};
  auto image = encode(strh);
  EXPECT_EQ(std::string(image.begin(), image.begin() + 4), "vids");
  EXPECT_EQ(image[12], 0x02);
  EXPECT_EQ(image[13], 0x01);
  EXPECT_EQ(load_u32(image.data() + 32), 0x0A0B0C0Du);
  EXPECT_EQ(image[48], 0xFF);
  EXPECT_EQ(image[49], 0xFF);
  EXPECT_EQ(load_u16(image.data() + 52), 160);
  EXPECT_EQ(decode_avi_stream_header(image.data()), strh);

  AviFileHeader avih;
  avih.dwMicroSecPerFrame = 66666;
  avih.dwHeight = 120;
  avih.dwReserved[3] = 7;
  auto main_image = encode(avih);
  EXPECT_EQ(load_u32(main_image.data() + 0), 66666u);
  EXPECT_EQ(load_u32(main_image.data() + 36), 120u);
  EXPECT_EQ(load_u32(main_image.data() + 52), 7u);
  EXPECT_EQ(decode_avi_file_header(main_image.data()), avih);

  bminfo format;
  format.biWidth = -160;
  format.biBitCount = 24;
  format.biCompression = fourcc("MJPG");
  auto format_image = encode(format);
  EXPECT_EQ(load_u32(format_image.data() + 4), 0xFFFFFF60u);
  EXPECT_EQ(load_u16(format_image.data() + 14), 24);
  EXPECT_EQ(std::string(format_image.begin() + 16, format_image.begin() + 20), "MJPG");
  EXPECT_EQ(decode_bminfo(format_image.data()), format);

  WAVEFORMATEX wave{1, 1, 11024, 11024, 1, 8};
  auto wave_image = encode(wave);
  EXPECT_EQ(wave_image, (std::array<std::uint8_t, 16>{1, 0, 1, 0, 0x10, 0x2B, 0, 0, 0x10, 0x2B, 0,
                                                      0, 1, 0, 8, 0}));

  IndexEntry entry{fourcc("00dc"), AVIIF_KEYFRAME, 11036, 5420};
  std::uint8_t entry_image[16];
  encode(entry, entry_image);
  EXPECT_EQ(std::string(entry_image, entry_image + 4), "00dc");
  EXPECT_EQ(load_u32(entry_image + 4), 0x10u);
  EXPECT_EQ(load_u32(entry_image + 8), 11036u);
  EXPECT_EQ(decode_index_entry(entry_image), entry);
}

TEST(CameraLayout, TheHeaderAreaSizesAddUp) {
  EXPECT_EQ(HDRL_LIST_SIZE, 4 + 64 + (VIDEO_STRL_SIZE + 8) + (AUDIO_STRL_SIZE + 8) + (IDIT_SIZE + 8));
  EXPECT_EQ(VIDEO_STRL_SIZE, 4 + 64 + 48u);
  EXPECT_EQ(AUDIO_STRL_SIZE, 4 + 64 + 24u);
  EXPECT_EQ(12 + (8 + HDRL_LIST_SIZE) + (8 + INFO_LIST_SIZE) + (8 + JUNK_SIZE), HEADER_AREA_SIZE);
  EXPECT_EQ(FILLER_OFFSET + JUNK_SIZE, HEADER_AREA_SIZE);
}

}  // namespace
}  // namespace reelfix
