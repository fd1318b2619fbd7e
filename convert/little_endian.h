// Every number in an AVI file is little-endian: least significant byte first. These helpers
// are the one place that encodes and decodes them; put_u32 and every record use them.
#pragma once

#include <cstdint>

namespace reelfix {

inline void store_u16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

inline void store_u32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

inline std::uint16_t load_u16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

inline std::uint32_t load_u32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// A FOURCC as the number whose little-endian bytes are its four characters in file order, so
// that fourcc("RIFF") written with put_u32 gives the bytes 52 49 46 46.
using FourCC = std::uint32_t;

constexpr FourCC fourcc(const char (&text)[5]) {
  return static_cast<FourCC>(static_cast<std::uint8_t>(text[0])) |
         (static_cast<FourCC>(static_cast<std::uint8_t>(text[1])) << 8) |
         (static_cast<FourCC>(static_cast<std::uint8_t>(text[2])) << 16) |
         (static_cast<FourCC>(static_cast<std::uint8_t>(text[3])) << 24);
}

}  // namespace reelfix
