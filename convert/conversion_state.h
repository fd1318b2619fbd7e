// What passes between the phases of one conversion, and the source window of the movie
// writer. Below the phases: each phase's header includes this one, and the driver on top of
// them all creates the state and runs the phases on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "convert/camera_layout.h"
#include "convert/chunk_io.h"
#include "platform/clock.h"

namespace reelfix {

// A part of the source held in memory: one buffer, allocated once, into which regions of the
// source are read (a second's span at its start, or single pieces one after the other). Bytes
// of it lent to the destination (put_view) stay until the destination is flushed; only then is
// the buffer used from its start again.
struct SourceWindow {
  std::unique_ptr<std::uint8_t[]> bytes;
  std::size_t capacity = 0;
  std::size_t used = 0;          // bytes of the buffer read since it was last started over
  std::uint64_t region_start = 0;  // source offset of the region read last
  std::size_t region_at = 0;     // where in the buffer that region lies
  std::size_t region_size = 0;
};

// A video frame of the source as its index entry names it: its chunk lies at movi_base +
// dwChunkOffset, its bytes 8 further on.
struct SourceFrame {
  std::uint32_t dwChunkOffset = 0;
  std::uint32_t dwChunkLength = 0;
  std::uint32_t index_entry = 0;  // the entry's number in the index, for messages
};

// Everything that passes from phase to phase during one run.
struct ConversionState {
  ConversionState(Console& console, platform::ClockFunction clock)
      : console(console), clock(clock) {}

  Console& console;                 // where every phase prints
  platform::ClockFunction clock;    // read by write_metadata_chunks for the date text
  std::string source_name;          // as given; for messages
  SourceFile source_file;           // opened by convert_avi; read by every phase but the second
  DestFile dest_file;               // created by convert_avi; written by every phase

  std::uint64_t video_list_pos = 0;   // translate_headers: behind the first strl's size field
  std::uint32_t video_list_size = 0;  // translate_headers: that list's size
  std::uint64_t audio_list_pos = 0;   // translate_headers: behind the second strl's size field;
  std::uint32_t audio_list_size = 0;  //   read with its size by scan_source_index

  std::string date_text;  // write_metadata_chunks: the IDIT text

  std::uint64_t movi_base = 0;  // scan_source_index: source offset of the "movi" FOURCC;
                                //   the source index's offsets count from it
  std::uint64_t index_start = 0;  // scan_source_index: source offset of the first idx1 entry
  std::uint32_t index_entry_count = 0;  // scan_source_index: whole entries present in idx1
  // scan_source_index: the "00dc" entries in index order, as many as a movie can use. The
  // other entries stay in the file; check_audio and write_movie read the audio ones there.
  std::vector<SourceFrame> source_frames;
  std::uint64_t audio_bytes = 0;  // scan_source_index: sum of all "01wb" lengths
  std::uint32_t frame_count = 0;  // scan_source_index: number of "00dc" entries

  std::uint32_t seconds = 0;           // write_movie: whole seconds converted, at most 180
  std::vector<IndexEntry> out_index;   // write_movie: the destination index
  std::uint32_t movi_size = 0;         // write_movie: destination movie list size
  std::uint64_t largest_second_video_bytes = 0;  // write_movie: the most stored frame bytes
                                                 //   of one second, chunk heads not counted
  std::uint32_t seconds_over_video_limit = 0;    // write_movie: seconds above
                                                 //   MAX_VIDEO_BYTES_PER_SECOND
  SourceWindow window;  // write_movie: the part of the source it reads the movie from
};

}  // namespace reelfix
