#include "prep/encoding_thread.h"

namespace reelfix::prep {
namespace {

// Entries the queue holds at most: some pictures of 115 KB and the sound between them.
constexpr std::size_t kMaxQueued = 32;

void run(EncodingThread& encoding) {
  for (;;) {
    EncodingThread::Entry entry;
    {
      std::unique_lock<std::mutex> lock(encoding.mutex);
      encoding.changed.wait(lock, [&] { return !encoding.queue.empty() || encoding.ending; });
      if (encoding.queue.empty()) return;
      entry = std::move(encoding.queue.front());
      encoding.queue.pop_front();
    }
    encoding.changed.notify_all();
    try {
      if (entry.picture) {
        encoding.picture(*entry.picture);
      } else {
        encoding.sound(entry.samples.data(), entry.samples.size());
      }
    } catch (...) {
      std::lock_guard<std::mutex> lock(encoding.mutex);
      encoding.failure = std::current_exception();
      encoding.queue.clear();
      encoding.changed.notify_all();
      return;
    }
  }
}

void send(EncodingThread& encoding, EncodingThread::Entry entry) {
  std::unique_lock<std::mutex> lock(encoding.mutex);
  encoding.changed.wait(
      lock, [&] { return encoding.queue.size() < kMaxQueued || encoding.failure != nullptr; });
  if (encoding.failure) std::rethrow_exception(encoding.failure);
  encoding.queue.push_back(std::move(entry));
  lock.unlock();
  encoding.changed.notify_all();
}

}  // namespace

EncodingThread::~EncodingThread() {
  if (!thread.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex);
    ending = true;
    queue.clear();
  }
  changed.notify_all();
  thread.join();
}

void start_encoding_thread(EncodingThread& encoding) {
  encoding.thread = std::thread(run, std::ref(encoding));
}

bool encoding_thread_running(const EncodingThread& encoding) { return encoding.thread.joinable(); }

void send_picture(EncodingThread& encoding, AVFrame& frame) {
  EncodingThread::Entry entry;
  entry.picture = make_frame();
  av_frame_move_ref(entry.picture.get(), &frame);
  send(encoding, std::move(entry));
}

void send_sound(EncodingThread& encoding, const std::uint8_t* samples, std::size_t n) {
  EncodingThread::Entry entry;
  entry.samples.assign(samples, samples + n);
  send(encoding, std::move(entry));
}

void finish_encoding_thread(EncodingThread& encoding) {
  {
    std::lock_guard<std::mutex> lock(encoding.mutex);
    encoding.ending = true;
  }
  encoding.changed.notify_all();
  encoding.thread.join();
  if (encoding.failure) std::rethrow_exception(encoding.failure);
}

}  // namespace reelfix::prep
