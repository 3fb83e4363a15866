#include "plc_sessions/frames.h"

#include <algorithm>
#include <array>

#include "vocabulary/byte_order.h"

namespace tav::sessions {

namespace {

constexpr uint8_t kS7TransportByte = 0x02;  // the item address counts in bytes
constexpr uint8_t kS7DataBytes = 0x04;      // data item: length in bits
constexpr uint8_t kS7DataBit = 0x03;        // data item: length in bits, one bit per byte
constexpr uint8_t kS7DataOctets = 0x09;     // data item: length in bytes
constexpr uint8_t kS7DataReal = 0x07;       // data item: length in bytes

// Byte by byte: GCC 12 misreads an initializer list inserted into a vector as out of bounds.
void Append(Bytes& frame, std::initializer_list<uint8_t> bytes) {
  for (uint8_t byte : bytes) frame.push_back(byte);
}

void Append(Bytes& frame, ByteView bytes) {
  for (uint8_t byte : bytes) frame.push_back(byte);
}

// The job header of an S7 request.
Bytes S7Job(uint16_t reference, size_t parameterBytes, size_t dataBytes) {
  Bytes pdu(S7Header::kJobBytes);
  pdu[0] = S7Header::kProtocolId;
  pdu[1] = S7Header::kJob;
  StoreBe16(&pdu[S7Header::kReferenceAt], reference);
  StoreBe16(&pdu[S7Header::kParameterLengthAt], static_cast<uint16_t>(parameterBytes));
  StoreBe16(&pdu[S7Header::kDataLengthAt], static_cast<uint16_t>(dataBytes));
  return pdu;
}

// The twelve bytes that address one item by byte.
void AppendItem(Bytes& pdu, const S7Item& item) {
  std::array<uint8_t, 12> itemAddress{0x12, 0x0A, 0x10, kS7TransportByte};
  StoreBe16(&itemAddress[4], item.bytes);
  StoreBe16(&itemAddress[6], item.block);
  itemAddress[8] = item.area;
  StoreBe24(&itemAddress[9], item.byteAddress * 8);
  Append(pdu, ByteView(itemAddress));
}

// Bytes of a data item of `length` in the unit of `transportSize`.
size_t DataItemBytes(uint8_t transportSize, uint16_t length) {
  switch (transportSize) {
    case kS7DataBytes:
      return (length + 7u) / 8;
    case kS7DataBit:
      return length == 0 ? 0 : 1;
    case kS7DataOctets:
    case kS7DataReal:
      return length;
    default:
      return length;
  }
}

// The item of a read answer's data part; false when it runs past the data.
bool ParseReadItem(ByteView data, S7Answer& answer) {
  if (data.size() < 1) return false;
  answer.itemCode = data[0];
  if (answer.itemCode != kS7ItemSuccess) return true;
  if (data.size() < 4) return false;
  const size_t bytes = DataItemBytes(data[1], LoadBe16(&data[2]));
  if (bytes > data.size() - 4) return false;
  answer.data = data.subspan(4, bytes);
  return true;
}

bool ParseParameter(ByteView parameter, ByteView data, S7Answer& answer) {
  if (parameter.empty()) return true;
  const auto function = static_cast<S7Function>(parameter[0]);
  switch (function) {
    case S7Function::kSetup:
      if (parameter.size() < 8) return false;
      answer.function = function;
      answer.parallelJobs = LoadBe16(&parameter[4]);
      answer.pduBytes = LoadBe16(&parameter[6]);
      return true;
    case S7Function::kRead:
      if (parameter.size() < 2 || parameter[1] != 1) return false;
      answer.function = function;
      return ParseReadItem(data, answer);
    case S7Function::kWrite:
      if (parameter.size() < 2 || parameter[1] != 1 || data.empty()) return false;
      answer.function = function;
      answer.itemCode = data[0];
      return true;
  }
  return false;
}

// Where the header's blocks lie: the magic and the header's length, the operation block, then
// the organisation block (a request) or the acknowledgement block (an answer), then an empty
// block to the header's end.
constexpr size_t kS5OperationAt = 3;
constexpr size_t kS5SecondBlockAt = kS5OperationAt + kS5OperationBlock.bytes;
constexpr size_t kS5RequestEmptyAt = kS5SecondBlockAt + kS5OrganisationBlock.bytes;
constexpr size_t kS5AnswerEmptyAt = kS5SecondBlockAt + kS5AcknowledgementBlock.bytes;
static_assert(kS5RequestEmptyAt + kS5RequestEmptyBlockBytes == kS5HeaderBytes);
static_assert(kS5AnswerEmptyAt + kS5AnswerEmptyBlockBytes == kS5HeaderBytes);

bool HasBlock(ByteView header, size_t at, S5HeaderBlock block) {
  return header[at] == block.tag && header[at + 1] == block.bytes;
}

void PutBlock(Bytes& header, size_t at, S5HeaderBlock block) {
  header[at] = block.tag;
  header[at + 1] = block.bytes;
}

constexpr uint8_t kS5Magic0 = 'S';
constexpr uint8_t kS5Magic1 = '5';

void PutS5Head(Bytes& header, uint8_t opcode) {
  header[0] = kS5Magic0;
  header[1] = kS5Magic1;
  header[2] = static_cast<uint8_t>(kS5HeaderBytes);
  PutBlock(header, kS5OperationAt, kS5OperationBlock);
  header[kS5OperationAt + 2] = opcode;
}

bool HasS5Head(ByteView header) {
  return header.size() >= kS5HeaderBytes && header[0] == kS5Magic0 && header[1] == kS5Magic1 &&
         header[2] == kS5HeaderBytes && HasBlock(header, kS5OperationAt, kS5OperationBlock);
}

}  // namespace

Bytes S7SetupRequest(uint16_t reference, uint16_t parallelJobs, uint16_t pduBytes) {
  Bytes pdu = S7Job(reference, 8, 0);
  const std::array<uint8_t, 8> parameter{
      static_cast<uint8_t>(S7Function::kSetup), 0,
      static_cast<uint8_t>(parallelJobs >> 8),  static_cast<uint8_t>(parallelJobs),
      static_cast<uint8_t>(parallelJobs >> 8),  static_cast<uint8_t>(parallelJobs),
      static_cast<uint8_t>(pduBytes >> 8),      static_cast<uint8_t>(pduBytes)};
  Append(pdu, ByteView(parameter));
  return pdu;
}

Bytes S7ReadRequest(uint16_t reference, const S7Item& item) {
  Bytes pdu = S7Job(reference, 14, 0);
  Append(pdu, {static_cast<uint8_t>(S7Function::kRead), 1});
  AppendItem(pdu, item);
  return pdu;
}

Bytes S7WriteRequest(uint16_t reference, const S7Item& item, ByteView data) {
  Bytes pdu = S7Job(reference, 14, 4 + data.size());
  Append(pdu, {static_cast<uint8_t>(S7Function::kWrite), 1});
  AppendItem(pdu, item);
  const uint32_t bits = static_cast<uint32_t>(data.size()) * 8;
  Append(pdu, {0, kS7DataBytes, static_cast<uint8_t>(bits >> 8), static_cast<uint8_t>(bits)});
  Append(pdu, data);
  return pdu;
}

std::optional<S7Answer> ParseS7Answer(ByteView pdu) {
  if (pdu.size() < S7Header::kJobBytes || pdu[0] != S7Header::kProtocolId) return std::nullopt;
  if (pdu[1] != S7Header::kAck && pdu[1] != S7Header::kAckData) return std::nullopt;
  if (pdu.size() < S7Header::kAckDataBytes) return std::nullopt;
  S7Answer answer;
  answer.reference = LoadBe16(&pdu[S7Header::kReferenceAt]);
  const size_t parameterBytes = LoadBe16(&pdu[S7Header::kParameterLengthAt]);
  const size_t dataBytes = LoadBe16(&pdu[S7Header::kDataLengthAt]);
  answer.error = LoadBe16(&pdu[S7Header::kErrorAt]);
  if (S7Header::kAckDataBytes + parameterBytes + dataBytes > pdu.size()) return std::nullopt;
  const ByteView parameter = pdu.subspan(S7Header::kAckDataBytes, parameterBytes);
  const ByteView data = pdu.subspan(S7Header::kAckDataBytes + parameterBytes, dataBytes);
  if (!ParseParameter(parameter, data, answer)) return std::nullopt;
  return answer;
}

Bytes S5RequestHeader(const S5Request& request) {
  Bytes header(kS5HeaderBytes);
  PutS5Head(header, static_cast<uint8_t>(request.opcode));
  PutBlock(header, kS5SecondBlockAt, kS5OrganisationBlock);
  header[8] = request.org;
  header[9] = request.block;
  StoreBe16(&header[10], request.start);
  StoreBe16(&header[12], request.length);
  PutBlock(header, kS5RequestEmptyAt, {kS5EmptyBlockTag, kS5RequestEmptyBlockBytes});
  return header;
}

std::optional<S5Request> ParseS5RequestHeader(ByteView header) {
  if (!HasS5Head(header) || !HasBlock(header, kS5SecondBlockAt, kS5OrganisationBlock))
    return std::nullopt;
  const auto opcode = static_cast<S5Opcode>(header[5]);
  if (opcode != S5Opcode::kFetch && opcode != S5Opcode::kWrite) return std::nullopt;
  return S5Request{opcode, header[8], header[9], LoadBe16(&header[10]), LoadBe16(&header[12])};
}

size_t S5DataBytes(const S5Request& request) {
  const bool words = request.org == kS5OrgDataBlock || request.org == kS5OrgExtendedDataBlock;
  return size_t{request.length} * (words ? 2 : 1);
}

std::optional<size_t> S5RequestBytes(ByteView waiting) {
  if (waiting.size() < kS5HeaderBytes) return 0;
  const std::optional<S5Request> request = ParseS5RequestHeader(waiting.first(kS5HeaderBytes));
  if (!request) return std::nullopt;
  return kS5HeaderBytes + (request->opcode == S5Opcode::kWrite ? S5DataBytes(*request) : 0);
}

Bytes S5AnswerHeader(const S5Answer& answer) {
  Bytes header(kS5HeaderBytes);
  PutS5Head(header, static_cast<uint8_t>(answer.opcode));
  PutBlock(header, kS5SecondBlockAt, kS5AcknowledgementBlock);
  header[8] = answer.error;
  PutBlock(header, kS5AnswerEmptyAt, {kS5EmptyBlockTag, kS5AnswerEmptyBlockBytes});
  return header;
}

std::optional<S5Answer> ParseS5AnswerHeader(ByteView header) {
  if (!HasS5Head(header) || !HasBlock(header, kS5SecondBlockAt, kS5AcknowledgementBlock))
    return std::nullopt;
  const auto opcode = static_cast<S5Opcode>(header[5]);
  if (opcode != S5Opcode::kFetchAck && opcode != S5Opcode::kWriteAck) return std::nullopt;
  return S5Answer{opcode, header[8]};
}

uint16_t StatusOfS7Item(uint8_t returnCode) {
  switch (returnCode) {
    case kS7ItemSuccess:
      return kStatusGood;
    case kS7ItemNoSuchObject:
      return kStatusNoSuchArea;
    case kS7ItemOutOfRange:
      return kStatusOutOfRange;
    default:
      return kStatusS7Item | returnCode;
  }
}

uint16_t StatusOfS5Error(uint8_t error) {
  switch (error) {
    case kS5ErrorNone:
      return kStatusGood;
    case kS5ErrorNoSuchBlock:
      return kStatusNoSuchArea;
    case kS5ErrorBlockTooShort:
      return kStatusOutOfRange;
    default:
      return kStatusS5Error | error;
  }
}

}  // namespace tav::sessions
