#include "prep/parts.h"

#include <algorithm>
#include <cctype>

#include "platform/file.h"
#include "prep/av_support.h"
#include "prep/sound.h"

namespace reelfix::prep {
namespace {

// The decimal number `digits` plus `add`, with at least as many digits (leading zeros kept).
std::string count_on(const std::string& digits, int add) {
  std::string result = digits;
  int carry = add;
  for (auto at = result.rbegin(); at != result.rend() && carry > 0; ++at) {
    const int sum = (*at - '0') + carry;
    *at = static_cast<char>('0' + sum % 10);
    carry = sum / 10;
  }
  return carry > 0 ? std::to_string(carry) + result : result;
}

// Silence after the source's sound, up to its pictures' length.
void complete_sound(SourceWriter& source) {
  hand_on_silence(
      source.frames / FRAMES_PER_SECOND * AUDIO_RATE - source.samples,
      [&source](const std::uint8_t* samples, std::size_t n) { write_sound(source, samples, n); });
}

// Closes the part's source with its sound completed to its pictures' length, converts it and
// lets it go.
void finish_front(Parts& parts) {
  Part& part = *parts.open.front();
  // A part the length of the input did not foresee has its name checked now, when the movies
  // before it are complete.
  if (part.number > parts.planned) {
    if (platform::same_file(parts.input_name, part.name)) {
      throw PrepError(ExitStatus::kSameFile,
                      "Error: '" + parts.input_name + "' and '" + part.name + "' are one file.");
    }
    if (!parts.overwrite && platform::name_exists(part.name)) {
      throw PrepError(ExitStatus::kRefused,
                      "Error: '" + part.name + "' exists; give -y to replace it.");
    }
  }
  complete_sound(part.writer);
  close_source_writer(part.writer);
  parts.convert(part);
  parts.open.pop_front();
  ++parts.finished;
}

void finish_complete_parts(Parts& parts) {
  while (!parts.open.empty() && parts.open.front()->writer.frames == kPartFrames &&
         parts.open.front()->writer.samples == kPartSamples) {
    finish_front(parts);
  }
}

// The open part `number`, opened when it is the next one.
Part& part_numbered(Parts& parts, int number) {
  if (!parts.open.empty() && parts.open.back()->number >= number) {
    return *parts.open[static_cast<std::size_t>(number - parts.open.front()->number)];
  }
  auto part = std::make_unique<Part>();
  part->number = number;
  part->name = part_name(parts.first_name, number);
  open_source_writer(part->writer, part->name);
  parts.open.push_back(std::move(part));
  return *parts.open.back();
}

}  // namespace

std::string part_name(const std::string& first, int number) {
  if (number <= 1) return first;
  const std::size_t file =
      first.find_last_of('/') == std::string::npos ? 0 : first.find_last_of('/') + 1;
  std::size_t dot = first.rfind('.');
  // A dot that begins the file's name (".avi") starts no extension.
  if (dot == std::string::npos || dot <= file) dot = first.size();
  const std::string stem = first.substr(0, dot);
  const std::string extension = first.substr(dot);
  std::size_t digits = stem.size();
  while (digits > file && std::isdigit(static_cast<unsigned char>(stem[digits - 1]))) --digits;
  if (digits == stem.size()) return stem + "-" + std::to_string(number) + extension;
  return stem.substr(0, digits) + count_on(stem.substr(digits), number - 1) + extension;
}

std::string quoted_names(const std::vector<std::string>& names) {
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += i + 1 == names.size() ? " and " : ", ";
    text += "'" + names[i] + "'";
  }
  return text;
}

int part_count(std::int64_t length_us) {
  const std::int64_t part_us = std::int64_t{MAX_SECONDS} * 1'000'000;
  return static_cast<int>(std::max<std::int64_t>(1, (length_us + part_us - 1) / part_us));
}

void add_picture(Parts& parts, std::int64_t index, AVPacket& jpeg) {
  const int number = static_cast<int>(index / kPartFrames) + 1;
  if (number > parts.picture_part) {
    parts.picture_part = number;
    // The part before the last has had all its pictures for a whole part's time: its sound
    // ended early.
    while (!parts.open.empty() && parts.open.front()->number < number - 1) finish_front(parts);
  }
  Part& part = part_numbered(parts, number);
  write_picture(part.writer, jpeg);
  finish_complete_parts(parts);
}

void add_samples(Parts& parts, std::int64_t index, const std::uint8_t* samples, std::size_t n) {
  while (n > 0) {
    const int number = static_cast<int>(index / kPartSamples) + 1;
    const std::int64_t room = kPartSamples - index % kPartSamples;
    const auto run = static_cast<std::size_t>(std::min<std::int64_t>(room, n));
    const int first_open = parts.finished + 1;
    if (number >= first_open && number <= parts.picture_part + 1) {
      Part& part = part_numbered(parts, number);
      write_sound(part.writer, samples, run);
    }
    index += static_cast<std::int64_t>(run);
    samples += run;
    n -= run;
  }
  finish_complete_parts(parts);
}

void finish_parts(Parts& parts, std::int64_t frames) {
  const int last = frames == 0 ? 0 : static_cast<int>((frames - 1) / kPartFrames) + 1;
  while (!parts.open.empty() && parts.open.front()->number <= last) finish_front(parts);
  parts.open.clear();  // sound past the last picture
}

}  // namespace reelfix::prep
