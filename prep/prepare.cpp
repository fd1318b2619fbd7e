#include "prep/prepare.h"

#include <algorithm>
#include <cinttypes>
#include <limits>
#include <new>
#include <optional>

#include "convert/camera_layout.h"
#include "convert/driver.h"
#include "platform/file.h"
#include "prep/av_support.h"
#include "prep/encoding_thread.h"
#include "prep/input.h"
#include "prep/jpeg_encoder.h"
#include "prep/options.h"
#include "prep/parts.h"
#include "prep/picture.h"
#include "prep/progress.h"
#include "prep/sound.h"
#include "prep/source_writer.h"
#include "prep/timestamps.h"

namespace reelfix::prep {
namespace {

// How much of the input, from its first picture on, the movies take: --length, and with
// --first-part-only never more than the camera plays. The one place where the camera's limit
// cuts the input; without it a longer input becomes several movies (prep/parts.h).
struct MovieLength {
  std::optional<std::int64_t> limit_us;  // none: all of it
  bool camera_limit = false;             // the limit is the camera's, not --length
};

MovieLength movie_length(const PrepOptions& options) {
  const std::int64_t camera_us = std::int64_t{MAX_SECONDS} * AV_TIME_BASE;
  if (options.first_part_only && (!options.length_us || *options.length_us > camera_us)) {
    return {camera_us, true};
  }
  return {options.length_us, false};
}

// A movie made, for the closing texts.
struct FinishedMovie {
  std::string name;
  ConversionSummary summary;  // the engine's account of it
  std::uint64_t size = 0;
};

// Everything one preparation works with.
struct Preparation {
  Preparation(const PrepOptions& run_options, Console& run_console, Progress& run_progress,
              std::vector<FinishedMovie>& finished_movies)
      : options(run_options),
        console(run_console),
        progress(run_progress),
        movies(finished_movies) {}

  const PrepOptions& options;
  Console& console;
  Progress& progress;
  std::vector<FinishedMovie>& movies;  // the movies completed so far, in order
  Input input;
  TimestampMending mending;
  Parts parts;
  std::int64_t samples = 0;  // movie samples handed to the parts so far
  SoundTrack sound;
  JpegEncoder encoder;
  std::optional<PictureFilter> filter;  // made for the first picture
  SecondBudget second;
  FramePtr decoded = make_frame();
  FramePtr filtered = make_frame();
  FramePtr last_picture = make_frame();  // repeated to complete the last second
  PacketPtr packet = make_packet();

  MovieLength length;
  // Timestamps of pictures are in the video stream's time base. The movie starts at t0, the
  // first picture at or after --start; from there on timestamps count from t0.
  std::int64_t start_pts = AV_NOPTS_VALUE;  // --start; none without it
  std::int64_t t0 = AV_NOPTS_VALUE;
  std::int64_t limit_pts = std::numeric_limits<std::int64_t>::max();  // pictures from here on
                                                                      //   are in no movie
  std::int64_t end_pts = 0;    // where the last picture taken ends
  bool cut = false;            // a picture at or past the limit was met
  bool pictures_done = false;  // no more pictures are wanted
  bool sound_done = false;     // no more sound is wanted
  std::int64_t frames = 0;     // camera frames written
  int damaged = 0;             // packets or frames the decoders could not use
  // Encodes the pictures and writes the movies while the input is read. Last, so that it has
  // stopped before anything it uses goes.
  EncodingThread encoding;
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

// Where the input's pictures end, in microseconds on the input's clock, when the file says.
std::optional<std::int64_t> pictures_end_us(const Input& in) {
  const AVStream& video = *in.video;
  if (video.duration > 0 && video.start_time != AV_NOPTS_VALUE) {
    return av_rescale_q(video.start_time + video.duration, video.time_base, kMicroseconds);
  }
  const AVFormatContext& format = *in.format;
  if (format.duration <= 0) return std::nullopt;
  return (format.start_time == AV_NOPTS_VALUE ? 0 : format.start_time) + format.duration;
}

// The names of the movies the input is expected to give: as many as its length makes parts,
// one with --first-part-only.
std::vector<std::string> planned_names(const Preparation& p, std::optional<double> seconds) {
  const int count = p.options.first_part_only || !seconds
                        ? 1
                        : part_count(static_cast<std::int64_t>(*seconds * AV_TIME_BASE));
  std::vector<std::string> names;
  for (int number = 1; number <= count; ++number) {
    names.push_back(part_name(p.options.output, number));
  }
  return names;
}

// Before any work: no movie may be the input, and none may exist unless -y allows it.
void check_names(const Preparation& p, const std::vector<std::string>& names) {
  std::vector<std::string> existing;
  for (const std::string& name : names) {
    if (platform::same_file(p.options.input, name)) {
      throw PrepError(ExitStatus::kSameFile, "Error: '" + p.options.input + "' and '" + name +
                                                 "' are one file. Nothing was converted.");
    }
    if (!p.options.overwrite && platform::name_exists(name)) existing.push_back(name);
  }
  if (existing.empty()) return;
  throw PrepError(ExitStatus::kRefused,
                  "Error: " + quoted_names(existing) +
                      (existing.size() == 1 ? " exists; give -y to replace it."
                                            : " exist; give -y to replace them.") +
                      " Nothing was converted.");
}

// The stretch of the input that the movies take: their length limit, the total the progress
// line shows, their names (checked), and --start, where reading begins: at the key frame
// before it, from where decoding reaches it.
void plan_movies(Preparation& p) {
  AVFormatContext* format = p.input.format.get();
  const std::int64_t first = format->start_time == AV_NOPTS_VALUE ? 0 : format->start_time;
  p.length = movie_length(p.options);
  std::optional<double> total;
  if (const std::optional<std::int64_t> end = pictures_end_us(p.input)) {
    std::int64_t length = std::max<std::int64_t>(0, *end - first - p.options.start_us);
    if (p.length.limit_us) length = std::min(length, *p.length.limit_us);
    total = static_cast<double>(length) / AV_TIME_BASE;
  }
  p.progress.total_seconds = total;
  const std::vector<std::string> names = planned_names(p, total);
  check_names(p, names);
  p.parts.input_name = p.options.input;
  p.parts.first_name = p.options.output;
  p.parts.planned = static_cast<int>(names.size());
  p.parts.overwrite = p.options.overwrite;
  p.mending = make_timestamp_mending(*format);
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
  add_picture(p.parts, p.frames, *p.encoder.packet);
  account_frame(p.second, stored);
  ++p.frames;
  show_progress(p.progress, static_cast<double>(p.frames) / FRAMES_PER_SECOND);
}

// The camera's pictures the filter has ready go to be encoded, on the encoding thread while it
// runs.
void encode_filtered_pictures(Preparation& p) {
  while (pull_picture(*p.filter, *p.filtered)) {
    if (encoding_thread_running(p.encoding)) {
      send_picture(p.encoding, *p.filtered);
    } else {
      encode_picture(p, *p.filtered);
    }
    av_frame_unref(p.filtered.get());
  }
}

// The movie's next samples, to the parts.
void store_sound(Preparation& p, const std::uint8_t* samples, std::size_t n) {
  add_samples(p.parts, p.samples, samples, n);
  p.samples += static_cast<std::int64_t>(n);
}

// The same, through the encoding thread while it runs.
void deliver_sound(Preparation& p, const std::uint8_t* samples, std::size_t n) {
  if (encoding_thread_running(p.encoding)) {
    send_sound(p.encoding, samples, n);
  } else {
    store_sound(p, samples, n);
  }
}

// The first picture of the movie sets t0, the sound's origin and the picture filter.
void start_movie(Preparation& p, AVFrame& frame, std::int64_t pts) {
  const AVStream& video = *p.input.video;
  p.t0 = pts;
  if (p.length.limit_us) {
    p.limit_pts = av_rescale_q(*p.length.limit_us, kMicroseconds, video.time_base);
    p.sound.timeline.limit = av_rescale(*p.length.limit_us, AUDIO_RATE, AV_TIME_BASE);
  }
  set_origin(p.sound.timeline, av_rescale_q(pts, video.time_base, kSampleTime));
  // The pixel shape as FFmpeg's command line takes it: the container's, else the frame's.
  const AVRational aspect =
      av_guess_sample_aspect_ratio(p.input.format.get(), p.input.video, &frame);
  p.filter = make_picture_filter(frame, video, aspect, p.options.fit, p.input.name);
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
  const std::int64_t position = pts == AV_NOPTS_VALUE
                                    ? continuing_position(p.sound)
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
    const int stream = p.packet->stream_index;
    if (stream == in.video->index && !p.pictures_done) {
      mend_timestamps(p.mending, *p.packet, *in.video);
      decode(p, *in.video_decoder, p.packet.get(), true);
    } else if (in.sound && stream == in.sound->index && !p.sound_done) {
      mend_timestamps(p.mending, *p.packet, *in.sound);
      decode(p, *in.sound_decoder, p.packet.get(), false);
    }
    av_packet_unref(p.packet.get());
  }
  // What the decoders still hold.
  if (!p.pictures_done) decode(p, *in.video_decoder, nullptr, true);
  if (!p.sound_done) decode(p, *in.sound_decoder, nullptr, false);
}

// The last pictures and sound: the last movie ends with its last whole second.
void finish_movies(Preparation& p) {
  if (p.t0 == AV_NOPTS_VALUE) {
    std::string reason = "no picture could be decoded";
    if (p.options.start_us > 0) reason += " at or after the start given";
    throw PrepError(ExitStatus::kRefused,
                    with_detail(failure_line("reading", p.input.name, reason)));
  }
  // The last picture lasts until the end of its time, at least one camera frame long.
  const std::int64_t one_frame = av_rescale_q(1, kPictureTime, p.input.video->time_base);
  const std::int64_t end = p.cut ? p.limit_pts : std::min(p.end_pts, p.limit_pts);
  end_pictures(*p.filter, std::max(end, one_frame));
  encode_filtered_pictures(p);
  // What follows needs the count of pictures written.
  finish_encoding_thread(p.encoding);
  while (p.frames % FRAMES_PER_SECOND != 0) encode_picture(p, *p.last_picture);

  finish_sound(p.sound);
  const std::int64_t seconds = p.frames / FRAMES_PER_SECOND;
  fill_with_silence(p.sound.timeline, seconds * AUDIO_RATE);
  finish_parts(p.parts, p.frames);
  platform::set_interruption_note("");
}

std::uint64_t size_of(const std::string& name) {
  platform::FileHandle file;
  std::string reason;
  if (!platform::open_for_reading(file, name, reason)) return 0;
  std::uint64_t size = platform::file_length(file);
  platform::close_file(file);
  return size;
}

// The engine converts a part's intermediate source into its movie. Its texts are its own
// business, except a failure's: its line on standard error passes on, and a refusal's last text
// becomes one when it printed none.
void convert_part(Preparation& p, Part& part, platform::ClockFunction clock) {
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
  ConversionSummary summary;
  const Outcome outcome = convert_avi(part.writer.temp_path, part.name, engine, clock, &summary);
  flush(engine);
  if (outcome == Outcome::kCompleted) {
    p.movies.push_back({part.name, summary, size_of(part.name)});
    std::vector<std::string> names;
    for (const FinishedMovie& movie : p.movies) names.push_back(movie.name);
    platform::set_interruption_note("Interrupted: " + quoted_names(names) +
                                    (names.size() == 1 ? " is" : " are") +
                                    " complete; the rest was not made.\n");
    return;
  }
  const ExitStatus status =
      outcome == Outcome::kRefused ? ExitStatus::kRefused : ExitStatus::kSystemFailure;
  if (told) throw PrepError(status, "");
  while (!said.empty() && (said.back() == '\n' || said.back() == '.')) said.pop_back();
  const std::string last = said.substr(said.find_last_of("\r\n") + 1);
  throw PrepError(status, failure_line("writing", part.name, last));
}

// One line for each movie made.
void report_movies(Console& out, const std::vector<FinishedMovie>& movies) {
  for (const FinishedMovie& movie : movies) {
    report_line(out,
                {"Wrote ", std::to_string(movie.summary.seconds),
                 movie.summary.seconds == 1 ? " second to '" : " seconds to '", movie.name,
                 "': ", std::to_string(movie.size), " bytes, the largest second ",
                 std::to_string(movie.summary.largest_second_video_bytes), " bytes of video."});
  }
}

void report_result(Preparation& p) {
  Console& out = p.console;
  const std::string& name = p.input.name;
  if (p.cut && p.length.camera_limit && !p.options.quiet) {
    report_line(out, {"Note: '", name, "' runs longer than ", std::to_string(MAX_SECONDS),
                      " seconds; with --first-part-only the movie holds its first ",
                      std::to_string(MAX_SECONDS), "."});
  }
  if (p.damaged > 0) {
    report_line(out, {"Warning: ", std::to_string(p.damaged), " packets of '", name,
                      "' could not be decoded and were left out."});
  }
  std::uint32_t seconds = 0;
  std::uint32_t over = 0;
  for (const FinishedMovie& movie : p.movies) {
    seconds += movie.summary.seconds;
    over += movie.summary.seconds_over_video_limit;
  }
  if (over > 0) {
    report_line(out, {"Warning: ", std::to_string(over), " of ", std::to_string(seconds),
                      " seconds hold more than ", std::to_string(MAX_VIDEO_BYTES_PER_SECOND),
                      " bytes of video even at the coarsest quantiser; the camera may not play "
                      "them smoothly."});
  }
  report_movies(out, p.movies);
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

  silence_ffmpeg_log();
  Progress progress;
  progress.shown = error_is_terminal && !options.quiet;
  progress.write = console.error;
  std::vector<FinishedMovie> movies;
  ExitStatus status = ExitStatus::kSystemFailure;
  std::string error;
  try {
    Preparation p(options, console, progress, movies);
    open_input(p.input, options.input);
    plan_movies(p);
    report_missing_sound(p);
    p.sound.input_name = options.input;
    p.sound.timeline.sink = [&p](const std::uint8_t* samples, std::size_t n) {
      deliver_sound(p, samples, n);
    };
    p.parts.convert = [&p, clock](Part& part) { convert_part(p, part, clock); };
    p.encoder = make_jpeg_encoder(options.output);
    p.encoding.picture = [&p](AVFrame& frame) { encode_picture(p, frame); };
    p.encoding.sound = [&p](const std::uint8_t* samples, std::size_t n) {
      store_sound(p, samples, n);
    };
    start_encoding_thread(p.encoding);
    read_input(p);
    finish_movies(p);
    end_progress(progress, static_cast<double>(p.frames) / FRAMES_PER_SECOND);
    report_result(p);
    return ExitStatus::kCompleted;
  } catch (const PrepError& failure) {
    status = failure.status;
    error = failure.what();
  } catch (const platform::FileError& failure) {
    error = failure_line(failure.operation, failure.file_name, failure.reason);
  } catch (const std::bad_alloc&) {
    error = failure_line("preparing", options.input, "out of memory");
  }
  // The movies completed before the failure stay, and are named.
  platform::set_interruption_note("");
  break_progress_line(progress);
  report_movies(console, movies);
  flush(console);
  if (!error.empty()) report_error_line(console, error);
  return status;
}

}  // namespace reelfix::prep
