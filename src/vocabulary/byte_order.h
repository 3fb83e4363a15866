// Loading and storing 16-, 24- and 32-bit values at any byte address in a fixed byte order, for
// every component. The TransferBuffer holds S7 data big-endian and S5 words little-endian (the
// host's order), and the host's arrays and value cells are little-endian; every conversion between
// them goes through these helpers, never through a cast of the buffer. On the wire (TPKT, ISO
// transport, S7 communication, the fetch/write header) numbers travel most significant byte first.
//
// Outside constant evaluation each helper is one unaligned load or store of the whole value and,
// for big-endian data, a byte swap: the form in which the compiler turns a loop of them into
// vector loads, shuffles and stores.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace tav {

// Every target of the driver (x86, 32 and 64 bits) is little-endian: a value in host order is a
// little-endian value.
static_assert(std::endian::native == std::endian::little);

namespace byte_order_detail {

template <class Value>
Value LoadHost(const uint8_t* bytes) {
  Value value;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}

template <class Value>
void StoreHost(uint8_t* bytes, Value value) {
  std::memcpy(bytes, &value, sizeof value);
}

}  // namespace byte_order_detail

constexpr uint16_t LoadLe16(const uint8_t* bytes) {
  if (std::is_constant_evaluated())
    return static_cast<uint16_t>(uint32_t{bytes[1]} << 8 | bytes[0]);
  return byte_order_detail::LoadHost<uint16_t>(bytes);
}

constexpr uint32_t LoadLe32(const uint8_t* bytes) {
  if (std::is_constant_evaluated()) {
    return uint32_t{bytes[3]} << 24 | uint32_t{bytes[2]} << 16 | uint32_t{bytes[1]} << 8 | bytes[0];
  }
  return byte_order_detail::LoadHost<uint32_t>(bytes);
}

constexpr uint16_t LoadBe16(const uint8_t* bytes) {
  return __builtin_bswap16(LoadLe16(bytes));
}

constexpr uint32_t LoadBe32(const uint8_t* bytes) {
  return __builtin_bswap32(LoadLe32(bytes));
}

constexpr void StoreLe16(uint8_t* bytes, uint16_t value) {
  if (std::is_constant_evaluated()) {
    bytes[0] = static_cast<uint8_t>(value);
    bytes[1] = static_cast<uint8_t>(value >> 8);
    return;
  }
  byte_order_detail::StoreHost(bytes, value);
}

constexpr void StoreLe32(uint8_t* bytes, uint32_t value) {
  if (std::is_constant_evaluated()) {
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(value >> 8 * i);
    return;
  }
  byte_order_detail::StoreHost(bytes, value);
}

constexpr void StoreBe16(uint8_t* bytes, uint16_t value) {
  StoreLe16(bytes, __builtin_bswap16(value));
}

constexpr void StoreBe32(uint8_t* bytes, uint32_t value) {
  StoreLe32(bytes, __builtin_bswap32(value));
}

// 24-bit quantities (the S7 bit address of an item), most significant byte first.
constexpr uint32_t LoadBe24(const uint8_t* bytes) {
  return uint32_t{bytes[0]} << 16 | uint32_t{bytes[1]} << 8 | bytes[2];
}

constexpr void StoreBe24(uint8_t* bytes, uint32_t value) {
  bytes[0] = static_cast<uint8_t>(value >> 16);
  bytes[1] = static_cast<uint8_t>(value >> 8);
  bytes[2] = static_cast<uint8_t>(value);
}

// A 32-bit quantity of an S5 station: two host-order words, the high half first.
constexpr uint32_t LoadS5Pair(const uint8_t* bytes) {
  return std::rotl(LoadLe32(bytes), 16);
}

constexpr void StoreS5Pair(uint8_t* bytes, uint32_t value) {
  StoreLe32(bytes, std::rotl(value, 16));
}

}  // namespace tav
