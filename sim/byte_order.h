// Byte order of the values a station holds and of the words in a transfer buffer.
#pragma once

#include <cstdint>

namespace tav::sim {

inline uint16_t LoadBe16(const uint8_t* bytes) {
  return static_cast<uint16_t>((uint32_t{bytes[0]} << 8) | bytes[1]);
}

inline uint32_t LoadBe32(const uint8_t* bytes) {
  return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
         bytes[3];
}

inline void StoreBe16(uint8_t* bytes, uint16_t value) {
  bytes[0] = static_cast<uint8_t>(value >> 8);
  bytes[1] = static_cast<uint8_t>(value);
}

inline void StoreBe32(uint8_t* bytes, uint32_t value) {
  bytes[0] = static_cast<uint8_t>(value >> 24);
  bytes[1] = static_cast<uint8_t>(value >> 16);
  bytes[2] = static_cast<uint8_t>(value >> 8);
  bytes[3] = static_cast<uint8_t>(value);
}

inline uint16_t LoadLe16(const uint8_t* bytes) {
  return static_cast<uint16_t>(bytes[0] | (uint32_t{bytes[1]} << 8));
}

inline void StoreLe16(uint8_t* bytes, uint16_t value) {
  bytes[0] = static_cast<uint8_t>(value);
  bytes[1] = static_cast<uint8_t>(value >> 8);
}

}  // namespace tav::sim
