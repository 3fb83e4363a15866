// The TransferBlock: the host's description of one transfer, the parameter record of commands 5,
// 6, 7 and 10. The host fills it from the fields the address parser produced for the tag and
// points it at the array (or the value cell) that holds the data.
#pragma once

#include <cstddef>
#include <cstdint>

#include "abi/address_block.h"
#include "abi/host_abi.h"

namespace tav {

struct TransferBlock {
  const char* tagName;     // NUL-terminated; used only in the failure messages
  uint32_t hostField4;     // the host's; not read
  int32_t plcNumber;       // station number, the PlcTable index
  uint32_t areaTypeCode;   // low byte the kind, second byte its qualifier
  uint32_t packedAddress;  // stored offset in bits 0-15; block number and string length above
  uint32_t bitNumber;      // 0 to 15, or kNoBitNumber; read by the tag commands only
  uint32_t hostField24[2];
  int32_t count;  // number of elements (the string kind takes its length from the address)
  uint32_t hostField36;
  void* data;  // the host's array of elements, or the tag's value cell
};
static_assert(offsetof(TransferBlock, tagName) == 0);
static_assert(!kHostAbi || offsetof(TransferBlock, hostField4) == 4);
static_assert(!kHostAbi || offsetof(TransferBlock, plcNumber) == 8);
static_assert(!kHostAbi || offsetof(TransferBlock, areaTypeCode) == 12);
static_assert(!kHostAbi || offsetof(TransferBlock, packedAddress) == 16);
static_assert(!kHostAbi || offsetof(TransferBlock, bitNumber) == 20);
static_assert(!kHostAbi || offsetof(TransferBlock, hostField24) == 24);
static_assert(!kHostAbi || offsetof(TransferBlock, count) == 32);
static_assert(!kHostAbi || offsetof(TransferBlock, hostField36) == 36);
static_assert(!kHostAbi || offsetof(TransferBlock, data) == 40);
static_assert(!kHostAbi || sizeof(TransferBlock) == 44);

// The TransferBlock a host fills for a tag from what command 3 made of its address: station,
// AreaTypeCode, packed address and bit number, with the tag's name, element count and data.
constexpr TransferBlock TransferBlockFor(const AddressBlock& parsed, const char* tagName,
                                         int32_t count, void* data) {
  TransferBlock block{};
  block.tagName = tagName;
  block.plcNumber = parsed.plcNumber;
  block.areaTypeCode = parsed.areaTypeCode;
  block.packedAddress = parsed.packedAddress;
  block.bitNumber = parsed.bitNumber;
  block.count = count;
  block.data = data;
  return block;
}

}  // namespace tav
