// The input: the file, read through the platform layer, and the streams a movie is made of with
// their decoders.
#pragma once

#include <string>

#include "prep/av_support.h"
#include "prep/avio_file.h"

namespace reelfix::prep {

struct Input {
  Input() = default;
  ~Input();  // closes the file after FFmpeg's objects
  Input(const Input&) = delete;
  Input& operator=(const Input&) = delete;

  std::string name;  // as given, for messages
  AvioFile file;
  AvioPtr avio;
  InputPtr format;
  AVStream* video = nullptr;
  AVStream* sound = nullptr;              // none when the input has no sound the movie can use
  AVStream* undecodable_sound = nullptr;  // the sound, when FFmpeg has no decoder for it
  CodecPtr video_decoder;                 // with frame threads
  CodecPtr sound_decoder;
};

// Opens the file, finds its best video stream (av_find_best_stream) and the best sound stream
// that goes with it, opens their decoders, and makes the demuxer leave out every other stream.
// Throws PrepError with status 3 when the input cannot be used: FFmpeg cannot read it, it
// holds no video, or FFmpeg has no decoder for its video.
void open_input(Input& input, const std::string& name);

// For an FFmpeg call on the input that failed: throws the file's own failure when the system
// refused a read, std::bad_alloc when memory ran out, else a PrepError with status 3 that gives
// FFmpeg's reason.
void check_reading(const Input& input, int result);

}  // namespace reelfix::prep
