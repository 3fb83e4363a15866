// Loading and storing 16- and 32-bit values at any byte address in a fixed byte order. The
// TransferBuffer holds S7 data big-endian and S5 words little-endian (the host's order), and the
// host's arrays and value cells are little-endian; every conversion between them goes through
// these helpers, never through a cast of the buffer.
#pragma once

#include <cstdint>

namespace tav {

constexpr uint16_t LoadBe16(const uint8_t* bytes) {
  return static_cast<uint16_t>(uint32_t{bytes[0]} << 8 | bytes[1]);
}

constexpr uint32_t LoadBe32(const uint8_t* bytes) {
  return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | bytes[3];
}

constexpr uint16_t LoadLe16(const uint8_t* bytes) {
  return static_cast<uint16_t>(uint32_t{bytes[1]} << 8 | bytes[0]);
}

constexpr uint32_t LoadLe32(const uint8_t* bytes) {
  return uint32_t{bytes[3]} << 24 | uint32_t{bytes[2]} << 16 | uint32_t{bytes[1]} << 8 | bytes[0];
}

constexpr void StoreBe16(uint8_t* bytes, uint16_t value) {
  bytes[0] = static_cast<uint8_t>(value >> 8);
  bytes[1] = static_cast<uint8_t>(value);
}

constexpr void StoreBe32(uint8_t* bytes, uint32_t value) {
  bytes[0] = static_cast<uint8_t>(value >> 24);
  bytes[1] = static_cast<uint8_t>(value >> 16);
  bytes[2] = static_cast<uint8_t>(value >> 8);
  bytes[3] = static_cast<uint8_t>(value);
}

constexpr void StoreLe16(uint8_t* bytes, uint16_t value) {
  bytes[0] = static_cast<uint8_t>(value);
  bytes[1] = static_cast<uint8_t>(value >> 8);
}

constexpr void StoreLe32(uint8_t* bytes, uint32_t value) {
  bytes[0] = static_cast<uint8_t>(value);
  bytes[1] = static_cast<uint8_t>(value >> 8);
  bytes[2] = static_cast<uint8_t>(value >> 16);
  bytes[3] = static_cast<uint8_t>(value >> 24);
}

}  // namespace tav
