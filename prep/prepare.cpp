#include "prep/prepare.h"

#include <algorithm>
#include <cinttypes>
#include <new>
#include <optional>

#include "convert/camera_layout.h"
#include "convert/driver.h"
#include "platform/file.h"
#include "prep/av_support.h"
#include "prep/input.h"
#include "prep/jpeg_encoder.h"
#include "prep/options.h"
#include "prep/picture.h"
#include "prep/progress.h"
#include "prep/sound.h"
#include "prep/source_writer.h"

namespace reelfix::prep {
namespace {

const AVRational kMicroseconds{1, AV_TIME_BASE};
const AVRational kPictureTime{1, static_cast<int>(FRAMES_PER_SECOND)};
const AVRational kSampleTime{1, static_cast<int>(AUDIO_RATE)};

// How much of the input, from its first picture on, one movie takes: --length, and never more
// than the camera plays. The one place where the camera's limit cuts the input.
struct MovieLength {
  std::int64_t limit_us = 0;
  bool camera_limit = false;  // the limit is the camera's, not --length
};

MovieLength movie_length(const PrepOptions& options) {
  const std::int64_t camera_us = std::int64_t{MAX_SECONDS} * AV_TIME_BASE;
  if (options.length_us && *options.length_us <= camera_us) return {*options.length_us, false};
  return {camera_us, true};
}

// Everything one preparation works with.
struct Preparation {
  Preparation(const PrepOptions& run_options, Console& run_console, Progress& run_progress)
      : options(run_options), console(run_console), progress(run_progress) {}

  const PrepOptions& options;
  Console& console;
  Progress& progress;
  Input input;
  SourceWriter writer;
  SoundTrack sound;
  JpegEncoder encoder;
  std::optional<PictureFilter> filter;  // made for the first picture
  SecondBudget second;
  ConversionSummary summary;  // the engine's account of the movie
  FramePtr decoded = make_frame();
  FramePtr filtered = make_frame();
  FramePtr last_picture = make_frame();  // repeated to complete the last second
  PacketPtr packet = make_packet();

  MovieLength length;
  // Timestamps of pictures are in the video stream's time base. The movie starts at t0, the
  // first picture at or after --start; from there on timestamps count from t0.
  std::int64_t start_pts = AV_NOPTS_VALUE;  // --start; none without it
  std::int64_t t0 = AV_NOPTS_VALUE;
  std::int64_t limit_pts = 0;  // pictures from here on are not in the movie
  std::int64_t end_pts = 0;    // where the last picture taken ends
  bool cut = false;            // a picture at or past the limit was met
  bool pictures_done = false;  // no more pictures are wanted
  bool sound_done = false;     // no more sound is wanted
  std::int64_t frames = 0;     // camera frames written
  int damaged = 0;             // packets or frames the decoders could not use
};

void report_missing_sound(Preparation& p) {
  const Input& in = p.input;
  if (in.undecodable_sound != nullptr) {
    report_line(p.console, {"Warning: FFmpeg has no decoder for the sound of '", in.name, "' (",
                            avcodec_get_name(in.undecodable_sound->codecpar->codec_id),
                            "); the movie is silent."});
  } else if (in.sound == nullptr && !p.options.quiet) {
    report_line(p.console, {"Note: '", in.name, "' has no sound; the movie is silent."});
  }
}

// The stretch of the input that the movie takes: its length limit, the total the progress line
// shows, and --start, where reading begins: at the key frame before it, from where decoding
// reaches it.
void plan_movie(Preparation& p) {
  AVFormatContext* format = p.input.format.get();
  const std::int64_t first = format->start_time == AV_NOPTS_VALUE ? 0 : format->start_time;
  p.length = movie_length(p.options);
  std::optional<double> total;
  if (format->duration > 0) {
    total =
        static_cast<double>(std::min(p.length.limit_us, format->duration - p.options.start_us)) /
        AV_TIME_BASE;
  }
  p.progress.total_seconds = total;
  if (p.options.start_us == 0) return;
  const std::int64_t target = first + p.options.start_us;
  p.start_pts = av_rescale_q(target, kMicroseconds, p.input.video->time_base);
  // Where seeking fails, decoding from the beginning reaches the start as well.
  avformat_seek_file(format, -1, INT64_MIN, target, target, 0);
}

// The time of a picture of the input that has no duration of its own.
std::int64_t usual_duration(const AVStream& video) {
  AVRational rate = video.avg_frame_rate.num > 0 ? video.avg_frame_rate : video.r_frame_rate;
  if (rate.num <= 0 || rate.den <= 0) rate = av_inv_q(kPictureTime);
  return std::max<std::int64_t>(1, av_rescale_q(1, av_inv_q(rate), video.time_base));
}

void encode_picture(Preparation& p, AVFrame& frame) {
  if (&frame != p.last_picture.get()) {
    av_frame_unref(p.last_picture.get());
    check(av_frame_ref(p.last_picture.get(), &frame), ExitStatus::kSystemFailure,
          "keeping a picture of", p.input.name);
  }
  const std::int64_t stored = encode_within(p.encoder, frame, next_frame_budget(p.second));
  write_picture(p.writer, *p.encoder.packet);
  account_frame(p.second, stored);
  ++p.frames;
  show_progress(p.progress, static_cast<double>(p.frames) / FRAMES_PER_SECOND);
}

void encode_filtered_pictures(Preparation& p) {
  while (pull_picture(*p.filter, *p.filtered)) {
    encode_picture(p, *p.filtered);
    av_frame_unref(p.filtered.get());
  }
}

// The first picture of the movie sets t0, the sound's origin and the picture filter.
void start_movie(Preparation& p, AVFrame& frame, std::int64_t pts) {
  const AVStream& video = *p.input.video;
  p.t0 = pts;
  p.limit_pts = av_rescale_q(p.length.limit_us, kMicroseconds, video.time_base);
  p.sound.timeline.limit = av_rescale(p.length.limit_us, AUDIO_RATE, AV_TIME_BASE);
  set_origin(p.sound.timeline, av_rescale_q(pts, video.time_base, kSampleTime));
  // The pixel shape as FFmpeg's command line takes it: the container's, else the frame's.
  const AVRational aspect =
      av_guess_sample_aspect_ratio(p.input.format.get(), p.input.video, &frame);
  p.filter = make_picture_filter(frame, video.time_base, aspect, p.options.fit, p.input.name);
}

void take_picture(Preparation& p, AVFrame& frame) {
  std::int64_t pts = frame.best_effort_timestamp;
  if (pts == AV_NOPTS_VALUE) {
    if (p.t0 == AV_NOPTS_VALUE) return;  // nothing to place it by yet
    pts = p.t0 + p.end_pts;              // right behind the picture before
  }
  if (p.start_pts != AV_NOPTS_VALUE && pts < p.start_pts) return;
  if (p.t0 == AV_NOPTS_VALUE) start_movie(p, frame, pts);
  const std::int64_t relative = pts - p.t0;
  if (relative >= p.limit_pts) {
    p.cut = true;
    p.pictures_done = true;
    return;
  }
  const std::int64_t duration =
      frame.pkt_duration > 0 ? frame.pkt_duration : usual_duration(*p.input.video);
  p.end_pts = std::max(p.end_pts, relative + duration);
  frame.pts = relative;
  push_picture(*p.filter, frame);
  encode_filtered_pictures(p);
}

void take_sound(Preparation& p, const AVFrame& frame) {
  const std::int64_t pts = frame.best_effort_timestamp;
  // A frame without a time continues the sound before it.
  const std::int64_t position =
      pts == AV_NOPTS_VALUE
          ? p.sound.next +
                (p.sound.resampler ? swr_get_delay(p.sound.resampler.get(), AUDIO_RATE) : 0)
          : av_rescale_q(pts, p.input.sound->time_base, kSampleTime);
  const SoundTimeline& timeline = p.sound.timeline;
  if (timeline.origin && position - *timeline.origin >= timeline.limit) {
    p.sound_done = true;
    return;
  }
  add_sound(p.sound, frame, position);
}

// Sends a packet (none: the end) to a decoder and takes what it gives. A packet or frame the
// decoder cannot use is counted and left out.
void decode(Preparation& p, AVCodecContext& decoder, const AVPacket* packet, bool pictures) {
  int sent = avcodec_send_packet(&decoder, packet);
  if (sent == AVERROR(ENOMEM)) throw std::bad_alloc();
  if (sent < 0 && sent != AVERROR_EOF) ++p.damaged;
  for (;;) {
    const int got = avcodec_receive_frame(&decoder, p.decoded.get());
    if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return;
    if (got == AVERROR(ENOMEM)) throw std::bad_alloc();
    if (got < 0) {
      ++p.damaged;
      return;
    }
    if (pictures && !p.pictures_done) take_picture(p, *p.decoded);
    if (!pictures && !p.sound_done) take_sound(p, *p.decoded);
    av_frame_unref(p.decoded.get());
  }
}

void read_input(Preparation& p) {
  Input& in = p.input;
  p.sound_done = in.sound == nullptr;
  while (!p.pictures_done || !p.sound_done) {
    const int read = av_read_frame(in.format.get(), p.packet.get());
    if (read < 0) {
      rethrow_failure(in.file);
      if (read == AVERROR(ENOMEM)) throw std::bad_alloc();
      if (read != AVERROR_EOF) ++p.damaged;  // the rest of the file cannot be read
      break;
    }
    if (p.packet->stream_index == in.video->index && !p.pictures_done) {
      decode(p, *in.video_decoder, p.packet.get(), true);
    } else if (in.sound && p.packet->stream_index == in.sound->index && !p.sound_done) {
      decode(p, *in.sound_decoder, p.packet.get(), false);
    }
    av_packet_unref(p.packet.get());
  }
  // What the decoders still hold.
  if (!p.pictures_done) decode(p, *in.video_decoder, nullptr, true);
  if (!p.sound_done) decode(p, *in.sound_decoder, nullptr, false);
}

// The last pictures and sound: the movie ends with its last whole second.
void finish_movie(Preparation& p) {
  if (p.t0 == AV_NOPTS_VALUE) {
    throw PrepError(
        ExitStatus::kRefused,
        with_detail("Error: reading '" + p.input.name + "' failed: no picture could be decoded" +
                    (p.options.start_us > 0 ? " at or after the start given" : "")));
  }
  // The last picture lasts until the end of its time, at least one camera frame long.
  const std::int64_t one_frame = av_rescale_q(1, kPictureTime, p.input.video->time_base);
  const std::int64_t end = p.cut ? p.limit_pts : std::min(p.end_pts, p.limit_pts);
  end_pictures(*p.filter, std::max(end, one_frame));
  encode_filtered_pictures(p);
  while (p.frames % FRAMES_PER_SECOND != 0) encode_picture(p, *p.last_picture);

  finish_sound(p.sound);
  const std::int64_t seconds = p.frames / FRAMES_PER_SECOND;
  fill_with_silence(p.sound.timeline, seconds * AUDIO_RATE);
  close_source_writer(p.writer);
}

// The engine converts the intermediate source into the output. Its texts are its own business,
// except a failure's: its line on standard error passes on, and a refusal's last text becomes
// one when it printed none.
void convert_source(Preparation& p, platform::ClockFunction clock) {
  std::string said;
  bool told = false;
  Console engine;
  engine.output = [&said](std::string_view text) {
    said.append(text);
    return true;
  };
  engine.error = [&p, &told](std::string_view text) {
    told = true;
    return p.console.error(text);
  };
  flush(p.console);
  const Outcome outcome =
      convert_avi(p.writer.temp_path, p.options.output, engine, clock, &p.summary);
  flush(engine);
  if (outcome == Outcome::kCompleted) return;
  const ExitStatus status =
      outcome == Outcome::kRefused ? ExitStatus::kRefused : ExitStatus::kSystemFailure;
  if (told) throw PrepError(status, "");
  while (!said.empty() && (said.back() == '\n' || said.back() == '.')) said.pop_back();
  const std::string last = said.substr(said.find_last_of("\r\n") + 1);
  throw PrepError(status, "Error: writing '" + p.options.output + "' failed: " + last);
}

std::uint64_t size_of(const std::string& name) {
  platform::FileHandle file;
  std::string reason;
  if (!platform::open_for_reading(file, name, reason)) return 0;
  std::uint64_t size = platform::file_length(file);
  platform::close_file(file);
  return size;
}

void report_result(Preparation& p) {
  Console& out = p.console;
  const std::string& name = p.input.name;
  if (p.cut && p.length.camera_limit && !p.options.quiet) {
    report_line(out, {"Note: '", name, "' runs longer than ", std::to_string(MAX_SECONDS),
                      " seconds; the movie holds its first ", std::to_string(MAX_SECONDS), "."});
  }
  if (p.damaged > 0) {
    report_line(out, {"Warning: ", std::to_string(p.damaged), " packets of '", name,
                      "' could not be decoded and were left out."});
  }
  const ConversionSummary& movie = p.summary;
  if (movie.seconds_over_video_limit > 0) {
    report_line(out, {"Warning: ", std::to_string(movie.seconds_over_video_limit), " of ",
                      std::to_string(movie.seconds), " seconds hold more than ",
                      std::to_string(MAX_VIDEO_BYTES_PER_SECOND),
                      " bytes of video even at the coarsest quantiser; the camera may not play "
                      "them smoothly."});
  }
  report_line(out, {"Wrote ", std::to_string(movie.seconds), " seconds to '", p.options.output,
                    "': ", std::to_string(size_of(p.options.output)), " bytes, the largest second ",
                    std::to_string(movie.largest_second_video_bytes), " bytes of video."});
}

}  // namespace

ExitStatus run_reelprep(const std::vector<std::string>& arguments, Console& console,
                        bool error_is_terminal, platform::ClockFunction clock) {
  ParsedCommandLine command_line = parse_command_line(arguments);
  if (!command_line.options) {
    report_text(console, command_line.output);
    flush(console);
    if (!command_line.error.empty() && console.error) console.error(command_line.error);
    return command_line.status;
  }
  const PrepOptions& options = *command_line.options;
  if (platform::same_file(options.input, options.output)) {
    report_error_line(console, "Error: '" + options.input + "' and '" + options.output +
                                   "' are one file. Nothing was converted.");
    return ExitStatus::kSameFile;
  }
  if (!options.overwrite && platform::name_exists(options.output)) {
    report_error_line(console, "Error: '" + options.output +
                                   "' exists; give -y to replace it. Nothing was converted.");
    return ExitStatus::kRefused;
  }

  silence_ffmpeg_log();
  Progress progress;
  progress.shown = error_is_terminal && !options.quiet;
  progress.write = console.error;
  try {
    Preparation p(options, console, progress);
    open_input(p.input, options.input);
    report_missing_sound(p);
    plan_movie(p);
    p.sound.input_name = options.input;
    p.sound.timeline.sink = [&p](const std::uint8_t* samples, std::size_t n) {
      write_sound(p.writer, samples, n);
    };
    p.encoder = make_jpeg_encoder(options.output);
    open_source_writer(p.writer, options.output);
    read_input(p);
    finish_movie(p);
    end_progress(progress, static_cast<double>(p.frames) / FRAMES_PER_SECOND);
    convert_source(p, clock);
    report_result(p);
    return ExitStatus::kCompleted;
  } catch (const PrepError& error) {
    break_progress_line(progress);
    if (error.what()[0] != '\0') report_error_line(console, error.what());
    return error.status;
  } catch (const platform::FileError& error) {
    break_progress_line(progress);
    report_error_line(console, "Error: " + error.operation + " '" + error.file_name +
                                   "' failed: " + error.reason);
  } catch (const std::bad_alloc&) {
    break_progress_line(progress);
    report_error_line(console, "Error: preparing '" + options.input + "' failed: out of memory");
  }
  return ExitStatus::kSystemFailure;
}

}  // namespace reelfix::prep
