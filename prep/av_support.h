// FFmpeg's objects owned by C++, the time bases reelprep counts in, and the one way a run of
// reelprep ends early.
//
// Each FFmpeg object lives in a std::unique_ptr with its own freeing function, so every way out
// of a function frees what it made. A failure that ends the run is a PrepError carrying the line
// for standard error and the exit status; it is caught once, where the status is decided.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
}

#include <memory>
#include <stdexcept>
#include <string>

#include "cli/front_end.h"
#include "convert/camera_layout.h"

namespace reelfix::prep {

// Microseconds (FFmpeg's AV_TIME_BASE), the camera's pictures and its sound samples.
inline constexpr AVRational kMicroseconds{1, AV_TIME_BASE};
inline constexpr AVRational kPictureTime{1, static_cast<int>(FRAMES_PER_SECOND)};
inline constexpr AVRational kSampleTime{1, static_cast<int>(AUDIO_RATE)};

struct InputCloser {
  void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct OutputFreer {
  void operator()(AVFormatContext* context) const { avformat_free_context(context); }
};
struct CodecFreer {
  void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameFreer {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketFreer {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct GraphFreer {
  void operator()(AVFilterGraph* graph) const { avfilter_graph_free(&graph); }
};
struct ResamplerFreer {
  void operator()(SwrContext* resampler) const { swr_free(&resampler); }
};

using InputPtr = std::unique_ptr<AVFormatContext, InputCloser>;
using OutputPtr = std::unique_ptr<AVFormatContext, OutputFreer>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFreer>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;
using GraphPtr = std::unique_ptr<AVFilterGraph, GraphFreer>;
using ResamplerPtr = std::unique_ptr<SwrContext, ResamplerFreer>;

// New, empty objects; std::bad_alloc when there is no memory for them.
FramePtr make_frame();
PacketPtr make_packet();

// The run cannot go on. `what` is the whole line for standard error, without its line end.
struct PrepError : std::runtime_error {
  PrepError(ExitStatus status, const std::string& line);
  ExitStatus status;
};

// The line a failure ends the run with: "Error: <doing> '<file>' failed: <reason>".
std::string failure_line(const std::string& doing, const std::string& file,
                         const std::string& reason);

// FFmpeg's words for an error code (av_strerror).
std::string av_error_text(int code);

// Returns `result` when it is not negative. Otherwise throws: std::bad_alloc for
// AVERROR(ENOMEM), else a PrepError with `status` and the failure line with FFmpeg's reason.
int check(int result, ExitStatus status, const char* doing, const std::string& file);

// FFmpeg's own log goes nowhere: reelprep prints one line per failure itself. The last message
// of error level that FFmpeg logged (such as "moov atom not found") is kept, because it tells
// more than the error code; this takes it and forgets it. Empty when there was none.
void silence_ffmpeg_log();
std::string take_ffmpeg_detail();

// The line with that message behind it in parentheses, when there is one.
std::string with_detail(const std::string& line);

}  // namespace reelfix::prep
