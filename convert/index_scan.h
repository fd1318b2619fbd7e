// The phases between the header area and the movie: find the source's movie list and the idx1
// index behind it, count the audio bytes and frames it lists, and check the audio that the
// movie will use.
#pragma once

#include <memory>

#include "convert/conversion_state.h"

namespace reelfix {

// Walks the chunks behind the second stream list to the movie list, reads the index as far as
// the file holds it, keeps the frames a movie can use and prints the counts. False, with its
// message printed, when no movie list or no idx1 chunk right behind it is found.
bool scan_source_index(ConversionState& state);

// Reads the source index from the file, entry by entry in file order, a block at a time, so
// that no index costs more memory than one block.
struct IndexReader {
  std::uint64_t next_block = 0;      // source offset of the entries behind the block
  std::uint32_t unread = 0;          // entries not yet read into the block
  std::uint32_t next_number = 0;     // number of the next entry handed out
  std::unique_ptr<std::uint8_t[]> block;  // allocated once, for as many entries as it takes
  std::size_t block_next = 0;        // offset of the next entry in the block
  std::size_t block_size = 0;
};

// A reader at the first of the index_entry_count entries at index_start.
IndexReader start_index_reader(const ConversionState& state);

// The next entry and its number; false after the last. The scan found the entries inside the
// source, so an entry that reads short is a FileError: the file was cut meanwhile.
bool next_index_entry(SourceFile& source, IndexReader& reader, IndexEntry& entry,
                      std::uint32_t& number);

// Checks that the audio the converted seconds use, the first seconds x 11024 bytes of the
// "01wb" chunks in index order, lies inside the source, and prints the closing line of the
// index texts. False, with its message printed, when an audio chunk lies beyond the end.
// write_movie reads the audio itself, second by second.
bool check_audio(ConversionState& state);

}  // namespace reelfix
