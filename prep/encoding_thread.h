// The camera's pictures are encoded, and the movies written, on a thread of their own, so that
// reading, decoding and filtering go on meanwhile. Pictures and sound pass through one queue in
// the order they come, so the movies are the same as when everything runs on one thread. The
// queue holds a few dozen entries at most: a thread that falls behind holds up the other.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "prep/av_support.h"

namespace reelfix::prep {

struct EncodingThread {
  EncodingThread() = default;
  ~EncodingThread();  // stops the thread, dropping what it has not taken yet
  EncodingThread(const EncodingThread&) = delete;
  EncodingThread& operator=(const EncodingThread&) = delete;

  // What the thread does with each entry.
  std::function<void(AVFrame&)> picture;
  std::function<void(const std::uint8_t*, std::size_t)> sound;

  struct Entry {
    FramePtr picture;                   // a picture, or
    std::vector<std::uint8_t> samples;  // sound samples
  };
  std::thread thread;
  std::mutex mutex;  // guards what follows
  std::condition_variable changed;
  std::deque<Entry> queue;
  bool ending = false;         // nothing more comes
  std::exception_ptr failure;  // what stopped the thread early
};

void start_encoding_thread(EncodingThread& encoding);

// True while the thread runs: pictures and sound go to it, not straight on.
bool encoding_thread_running(const EncodingThread& encoding);

// Hands the picture (its data taken over, the frame left empty) or the samples to the thread,
// waiting while the queue is full. Throws what stopped the thread, if anything did.
void send_picture(EncodingThread& encoding, AVFrame& frame);
void send_sound(EncodingThread& encoding, const std::uint8_t* samples, std::size_t n);

// Waits until the thread has done everything sent and has ended; throws what stopped it early.
void finish_encoding_thread(EncodingThread& encoding);

}  // namespace reelfix::prep
