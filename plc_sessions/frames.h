// The messages of the PLC dialects a session speaks, whatever transport carries them: S7
// communication (setup with PDU negotiation, read var and write var on one item) and the S5
// fetch/write header. Builders return whole messages; parsers check every length against the
// bytes they were given and return nothing for a malformed message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/h1_records.h"
#include "vocabulary/h1_results.h"

namespace tav::sessions {

using namespace tav::h1;  // NOLINT(google-build-using-namespace): the H1 contract's status words

using Bytes = std::vector<uint8_t>;
using ByteView = std::span<const uint8_t>;

// S7 communication. Its header: protocol id, PDU type (ROSCTR), reserved, reference, parameter
// and data lengths; ack and ack-data add the error class and code.
struct S7Header {
  static constexpr uint8_t kProtocolId = 0x32;
  static constexpr uint8_t kJob = 0x01;
  static constexpr uint8_t kAck = 0x02;
  static constexpr uint8_t kAckData = 0x03;
  static constexpr uint8_t kUserData = 0x07;
  static constexpr size_t kJobBytes = 10;
  static constexpr size_t kAckDataBytes = 12;
  static constexpr size_t kReferenceAt = 4;
  static constexpr size_t kParameterLengthAt = 6;
  static constexpr size_t kDataLengthAt = 8;
  static constexpr size_t kErrorAt = 10;
};
inline constexpr uint8_t kS7AreaInputs = 0x81;
inline constexpr uint8_t kS7AreaOutputs = 0x82;
inline constexpr uint8_t kS7AreaFlags = 0x83;
inline constexpr uint8_t kS7AreaDataBlock = 0x84;
// What a PDU of a given size leaves for one item's data.
inline constexpr size_t kS7ReadOverhead = 18;   // ack-data header 12, parameter 2, item head 4
inline constexpr size_t kS7WriteOverhead = 28;  // job header 10, parameter 14, item head 4

struct S7Item {
  uint8_t area = kS7AreaDataBlock;
  uint16_t block = 0;
  uint32_t byteAddress = 0;
  uint16_t bytes = 0;
};

Bytes S7SetupRequest(uint16_t reference, uint16_t parallelJobs, uint16_t pduBytes);
Bytes S7ReadRequest(uint16_t reference, const S7Item& item);
Bytes S7WriteRequest(uint16_t reference, const S7Item& item, ByteView data);

enum class S7Function : uint8_t { kSetup = 0xF0, kRead = 0x04, kWrite = 0x05 };
struct S7Answer {
  uint16_t reference = 0;
  uint16_t error = 0;                  // the header's error class and code, 0 when none
  std::optional<S7Function> function;  // absent when an error answer carries no parameter
  uint8_t itemCode = 0;                // read and write: the item's return code
  ByteView data;                       // read: the item's data
  uint16_t parallelJobs = 0;           // setup: what the station grants
  uint16_t pduBytes = 0;
};
// An item's return code.
inline constexpr uint8_t kS7ItemSuccess = 0xFF;
inline constexpr uint8_t kS7ItemHardwareFault = 0x01;
inline constexpr uint8_t kS7ItemAccessDenied = 0x03;
inline constexpr uint8_t kS7ItemOutOfRange = 0x05;
inline constexpr uint8_t kS7ItemTypeNotSupported = 0x06;
inline constexpr uint8_t kS7ItemTypeInconsistent = 0x07;
inline constexpr uint8_t kS7ItemNoSuchObject = 0x0A;
// An S7 PDU the station sent (ack or ack-data).
std::optional<S7Answer> ParseS7Answer(ByteView pdu);

// S5 fetch/write.
inline constexpr size_t kS5HeaderBytes = 16;
enum class S5Opcode : uint8_t { kWrite = 0x03, kWriteAck = 0x04, kFetch = 0x05, kFetchAck = 0x06 };
// The blocks of a header: each opens with its tag and its length in bytes (tag and length
// included).
struct S5HeaderBlock {
  uint8_t tag;
  uint8_t bytes;
};
inline constexpr S5HeaderBlock kS5OperationBlock{0x01, 3};        // the opcode
inline constexpr S5HeaderBlock kS5OrganisationBlock{0x03, 8};     // area, block, start, length
inline constexpr S5HeaderBlock kS5AcknowledgementBlock{0x0F, 3};  // the error byte
inline constexpr uint8_t kS5EmptyBlockTag = 0xFF;
inline constexpr uint8_t kS5RequestEmptyBlockBytes = 2;
inline constexpr uint8_t kS5AnswerEmptyBlockBytes = 7;
// Organisation blocks: the numbers of the request record's area kinds.
constexpr uint8_t S5Org(AreaKind kind) {
  return static_cast<uint8_t>(kind);
}
inline constexpr uint8_t kS5OrgDataBlock = S5Org(AreaKind::kDataBlock);
inline constexpr uint8_t kS5OrgFlags = S5Org(AreaKind::kFlags);
inline constexpr uint8_t kS5OrgInputs = S5Org(AreaKind::kInputs);
inline constexpr uint8_t kS5OrgOutputs = S5Org(AreaKind::kOutputs);
inline constexpr uint8_t kS5OrgExtendedDataBlock = S5Org(AreaKind::kExtendedDataBlock);
static_assert(kS5OrgDataBlock == 0x01 && kS5OrgFlags == 0x02 && kS5OrgInputs == 0x03 &&
              kS5OrgOutputs == 0x04 && kS5OrgExtendedDataBlock == 0x0A);
// An acknowledgement's error byte.
inline constexpr uint8_t kS5ErrorNone = 0x00;
inline constexpr uint8_t kS5ErrorNoSuchBlock = 0x02;
inline constexpr uint8_t kS5ErrorBlockTooShort = 0x03;
// What a gateway answers a write it does not pass on (a read-only route).
inline constexpr uint8_t kS5ErrorWriteRefused = 0x06;

struct S5Request {
  S5Opcode opcode = S5Opcode::kFetch;
  uint8_t org = kS5OrgDataBlock;
  uint8_t block = 0;
  uint16_t start = 0;   // words in data blocks, bytes in process areas
  uint16_t length = 0;  // the same unit
};
Bytes S5RequestHeader(const S5Request& request);
std::optional<S5Request> ParseS5RequestHeader(ByteView header);
// The bytes of data a request's length stands for: words in data blocks, bytes elsewhere.
size_t S5DataBytes(const S5Request& request);
// Where a request in a stream of them ends (plain TCP has no message ends of its own): its whole
// length (a write carries its data) once its header is in `waiting`, 0 while the header is
// incomplete, nullopt when `waiting` opens with no request header.
std::optional<size_t> S5RequestBytes(ByteView waiting);

struct S5Answer {
  S5Opcode opcode = S5Opcode::kFetchAck;
  uint8_t error = 0;
};
Bytes S5AnswerHeader(const S5Answer& answer);
std::optional<S5Answer> ParseS5AnswerHeader(ByteView header);

// The status words an answered exchange reports (kStatusGood, kStatusS7Item...) are the H1
// libraries' contract: vocabulary/h1_results.h.

uint16_t StatusOfS7Item(uint8_t returnCode);
uint16_t StatusOfS5Error(uint8_t error);

}  // namespace tav::sessions
