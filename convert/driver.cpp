#include "convert/driver.h"

#include <cassert>
#include <new>

#include "convert/header_translation.h"
#include "convert/index_scan.h"
#include "convert/metadata_chunks.h"
#include "convert/movie_writer.h"

namespace reelfix {
namespace {

// The phases in their fixed order. False when one refused the source; it printed why.
bool run_phases(ConversionState& state) {
  if (!translate_headers(state)) return false;
  assert(position(state.dest_file) == METADATA_OFFSET);
  write_metadata_chunks(state);
  assert(position(state.dest_file) == HEADER_AREA_SIZE);
  if (!scan_source_index(state)) return false;
  if (!check_audio(state)) return false;
  if (!write_movie(state)) return false;
  assert(position(state.dest_file) == MOVI_FOURCC_OFFSET + state.movi_size);
  finalise_output(state);
  return true;
}

// Closing a file that was only read can fail only in ways that cost nothing.
void close_quietly(SourceFile& source) noexcept {
  try {
    close(source);
  } catch (const platform::FileError&) {
  }
}

void discard(ConversionState& state, const std::string& temp_path) noexcept {
  try {
    close(state.dest_file);
  } catch (const platform::FileError&) {
  }
  platform::remove_temporary(temp_path);
  close_quietly(state.source_file);
}

// One line on standard error: what was attempted on which file, and the system's reason.
void report_failure(Console& console, const std::string& operation, const std::string& file_name,
                    const std::string& reason) {
  report_error_line(console, "Error: " + operation + " '" + file_name + "' failed: " + reason);
}

// A source that cannot be opened, or a destination that cannot be created: the plain text on
// standard output, the reason on standard error.
void refuse_source(Console& console, const std::string& name, const std::string& reason) {
  report_line(console, {"Error opening the file ", name});
  report_failure(console, "opening", name, reason);
}

void refuse_destination(Console& console, const std::string& name, const std::string& reason) {
  report_line(console, {"Error creating output file ", name});
  report_failure(console, "creating", name, reason);
}

}  // namespace

Outcome convert_avi(const std::string& source_name, const std::string& dest_name,
                    Console& console, platform::ClockFunction clock, ConversionSummary* summary) {
  // An empty name names no file. The system would take an empty destination as the current
  // directory for the temporary file and refuse it only when the movie is complete.
  if (source_name.empty()) {
    refuse_source(console, source_name, "the name is empty");
    return Outcome::kRefused;
  }
  if (dest_name.empty()) {
    refuse_destination(console, dest_name, "the name is empty");
    return Outcome::kRefused;
  }
  ConversionState state(console, clock);
  state.source_name = source_name;
  std::string reason;
  if (!open_source(state.source_file, source_name, reason)) {
    refuse_source(console, source_name, reason);
    return Outcome::kRefused;
  }
  std::string temp_path;
  if (!platform::create_temporary_beside(dest_name, state.dest_file.handle, temp_path, reason)) {
    refuse_destination(console, dest_name, reason);
    close_quietly(state.source_file);
    return Outcome::kRefused;
  }
  try {
    if (!run_phases(state)) {
      discard(state, temp_path);
      return Outcome::kRefused;
    }
    close(state.dest_file);
    platform::replace_with_temporary(temp_path, dest_name);
    close_quietly(state.source_file);
    if (summary != nullptr) {
      *summary = {state.seconds, state.frame_count / FRAMES_PER_SECOND,
                  state.largest_second_video_bytes, state.seconds_over_video_limit};
    }
    return Outcome::kCompleted;
  } catch (const platform::FileError& error) {
    discard(state, temp_path);
    report_failure(console, error.operation, error.file_name, error.reason);
  } catch (const std::bad_alloc&) {
    discard(state, temp_path);
    report_failure(console, "converting", source_name, "out of memory");
  }
  return Outcome::kSystemFailure;
}

}  // namespace reelfix
