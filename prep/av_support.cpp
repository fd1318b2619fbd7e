#include "prep/av_support.h"

#include <cstdarg>
#include <mutex>
#include <new>

namespace reelfix::prep {
namespace {

// Decoder threads log too, so the kept message is guarded.
std::mutex g_detail_mutex;
std::string g_detail;

extern "C" void keep_error_message(void* object, int level, const char* format, va_list arguments) {
  if (level > AV_LOG_ERROR) return;
  char line[1024];
  int print_prefix = 0;  // the message alone, without "[mov,mp4,... @ 0x...]"
  if (av_log_format_line2(object, level, format, arguments, line, sizeof line, &print_prefix) < 0) {
    return;
  }
  std::string text(line);
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  if (text.empty()) return;
  std::lock_guard<std::mutex> lock(g_detail_mutex);
  g_detail = std::move(text);
}

}  // namespace

FramePtr make_frame() {
  FramePtr frame(av_frame_alloc());
  if (!frame) throw std::bad_alloc();
  return frame;
}

PacketPtr make_packet() {
  PacketPtr packet(av_packet_alloc());
  if (!packet) throw std::bad_alloc();
  return packet;
}

PrepError::PrepError(ExitStatus exit_status, const std::string& line)
    : std::runtime_error(line), status(exit_status) {}

std::string failure_line(const std::string& doing, const std::string& file,
                         const std::string& reason) {
  return "Error: " + doing + " '" + file + "' failed: " + reason;
}

std::string av_error_text(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  if (av_strerror(code, text, sizeof text) < 0) return "error " + std::to_string(code);
  return text;
}

int check(int result, ExitStatus status, const char* doing, const std::string& file) {
  if (result >= 0) return result;
  if (result == AVERROR(ENOMEM)) throw std::bad_alloc();
  throw PrepError(status, failure_line(doing, file, av_error_text(result)));
}

void silence_ffmpeg_log() { av_log_set_callback(keep_error_message); }

std::string take_ffmpeg_detail() {
  std::lock_guard<std::mutex> lock(g_detail_mutex);
  std::string detail;
  detail.swap(g_detail);
  return detail;
}

std::string with_detail(const std::string& line) {
  const std::string detail = take_ffmpeg_detail();
  return detail.empty() ? line : line + " (" + detail + ")";
}

}  // namespace reelfix::prep
