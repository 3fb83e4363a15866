// The base of the transfer tests: stations of each type with their connections, TransferBlocks,
// the request records the driver sent, and a small station memory that answers reads and writes.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <ostream>
#include <utility>
#include <vector>

#include "address/area_type.h"
#include "support/driver_test.h"
#include "transfer/transfer_block.h"

namespace tav::test {

using Bytes = std::vector<uint8_t>;

inline constexpr uint16_t kReadConnection = 0x21;
inline constexpr uint16_t kWriteConnection = 0x22;
inline constexpr uint8_t kPlcType6 = 6;

// The fields of a request record as the library received them (little-endian words).
struct RequestFields {
  uint16_t connection;
  uint16_t areaKind;
  uint16_t blockNumber;
  uint16_t start;
  uint16_t length;
  bool operator==(const RequestFields&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const RequestFields& r) {
  return out << "{connection " << r.connection << ", area " << r.areaKind << ", block "
             << r.blockNumber << ", start " << r.start << ", length " << r.length << "}";
}

inline RequestFields DecodeRequest(const Bytes& record) {
  auto word = [&](size_t at) {
    return static_cast<uint16_t>(record.at(at) | record.at(at + 1) << 8);
  };
  return {word(0), word(2), word(4), word(6), word(8)};
}

constexpr uint32_t DataBlockAddress(uint32_t block, uint32_t offset) {
  return block << 16 | offset;
}
constexpr uint32_t StringAddress(uint32_t block, uint32_t offset, uint32_t length) {
  return length << 24 | block << 16 | offset;
}

// Station memory that answers the driver's requests the way a station behind the H1 library
// does: areas keyed by area kind and block, addressed in words in S5 data blocks and in bytes
// otherwise. The bytes are what travels in the TransferBuffer.
class MemoryStation {
 public:
  explicit MemoryStation(bool s5DataBlockWords) : s5Words_(s5DataBlockWords) {}

  Bytes& Area(uint16_t areaKind, uint16_t block) {
    Bytes& area = areas_[{areaKind, block}];
    if (area.empty()) area.resize(1024, 0);
    return area;
  }

  void Attach() {
    using fake::H1Op;
    fake::H1().Respond(H1Op::kSendReadRequest, [this](const fake::H1Call& call) {
      last_ = DecodeRequest(call.record);
      return fake::H1Answer{};
    });
    fake::H1().Respond(H1Op::kReceiveReadData, [this](const fake::H1Call&) {
      const auto [at, size] = Span(last_);
      return fake::H1Answer{.data = Bytes(at, at + static_cast<long>(size))};
    });
    fake::H1().Respond(H1Op::kSendWriteRequest, [this](const fake::H1Call& call) {
      const auto [at, size] = Span(DecodeRequest(call.record));
      std::copy_n(call.buffer.begin(), size, at);
      return fake::H1Answer{};
    });
  }

 private:
  // Where the request's data lie in their area, which grows to hold them.
  std::pair<Bytes::iterator, size_t> Span(const RequestFields& request) {
    const bool words = s5Words_ && (request.areaKind == 1 || request.areaKind == 10);
    const size_t unit = words ? 2 : 1;
    const size_t at = unit * request.start;
    const size_t size = unit * request.length;
    Bytes& area = Area(request.areaKind, request.blockNumber);
    if (area.size() < at + size) area.resize(at + size, 0);
    return {area.begin() + static_cast<long>(at), size};
  }

  bool s5Words_;
  RequestFields last_{};
  std::map<std::pair<uint16_t, uint16_t>, Bytes> areas_;
};

class TransferTest : public fake::DriverTest {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    instance().retryBudget = 1000;
  }

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
                             void* data, uint32_t bitNumber = kNoBit) {
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

  static std::vector<RequestFields> RequestsOf(fake::H1Op op) {
    std::vector<RequestFields> requests;
    for (const fake::H1Call& call : fake::H1().CallsOf(op))
      requests.push_back(DecodeRequest(call.record));
    return requests;
  }

  // The first `size` bytes of the TransferBuffer that the one send write request carried.
  static Bytes SentBytes(size_t size) {
    const auto sends = fake::H1().CallsOf(fake::H1Op::kSendWriteRequest);
    if (sends.size() != 1) {
      ADD_FAILURE() << sends.size() << " write requests";
      return {};
    }
    return Bytes(sends[0].buffer.begin(), sends[0].buffer.begin() + static_cast<long>(size));
  }

  // Queues one good read whose data are `bytes`.
  static void AnswerRead(const Bytes& bytes) {
    fake::H1().Answer(fake::H1Op::kReceiveReadData, {.data = bytes});
  }
};

}  // namespace tav::test
