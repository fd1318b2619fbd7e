#include "prep/input.h"

#include <new>

namespace reelfix::prep {

Input::~Input() {
  format.reset();
  avio.reset();
  close_quietly(file);
}

void check_reading(const Input& input, int result) {
  if (result >= 0) return;
  rethrow_failure(input.file);
  if (result == AVERROR(ENOMEM)) throw std::bad_alloc();
  throw PrepError(ExitStatus::kRefused,
                  with_detail(failure_line("reading", input.name, av_error_text(result))));
}

namespace {

CodecPtr open_decoder(const Input& input, const AVStream& stream, const AVCodec& codec,
                      bool frame_threads) {
  CodecPtr decoder(avcodec_alloc_context3(&codec));
  if (!decoder) throw std::bad_alloc();
  check_reading(input, avcodec_parameters_to_context(decoder.get(), stream.codecpar));
  decoder->pkt_timebase = stream.time_base;
  if (frame_threads) {
    decoder->thread_count = 0;  // as many as the machine has
    decoder->thread_type = FF_THREAD_FRAME;
  }
  check_reading(input, avcodec_open2(decoder.get(), &codec, nullptr));
  return decoder;
}

std::string codec_name(const AVStream& stream) {
  return avcodec_get_name(stream.codecpar->codec_id);
}

}  // namespace

void open_input(Input& in, const std::string& name) {
  in.name = name;
  std::string reason;
  if (!platform::open_for_reading(in.file.handle, in.name, reason)) {
    throw PrepError(ExitStatus::kRefused, failure_line("opening", in.name, reason));
  }
  in.avio = make_reading_context(in.file);
  AVFormatContext* format = avformat_alloc_context();
  if (format == nullptr) throw std::bad_alloc();
  format->pb = in.avio.get();
  // On failure FFmpeg frees the context itself.
  check_reading(in, avformat_open_input(&format, in.name.c_str(), nullptr, nullptr));
  in.format.reset(format);
  check_reading(in, avformat_find_stream_info(format, nullptr));

  const int video = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (video < 0) {
    throw PrepError(ExitStatus::kRefused, "Error: '" + in.name + "' holds no video stream");
  }
  in.video = format->streams[video];
  const AVCodec* video_codec = avcodec_find_decoder(in.video->codecpar->codec_id);
  if (video_codec == nullptr) {
    const std::string reason =
        "FFmpeg has no decoder for its video (" + codec_name(*in.video) + ")";
    throw PrepError(ExitStatus::kRefused, failure_line("reading", in.name, reason));
  }
  in.video_decoder = open_decoder(in, *in.video, *video_codec, true);

  const int sound = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, video, nullptr, 0);
  if (sound >= 0) {
    AVStream* stream = format->streams[sound];
    const AVCodec* sound_codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (sound_codec != nullptr) {
      in.sound = stream;
      in.sound_decoder = open_decoder(in, *stream, *sound_codec, false);
    } else {
      in.undecodable_sound = stream;
    }
  }
  // The demuxer hands out only the packets of the two streams.
  for (unsigned i = 0; i < format->nb_streams; ++i) {
    if (format->streams[i] != in.video && format->streams[i] != in.sound) {
      format->streams[i]->discard = AVDISCARD_ALL;
    }
  }
}

}  // namespace reelfix::prep
