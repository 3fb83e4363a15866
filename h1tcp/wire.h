// Byte order on the wire and in the transfer buffer. TCP headers, TPKT, S7 and the fetch/write
// header carry their numbers most significant byte first; the driver's transfer buffer carries
// the words of word-addressed data blocks least significant byte first.
#pragma once

#include <cstdint>

namespace tav::h1tcp {

constexpr uint16_t LoadBe16(const uint8_t* p) {
  return static_cast<uint16_t>(uint32_t{p[0]} << 8 | p[1]);
}
constexpr uint32_t LoadBe24(const uint8_t* p) {
  return uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
}
constexpr void StoreBe16(uint8_t* p, uint16_t value) {
  p[0] = static_cast<uint8_t>(value >> 8);
  p[1] = static_cast<uint8_t>(value);
}
constexpr void StoreBe24(uint8_t* p, uint32_t value) {
  p[0] = static_cast<uint8_t>(value >> 16);
  p[1] = static_cast<uint8_t>(value >> 8);
  p[2] = static_cast<uint8_t>(value);
}
constexpr uint16_t LoadLe16(const uint8_t* p) {
  return static_cast<uint16_t>(uint32_t{p[1]} << 8 | p[0]);
}
constexpr void StoreLe16(uint8_t* p, uint16_t value) {
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
}

}  // namespace tav::h1tcp
