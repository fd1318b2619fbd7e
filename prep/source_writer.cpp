#include "prep/source_writer.h"

#include <algorithm>
#include <cstring>

#include "convert/camera_layout.h"
#include "prep/fit.h"

namespace reelfix::prep {
namespace {

// A failed FFmpeg call: the file's own failure when the system refused a write, else FFmpeg's.
void check_writing(const SourceWriter& writer, int result, const char* doing) {
  if (result >= 0) return;
  rethrow_failure(writer.file);
  check(result, ExitStatus::kSystemFailure, doing, writer.output_name);
}

AVStream* add_stream(SourceWriter& writer) {
  AVStream* stream = avformat_new_stream(writer.format.get(), nullptr);
  if (stream == nullptr) throw std::bad_alloc();
  return stream;
}

void write_held_sound(SourceWriter& writer, std::size_t n) {
  PacketPtr packet = make_packet();
  check_writing(writer, av_new_packet(packet.get(), static_cast<int>(n)), "writing");
  std::memcpy(packet->data, writer.held.data(), n);
  packet->stream_index = writer.sound->index;
  packet->pts = packet->dts = writer.samples - static_cast<std::int64_t>(writer.held.size());
  packet->duration = static_cast<std::int64_t>(n);
  packet->flags |= AV_PKT_FLAG_KEY;
  av_packet_rescale_ts(packet.get(), kSampleTime, writer.sound->time_base);
  check_writing(writer, av_write_frame(writer.format.get(), packet.get()), "writing");
  writer.held.erase(writer.held.begin(), writer.held.begin() + static_cast<std::ptrdiff_t>(n));
}

}  // namespace

SourceWriter::~SourceWriter() {
  format.reset();
  avio.reset();
  close_quietly(file);
  if (!temp_path.empty()) platform::remove_temporary(temp_path);
}

void open_source_writer(SourceWriter& writer, const std::string& output_name) {
  writer.output_name = output_name;
  std::string reason;
  if (!platform::create_temporary_beside(output_name, writer.file.handle, writer.temp_path,
                                         reason)) {
    throw PrepError(ExitStatus::kRefused, failure_line("creating", output_name, reason));
  }
  writer.avio = make_writing_context(writer.file);
  AVFormatContext* format = nullptr;
  check_writing(writer, avformat_alloc_output_context2(&format, nullptr, "avi", nullptr),
                "setting up");
  writer.format.reset(format);
  format->pb = writer.avio.get();
  format->flags |= AVFMT_FLAG_BITEXACT;

  writer.video = add_stream(writer);
  AVCodecParameters& picture = *writer.video->codecpar;
  picture.codec_type = AVMEDIA_TYPE_VIDEO;
  picture.codec_id = AV_CODEC_ID_MJPEG;
  picture.width = kMovieWidth;
  picture.height = kMovieHeight;
  picture.sample_aspect_ratio = AVRational{1, 1};
  writer.video->time_base = kPictureTime;
  writer.video->avg_frame_rate = av_inv_q(kPictureTime);

  writer.sound = add_stream(writer);
  AVCodecParameters& sound = *writer.sound->codecpar;
  sound.codec_type = AVMEDIA_TYPE_AUDIO;
  sound.codec_id = AV_CODEC_ID_PCM_U8;
  av_channel_layout_default(&sound.ch_layout, 1);
  sound.sample_rate = static_cast<int>(AUDIO_RATE);
  sound.bits_per_coded_sample = 8;
  sound.block_align = 1;
  sound.bit_rate = std::int64_t{AUDIO_RATE} * 8;
  writer.sound->time_base = kSampleTime;

  check_writing(writer, avformat_write_header(format, nullptr), "writing");
}

void write_picture(SourceWriter& writer, AVPacket& jpeg) {
  jpeg.stream_index = writer.video->index;
  jpeg.pts = jpeg.dts = writer.frames++;
  jpeg.duration = 1;
  jpeg.flags |= AV_PKT_FLAG_KEY;
  av_packet_rescale_ts(&jpeg, kPictureTime, writer.video->time_base);
  check_writing(writer, av_write_frame(writer.format.get(), &jpeg), "writing");
}

void write_sound(SourceWriter& writer, const std::uint8_t* samples, std::size_t n) {
  writer.held.insert(writer.held.end(), samples, samples + n);
  writer.samples += static_cast<std::int64_t>(n);
  while (writer.held.size() >= AUDIO_RATE) write_held_sound(writer, AUDIO_RATE);
}

void close_source_writer(SourceWriter& writer) {
  if (!writer.held.empty()) write_held_sound(writer, writer.held.size());
  check_writing(writer, av_write_trailer(writer.format.get()), "writing");
  writer.format.reset();
  writer.avio.reset();
  platform::close_file(writer.file.handle);
}

}  // namespace reelfix::prep
