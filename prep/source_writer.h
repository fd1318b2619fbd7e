// The intermediate source: an AVI with MJPEG video at 15 frames a second as its first stream and
// 11024 Hz unsigned 8-bit mono PCM as its second, written with libavformat's AVI muxer into an
// exclusive temporary file beside the output. The engine then converts it into the camera's
// layout, so the rules of that layout keep their one implementation. The temporary file is
// removed when the writer goes, and by an interruption before.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "prep/av_support.h"
#include "prep/avio_file.h"

namespace reelfix::prep {

struct SourceWriter {
  SourceWriter() = default;
  ~SourceWriter();  // closes and removes the temporary file
  SourceWriter(const SourceWriter&) = delete;
  SourceWriter& operator=(const SourceWriter&) = delete;

  std::string output_name;  // the output, for messages: the temporary file is beside it
  std::string temp_path;    // the temporary file, empty until it exists
  AvioFile file;
  AvioPtr avio;
  OutputPtr format;
  AVStream* video = nullptr;
  AVStream* sound = nullptr;
  std::int64_t frames = 0;         // pictures written
  std::int64_t samples = 0;        // sound samples written, including those still held
  std::vector<std::uint8_t> held;  // sound not yet written: less than one second
};

// Creates the temporary file beside output_name and writes the AVI header into it.
void open_source_writer(SourceWriter& writer, const std::string& output_name);

// Writes a JPEG picture as the next frame.
void write_picture(SourceWriter& writer, AVPacket& jpeg);

// Appends n sound samples; they go out in chunks of one second.
void write_sound(SourceWriter& writer, const std::uint8_t* samples, std::size_t n);

// Writes the sound still held and the index, and closes the file; it stays until the writer goes.
void close_source_writer(SourceWriter& writer);

}  // namespace reelfix::prep
