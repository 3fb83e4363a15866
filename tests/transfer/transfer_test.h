// The base of the transfer tests: connected stations of each type, TransferBlocks, and the
// request records and data the fake H1 library received.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <ostream>
#include <vector>

#include "abi/area_type.h"
#include "abi/transfer_block.h"
#include "support/driver_test.h"

namespace tav::test {

using Bytes = std::vector<uint8_t>;
using fake::H1;
using fake::H1Op;

inline constexpr int kPlc = 3;
inline constexpr uint16_t kReadConnection = 0x21;
inline constexpr uint16_t kWriteConnection = 0x22;

// A request record's fields as the library received them (little-endian words).
struct RequestFields {
  uint16_t connection, areaKind, blockNumber, start, length;
  bool operator==(const RequestFields&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const RequestFields& r) {
  return out << "{connection " << r.connection << ", area " << r.areaKind << ", block "
             << r.blockNumber << ", start " << r.start << ", length " << r.length << "}";
}

inline std::vector<RequestFields> RequestsOf(H1Op op) {
  std::vector<RequestFields> requests;
  for (const fake::H1Call& call : H1().CallsOf(op)) {
    const auto word = [&](size_t at) {
      return static_cast<uint16_t>(call.record.at(at) | call.record.at(at + 1) << 8);
    };
    requests.push_back({word(0), word(2), word(4), word(6), word(8)});
  }
  return requests;
}

constexpr uint32_t DataBlockAddress(uint32_t block, uint32_t offset) {
  return block << 16 | offset;
}
constexpr uint32_t StringAddress(uint32_t block, uint32_t offset, uint32_t length) {
  return length << 24 | block << 16 | offset;
}

class TransferTest : public fake::DriverTest {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    instance().retryBudget = 1000;
  }
  // Table-driven tests start each row afresh.
  void Fresh() { SetUp(); }

  // A connected station of `plcType`; type 5 has a separate write connection.
  PlcEntry& Connect(int number, uint8_t plcType) {
    PlcEntry& entry = station(number);
    entry.plcType = plcType;
    std::strcpy(entry.ethernetAddress, "0A0B0C010203");
    entry.readConnection = kReadConnection;
    entry.writeConnection = plcType == kPlcTypeS5 ? kWriteConnection : 0;
    return entry;
  }

  static TransferBlock Block(int32_t plc, uint32_t code, uint32_t packedAddress, int32_t count,
                             void* data, uint32_t bitNumber = kNoBitNumber) {
    TransferBlock block{};
    block.tagName = "TAG1";
    block.plcNumber = plc;
    block.areaTypeCode = code;
    block.packedAddress = packedAddress;
    block.bitNumber = bitNumber;
    block.count = count;
    block.data = data;
    return block;
  }

  // The first `size` bytes of the TransferBuffer that the one write request carried.
  static Bytes SentBytes(size_t size) {
    const auto sends = H1().CallsOf(H1Op::kSendWriteRequest);
    if (sends.size() != 1) {
      ADD_FAILURE() << sends.size() << " write requests";
      return {};
    }
    return Bytes(sends[0].buffer.begin(), sends[0].buffer.begin() + static_cast<long>(size));
  }

  // Queues one good read whose data are `bytes`.
  static void AnswerRead(const Bytes& bytes) {
    H1().Answer(H1Op::kReceiveReadData, {.data = bytes});
  }
};

}  // namespace tav::test
