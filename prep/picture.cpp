#include "prep/picture.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
}

#include <new>

namespace reelfix::prep {
namespace {

struct InOutFreer {
  void operator()(AVFilterInOut* list) const { avfilter_inout_free(&list); }
};
using InOutPtr = std::unique_ptr<AVFilterInOut, InOutFreer>;

InOutPtr make_inout(const char* name, AVFilterContext* context) {
  InOutPtr list(avfilter_inout_alloc());
  if (!list) throw std::bad_alloc();
  list->name = av_strdup(name);
  if (list->name == nullptr) throw std::bad_alloc();
  list->filter_ctx = context;
  list->pad_idx = 0;
  list->next = nullptr;
  return list;
}

}  // namespace

PictureFilter make_picture_filter(const AVFrame& first, AVRational time_base, AVRational aspect,
                                  FitMode mode, const std::string& input_name) {
  PictureFilter filter;
  filter.input_name = input_name;
  filter.graph.reset(avfilter_graph_alloc());
  if (!filter.graph) throw std::bad_alloc();
  if (aspect.num <= 0 || aspect.den <= 0) aspect = AVRational{1, 1};

  const char* doing = "setting up the picture filter for";
  const ExitStatus status = ExitStatus::kRefused;
  const std::string source_arguments =
      "video_size=" + std::to_string(first.width) + "x" + std::to_string(first.height) +
      ":pix_fmt=" + std::to_string(first.format) + ":time_base=" + std::to_string(time_base.num) +
      "/" + std::to_string(time_base.den) + ":pixel_aspect=" + std::to_string(aspect.num) + "/" +
      std::to_string(aspect.den);
  check(avfilter_graph_create_filter(&filter.source, avfilter_get_by_name("buffer"), "in",
                                     source_arguments.c_str(), nullptr, filter.graph.get()),
        status, doing, input_name);
  check(avfilter_graph_create_filter(&filter.sink, avfilter_get_by_name("buffersink"), "out",
                                     nullptr, nullptr, filter.graph.get()),
        status, doing, input_name);

  const Placement placement = fit_picture(first.width, first.height, aspect.num, aspect.den, mode);
  const std::string chain = picture_filter_description(placement, mode);
  // The chain's open input is fed by "in", its open output feeds "out".
  InOutPtr outputs = make_inout("in", filter.source);
  InOutPtr inputs = make_inout("out", filter.sink);
  AVFilterInOut* open_inputs = inputs.release();
  AVFilterInOut* open_outputs = outputs.release();
  const int parsed = avfilter_graph_parse_ptr(filter.graph.get(), chain.c_str(), &open_inputs,
                                              &open_outputs, nullptr);
  avfilter_inout_free(&open_inputs);
  avfilter_inout_free(&open_outputs);
  check(parsed, status, doing, input_name);
  check(avfilter_graph_config(filter.graph.get(), nullptr), status, doing, input_name);
  return filter;
}

void push_picture(PictureFilter& filter, AVFrame& frame) {
  if (frame.colorspace == AVCOL_SPC_UNSPECIFIED) {
    frame.colorspace = frame.height >= 720 ? AVCOL_SPC_BT709 : AVCOL_SPC_SMPTE170M;
  }
  // The source takes over the frame's references and leaves it empty.
  check(av_buffersrc_add_frame_flags(filter.source, &frame, 0), ExitStatus::kRefused,
        "filtering the picture of", filter.input_name);
}

void end_pictures(PictureFilter& filter, std::int64_t end_pts) {
  check(av_buffersrc_close(filter.source, end_pts, 0), ExitStatus::kRefused,
        "filtering the picture of", filter.input_name);
}

bool pull_picture(PictureFilter& filter, AVFrame& frame) {
  const int result = av_buffersink_get_frame(filter.sink, &frame);
  if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return false;
  check(result, ExitStatus::kRefused, "filtering the picture of", filter.input_name);
  return true;
}

}  // namespace reelfix::prep
