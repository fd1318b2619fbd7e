#include "prep/jpeg_encoder.h"

extern "C" {
#include <libavutil/opt.h>
}

#include <algorithm>
#include <climits>

#include "convert/camera_layout.h"
#include "convert/jpeg_fixup.h"
#include "prep/fit.h"

namespace reelfix::prep {

int lowest_fitting_quantiser(int guess, const std::function<bool(int)>& fits) {
  int q = std::clamp(guess, kFinestQuantiser, kCoarsestQuantiser);
  // Find a pair lo < hi where lo does not fit and hi does (or the ends of the range), moving
  // away from the guess in growing steps, then halve the gap.
  int lo;
  int hi;
  if (fits(q)) {
    hi = q;
    lo = kFinestQuantiser - 1;  // taken as not fitting without asking
    for (int step = 1; hi > kFinestQuantiser; step *= 2) {
      const int finer = std::max(kFinestQuantiser, hi - step);
      if (!fits(finer)) {
        lo = finer;
        break;
      }
      hi = finer;
    }
  } else {
    lo = q;
    hi = kCoarsestQuantiser + 1;
    for (int step = 1; lo < kCoarsestQuantiser; step *= 2) {
      const int coarser = std::min(kCoarsestQuantiser, lo + step);
      if (fits(coarser)) {
        hi = coarser;
        break;
      }
      lo = coarser;
    }
    if (hi > kCoarsestQuantiser) return kCoarsestQuantiser;  // asked, and it did not fit
  }
  while (hi - lo > 1) {
    const int middle = lo + (hi - lo) / 2;
    if (fits(middle)) {
      hi = middle;
    } else {
      lo = middle;
    }
  }
  return hi;
}

std::int64_t next_frame_budget(const SecondBudget& second) {
  const int left = static_cast<int>(FRAMES_PER_SECOND) - second.frames;
  const std::int64_t left_over = std::int64_t{MAX_VIDEO_BYTES_PER_SECOND} - second.used;
  return std::max<std::int64_t>(0, left_over) / std::max(left, 1);
}

void account_frame(SecondBudget& second, std::int64_t stored_size) {
  second.used += stored_size;
  if (++second.frames == static_cast<int>(FRAMES_PER_SECOND)) second = SecondBudget{};
}

JpegEncoder make_jpeg_encoder(const std::string& output_name) {
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
  if (codec == nullptr) {
    throw PrepError(ExitStatus::kSystemFailure, "Error: this FFmpeg has no MJPEG encoder");
  }
  JpegEncoder encoder;
  encoder.output_name = output_name;
  encoder.codec.reset(avcodec_alloc_context3(codec));
  if (!encoder.codec) throw std::bad_alloc();
  AVCodecContext& c = *encoder.codec;
  c.width = kMovieWidth;
  c.height = kMovieHeight;
  c.pix_fmt = AV_PIX_FMT_YUVJ420P;
  c.color_range = AVCOL_RANGE_JPEG;
  c.sample_aspect_ratio = AVRational{1, 1};
  c.time_base = kPictureTime;
  c.framerate = av_inv_q(kPictureTime);
  // The quantiser comes with each frame; no encoder signature in the frames.
  c.flags |= AV_CODEC_FLAG_QSCALE | AV_CODEC_FLAG_BITEXACT;
  c.qmin = kFinestQuantiser;
  c.qmax = kCoarsestQuantiser;
  // One thread: every frame is encoded, measured and perhaps encoded again before the next.
  c.thread_count = 1;
  const char* doing = "setting up the MJPEG encoder for";
  check(av_opt_set(c.priv_data, "huffman", "default", 0), ExitStatus::kSystemFailure, doing,
        output_name);
  check(avcodec_open2(&c, codec, nullptr), ExitStatus::kSystemFailure, doing, output_name);
  encoder.packet = make_packet();
  return encoder;
}

std::int64_t encode_at(JpegEncoder& encoder, AVFrame& frame, int q, AVPacket& packet) {
  frame.quality = q * FF_QP2LAMBDA;
  frame.pts = encoder.trial_pts++;
  frame.pict_type = AV_PICTURE_TYPE_NONE;
  const char* doing = "encoding the pictures of";
  av_packet_unref(&packet);
  check(avcodec_send_frame(encoder.codec.get(), &frame), ExitStatus::kSystemFailure, doing,
        encoder.output_name);
  check(avcodec_receive_packet(encoder.codec.get(), &packet), ExitStatus::kSystemFailure, doing,
        encoder.output_name);
  return static_cast<std::int64_t>(fixed_frame_length(static_cast<std::size_t>(packet.size)));
}

std::int64_t encode_within(JpegEncoder& encoder, AVFrame& frame, std::int64_t budget) {
  PacketPtr trial = make_packet();
  int kept_quantiser = INT_MAX;
  std::int64_t kept_size = 0;
  auto fits = [&](int q) {
    const std::int64_t size = encode_at(encoder, frame, q, *trial);
    const bool within = size <= budget;
    // The finest frame that fits is kept, or the coarsest when nothing fits.
    if ((within || q == kCoarsestQuantiser) && q < kept_quantiser) {
      av_packet_unref(encoder.packet.get());
      av_packet_move_ref(encoder.packet.get(), trial.get());
      kept_quantiser = q;
      kept_size = size;
    }
    return within;
  };
  lowest_fitting_quantiser(encoder.quantiser, fits);
  encoder.quantiser = kept_quantiser;
  return kept_size;
}

}  // namespace reelfix::prep
