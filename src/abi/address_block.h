// The AddressBlock: the record through which the host has a tag's address parsed (command 3) or
// checked (command 4). The host owns and fills it; the driver reads the inputs and writes the
// outputs.
#pragma once

#include <cstddef>
#include <cstdint>

#include "abi/host_abi.h"

namespace tav {

// The host's type codes for a tag's value, as far as the parser gives them a meaning. Every
// other value means "no special type": such a tag carries no bit number.
inline constexpr int32_t kHostTypeFloat = 3;
inline constexpr int32_t kHostTypeInteger = 4;  // the host's two 32-bit integer types
inline constexpr int32_t kHostTypeOtherInteger = 5;
inline constexpr int32_t kHostTypeBit = 6;
inline constexpr int32_t kHostTypeString = 7;

// Bit number of a tag that has none.
inline constexpr uint32_t kNoBitNumber = 255;

struct AddressBlock {
  const char* addressText;  // in: the tag's address, NUL-terminated; the driver never changes it
  uint32_t hostField;       // the host's own; neither read nor written
  int32_t hostDataType;     // in: the host's type code for the tag's value
  int32_t elementCount;     // in: number of elements; read by command 4 only
  int32_t plcNumber;        // out: station number, 1 to 98 for a valid address
  uint32_t areaTypeCode;    // out: AreaTypeCode in the low 16 bits, upper 16 bits 0
  uint32_t packedAddress;   // out: stored offset, block number and string length
  uint32_t bitNumber;       // out: 0 to 15, or kNoBitNumber
  uint32_t elementWidth;    // out: 32 for double words and floats, 16 otherwise
};
static_assert(offsetof(AddressBlock, addressText) == 0);
static_assert(!kHostAbi || offsetof(AddressBlock, hostField) == 4);
static_assert(!kHostAbi || offsetof(AddressBlock, hostDataType) == 8);
static_assert(!kHostAbi || offsetof(AddressBlock, elementCount) == 12);
static_assert(!kHostAbi || offsetof(AddressBlock, plcNumber) == 16);
static_assert(!kHostAbi || offsetof(AddressBlock, areaTypeCode) == 20);
static_assert(!kHostAbi || offsetof(AddressBlock, packedAddress) == 24);
static_assert(!kHostAbi || offsetof(AddressBlock, bitNumber) == 28);
static_assert(!kHostAbi || offsetof(AddressBlock, elementWidth) == 32);
static_assert(!kHostAbi || sizeof(AddressBlock) == 36);

// The packed address. Data-block form: stored offset in bits 0-15, block number in bits 16-31.
// String form: offset in bits 0-15, block number in bits 16-23, string length in bits 24-31.
// Input, output and flag areas: stored offset alone.
inline constexpr uint32_t kPackedBlockShift = 16;
inline constexpr uint32_t kPackedLengthShift = 24;
inline constexpr uint32_t kPackedOffsetMask = 0xFFFF;
inline constexpr uint32_t kPackedStringBlockMask = 0xFF;

constexpr uint32_t PackAddress(uint32_t offset, uint32_t blockNumber) {
  return offset + (blockNumber << kPackedBlockShift);
}
constexpr uint32_t PackStringAddress(uint32_t offset, uint32_t blockNumber, uint32_t length) {
  return PackAddress(offset, blockNumber) + (length << kPackedLengthShift);
}
constexpr uint32_t PackedOffset(uint32_t packedAddress) {
  return packedAddress & kPackedOffsetMask;
}
// The block number of the data-block form (16 bits).
constexpr uint32_t PackedBlock(uint32_t packedAddress) {
  return packedAddress >> kPackedBlockShift;
}
// The block number of the string form (8 bits).
constexpr uint32_t PackedStringBlock(uint32_t packedAddress) {
  return packedAddress >> kPackedBlockShift & kPackedStringBlockMask;
}
constexpr uint32_t PackedStringLength(uint32_t packedAddress) {
  return packedAddress >> kPackedLengthShift;
}

}  // namespace tav
