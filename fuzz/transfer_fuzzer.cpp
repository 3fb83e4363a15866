// Drives commands 5, 6, 7 and 10 with arbitrary TransferBlocks on an initialised instance, with an
// H1 driver library whose answers the input scripts: results, status words, delivered bytes, and
// so the waits and re-sends.
//
// Input (libFuzzer's FuzzedDataProvider): the retry budget, the type and connections of stations 1
// to 4 (station 5 is unconfigured), the command and the TransferBlock's fields; the remaining
// bytes are the script. Each H1 call takes the next answer from it: a result (one byte, mostly the
// results the driver reacts to), a status word (one byte, mostly 0) and, for receive read data, a
// length byte and that many bytes delivered into the buffer. Once the script is used up every call
// answers 0 with status word 0, so every loop ends.
//
// The host's array is a heap block of exactly the bytes the command may touch (the 4-byte value
// cell of a tag, count elements of a block, the characters of a string; none at all when the
// transfer cannot fit the TransferBuffer), so AddressSanitizer reports any access beyond it.
// Checked after every command:
//  - the result is 0, 1 or 2; a TransferBlock beyond any limit is refused with 1, calling nothing;
//  - the array is unchanged unless a read succeeded; a tag read changes only bytes 2 and 3 of a
//    16-bit element's cell, and a bit read leaves 0 or 1 there;
//  - the TransferBlock is unchanged, but for the count of a tag command, which becomes 1;
//  - nothing of the instance but the TransferBuffer changes;
//  - exchanges go out on the station's own identifiers (reads never on identifier 0), and no
//    connection operation is called;
//  - polls, re-sends and sleeps stay within what the retry budget allows for two exchanges (a
//    write may read first);
//  - at most one log line, at level 32, naming the command's direction, and none on success.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "abi/area_type.h"
#include "abi/driver_instance.h"
#include "abi/records.h"
#include "abi/transfer_block.h"
#include "driver/tav_main.h"
#include "h1_front/records.h"
#include "platform/h1_library.h"
#include "platform/h1_records.h"
#include "platform/host_log.h"
#include "platform/sleep.h"
#include "support/h1_shims.h"

namespace {

using tav::DriverInstance;
using tav::PlcEntry;
using tav::TransferBlock;

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "transfer fuzzer: %s\n", what);
  std::abort();
}

// The scripted library and what it saw during one command.
struct Library {
  std::span<const uint8_t> script;
  uint16_t readConnection = 0;  // what the exchanges must name
  uint16_t writeConnection = 0;
  uint32_t receiveReads = 0;
  uint32_t acknowledgements = 0;
  uint32_t sendReads = 0;
  uint32_t sendWrites = 0;
  uint32_t connectionOperations = 0;
  uint64_t sleptMilliseconds = 0;
  uint32_t logLines = 0;
  int32_t logLevel = 0;
  const char* logFormat = nullptr;

  uint8_t Next() {
    if (script.empty()) return 0;
    const uint8_t byte = script.front();
    script = script.subspan(1);
    return byte;
  }
  // Mostly the results the driver tells apart: done, no data yet, arriving, busy, lost, aborted.
  uint16_t Result() {
    static constexpr uint16_t kResults[16] = {0, 0, 0, 0, 6, 6, 6, 7, 3, 9, 14, 5, 1, 2, 8, 0xFFFF};
    return kResults[Next() % 16];
  }
  uint16_t StatusWord() {
    const uint8_t byte = Next();
    return byte < 224 ? 0 : static_cast<uint16_t>(byte - 223);
  }
};

Library library;

const char* const kReadFormats[] = {"TavSH1: Read Tag %s Failed, rc=%d,%d",
                                    "TavSH1: Read Tag %s Refused, %s"};
const char* const kWriteFormats[] = {"TavSH1: Write Tag %s Failed, rc=%d,%d",
                                     "TavSH1: Write Tag %s Refused, %s"};

bool IsOneOf(const char* format, const char* const (&formats)[2]) {
  return std::strcmp(format, formats[0]) == 0 || std::strcmp(format, formats[1]) == 0;
}

// The bytes of the host's array the command may touch, from the TransferBlock as the host fills
// it. `fits` is false when the command must be refused whatever else it holds: a block transfer
// of no kind, or one that cannot fit the 10,000-byte TransferBuffer (no byte of which carries
// more than two bytes of host data); the array then has no bytes at all.
struct HostArray {
  size_t bytes = 0;
  bool fits = true;
};

HostArray HostArrayFor(int32_t command, const TransferBlock& block) {
  const uint8_t kind = tav::KindByte(block.areaTypeCode);
  const bool tag = command == 5 || command == 7;
  size_t width = 0;
  switch (kind) {
    case tav::kAreaDataByte:
    case tav::kAreaDataWord:
    case tav::kAreaDataWordOdd:
    case tav::kAreaInputs:
    case tav::kAreaOutputs:
    case tav::kAreaFlags:
      width = 2;
      break;
    case tav::kAreaDataDouble:
    case tav::kAreaDataDoubleOdd:
    case tav::kAreaDataFloat:
    case tav::kAreaDataFloatOdd:
      width = 4;
      break;
    case tav::kAreaString:
      return {(block.packedAddress >> 24) / 2 * 2};
    default:
      return tag ? HostArray{4} : HostArray{0, false};
  }
  if (tag) return {4};
  if (block.count < 0) return {0, false};
  const uint64_t bytes = uint64_t{width} * static_cast<uint32_t>(block.count);
  if (bytes > 2 * tav::kTransferBufferSize) return {0, false};
  return {static_cast<size_t>(bytes)};
}

constexpr uint32_t kCodes[] = {tav::kAreaDataWord,
                               tav::kAreaDataWordOdd,
                               tav::kAreaDataByte,
                               tav::kAreaDataDouble,
                               tav::kAreaDataDoubleOdd,
                               tav::kAreaDataFloat,
                               tav::kAreaDataFloatOdd,
                               tav::kAreaString,
                               tav::kAreaInputBytes,
                               tav::kAreaOutputBytes,
                               tav::kAreaFlagBytes,
                               tav::kAreaInputWords,
                               tav::kAreaOutputWords,
                               tav::kAreaFlagWords,
                               tav::kAreaExtended,
                               tav::kAreaExtended | 'B',
                               tav::kAreaExtended | 'd',
                               tav::kAreaExtended | 'F',
                               'I',
                               'Z'};

void SetUpStations(FuzzedDataProvider& input, DriverInstance& instance) {
  for (int station = 1; station <= 4; ++station) {
    PlcEntry& entry = instance.plcTable[station];
    entry.plcType = input.PickValueInArray<uint8_t>({5, 6, 7, 5, 7, 0});
    std::snprintf(entry.ethernetAddress, sizeof entry.ethernetAddress, "0A0B0C01020%d", station);
    entry.readConnection = input.ConsumeBool() ? static_cast<uint16_t>(2 * station) : 0;
    entry.writeConnection = input.ConsumeBool() ? static_cast<uint16_t>(2 * station + 1) : 0;
  }
  // Station 5 is not configured but holds identifiers, as a host's instance block may.
  instance.plcTable[5].readConnection = 11;
}

TransferBlock MakeBlock(FuzzedDataProvider& input) {
  TransferBlock block{};
  block.tagName = input.ConsumeBool() ? "TAG" : nullptr;
  block.hostField4 = 0x11111111;
  block.plcNumber = input.ConsumeBool() ? input.ConsumeIntegralInRange<int32_t>(0, 5)
                                        : input.ConsumeIntegral<int32_t>();
  block.areaTypeCode =
      input.ConsumeBool() ? input.PickValueInArray(kCodes) : input.ConsumeIntegral<uint32_t>();
  block.packedAddress = input.ConsumeBool()
                            ? input.ConsumeIntegralInRange<uint32_t>(0, 3) << 24 |
                                  input.ConsumeIntegralInRange<uint32_t>(0, 20) << 16 |
                                  input.ConsumeIntegralInRange<uint32_t>(0, 40)
                            : input.ConsumeIntegral<uint32_t>();
  block.bitNumber = input.ConsumeBool()   ? tav::kNoBitNumber
                    : input.ConsumeBool() ? input.ConsumeIntegralInRange<uint32_t>(0, 40)
                                          : input.ConsumeIntegral<uint32_t>();
  block.hostField24[0] = 0x22222222;
  block.hostField24[1] = 0x33333333;
  block.count = input.ConsumeBool() ? input.ConsumeIntegralInRange<int32_t>(-2, 40)
                                    : input.ConsumeIntegral<int32_t>();
  block.hostField36 = 0x44444444;
  return block;
}

void CheckHostArray(int32_t command, int32_t result, const TransferBlock& block,
                    std::span<const uint8_t> before, std::span<const uint8_t> after) {
  const bool changed = !std::equal(before.begin(), before.end(), after.begin());
  if (command == 7 || command == 10 || result != 0) {
    Require(!changed, "the host's array changed without a successful read");
    return;
  }
  const uint8_t kind = tav::KindByte(block.areaTypeCode);
  if (command != 5 || kind == tav::kAreaString) return;
  const bool wide = kind == 'D' || kind == 'd' || kind == 'F' || kind == 'f';
  if (!wide || block.bitNumber != tav::kNoBitNumber) {
    Require(before[0] == after[0] && before[1] == after[1], "bytes 0 and 1 of the cell changed");
  }
  if (block.bitNumber != tav::kNoBitNumber) {
    Require(after[3] == 0 && after[2] <= 1, "a bit read left neither 0 nor 1");
  }
}

void CheckBounds(int32_t budget) {
  const uint64_t passes = static_cast<uint64_t>(std::max(budget, 0));
  // Two exchanges at most; each sends up to 21 times while busy and once per pass while lost.
  Require(library.receiveReads <= 2 * (passes + 1), "more read polls than the budget allows");
  Require(library.acknowledgements <= passes, "more acknowledgement polls than the budget");
  Require(library.sendReads <= 2 * (21 + passes), "more read requests than the budget allows");
  Require(library.sendWrites <= 1, "a write sent twice");
  Require(library.sleptMilliseconds <= 2 * (20 * 50 + 50 * passes + 1) + passes,
          "slept longer than the budget allows");
  Require(library.connectionOperations == 0, "a transfer opened, polled or released connections");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto instance = std::make_unique<DriverInstance>();
  static auto before = std::make_unique<DriverInstance>();
  FuzzedDataProvider input(data, size);

  std::memset(instance.get(), 0, sizeof(DriverInstance));
  const int32_t budget = input.ConsumeBool() ? input.ConsumeIntegralInRange<int32_t>(-2, 30)
                                             : input.ConsumeIntegralInRange<int32_t>(-2, 1500);
  instance->retryBudget = budget;
  SetUpStations(input, *instance);
  const int32_t command = input.PickValueInArray<int32_t>({5, 6, 7, 10});
  TransferBlock block = MakeBlock(input);
  const bool nullData = input.ConsumeIntegralInRange(0, 15) == 0;
  const std::vector<uint8_t> script = input.ConsumeRemainingBytes<uint8_t>();

  const HostArray array = HostArrayFor(command, block);
  const size_t hostBytes = array.bytes;
  auto host = std::make_unique<uint8_t[]>(hostBytes);
  for (size_t i = 0; i < hostBytes; ++i) host[i] = static_cast<uint8_t>(0xC0 + i % 61);
  const std::vector<uint8_t> original(host.get(), host.get() + hostBytes);
  block.data = nullData ? nullptr : host.get();
  const TransferBlock blockBefore = block;
  std::memcpy(before.get(), instance.get(), sizeof(DriverInstance));

  library = Library{};
  library.script = script;
  if (tav::IsStationNumber(block.plcNumber)) {
    const PlcEntry& entry = instance->plcTable[block.plcNumber];
    library.readConnection = entry.readConnection;
    library.writeConnection =
        entry.writeConnection != 0 ? entry.writeConnection : entry.readConnection;
  }

  tav::Request request{instance.get(), command, 0, 0, &block};
  const int32_t result = TavMain(&request);

  Require(result >= 0 && result <= 2, "result outside 0 to 2");
  if (!tav::IsStationNumber(blockBefore.plcNumber) || !array.fits || nullData) {
    Require(result == 1, "a TransferBlock beyond a limit was not refused");
    Require(library.sendReads + library.sendWrites + library.receiveReads == 0,
            "a refused TransferBlock reached the library");
  }
  CheckHostArray(command, result, blockBefore, original, {host.get(), hostBytes});

  TransferBlock expected = blockBefore;
  if ((command == 5 || command == 7) && block.count == 1) expected.count = 1;
  Require(std::memcmp(&expected, &block, sizeof block) == 0, "the TransferBlock changed");
  Require(
      std::memcmp(before.get(), instance.get(), offsetof(DriverInstance, transferBuffer)) == 0 &&
          std::memcmp(before->plcTable, instance->plcTable, sizeof instance->plcTable) == 0,
      "the instance changed outside the TransferBuffer");

  CheckBounds(budget);
  Require(library.logLines <= 1, "more than one log line");
  Require(result != 0 || library.logLines == 0, "a log line on success");
  if (library.logLines == 1) {
    Require(library.logLevel == 32, "log level not 32");
    const bool write = command == 7 || command == 10;
    Require(IsOneOf(library.logFormat, write ? kWriteFormats : kReadFormats),
            "the log line names another operation");
  }
  return 0;
}

// The scripted H1 driver library, the host log and sleeping.
namespace {

uint16_t ConnectionOperation() {
  ++library.connectionOperations;
  return 0;
}

uint16_t SentOn(const void* requestRecord) {
  tav::RequestRecord record;
  Require(tav::front::TakeRequestRecord(requestRecord, record) == tav::h1::kOk,
          "no request record");
  return record.connection;
}

// Opening or closing the library and opening, polling, restarting or releasing connections: no
// transfer may call any of them.
uint16_t TAV_H1_CALL OnDriver(void) {
  return ConnectionOperation();
}
uint16_t TAV_H1_CALL OpenS5Connection(void*) {
  return ConnectionOperation();
}
uint16_t TAV_H1_CALL OpenS7Connection(void*, uint32_t) {
  return ConnectionOperation();
}
uint16_t TAV_H1_CALL OnConnection(uint32_t) {
  return ConnectionOperation();
}

uint16_t TAV_H1_CALL SendReadRequest(void* requestRecord) {
  ++library.sendReads;
  const uint16_t connection = SentOn(requestRecord);
  Require(connection != 0 && connection == library.readConnection,
          "read request not on the station's read connection");
  return library.Result();
}

uint16_t TAV_H1_CALL ReceiveReadData(uint32_t bufferSize, void* buffer, uint16_t* statusWord,
                                     uint32_t connection) {
  ++library.receiveReads;
  Require(connection == library.readConnection, "read data polled on another connection");
  Require(bufferSize == tav::kTransferBufferSize && buffer != nullptr && statusWord != nullptr,
          "receive read data without the TransferBuffer");
  const uint16_t result = library.Result();
  *statusWord = library.StatusWord();
  const size_t length = std::min<size_t>(library.Next() * size_t{40}, library.script.size());
  if (length > 0) {
    std::memcpy(buffer, library.script.data(), std::min<size_t>(length, bufferSize));
    library.script = library.script.subspan(length);
  }
  return result;
}

uint16_t TAV_H1_CALL SendWriteRequest(void* requestRecord, void* buffer) {
  ++library.sendWrites;
  Require(SentOn(requestRecord) == library.writeConnection,
          "write request not on the station's write connection");
  Require(buffer != nullptr, "write request without the TransferBuffer");
  return library.Result();
}

uint16_t TAV_H1_CALL ReceiveWriteAcknowledge(uint16_t* statusWord, uint32_t connection) {
  ++library.acknowledgements;
  Require(connection == library.writeConnection, "acknowledgement polled on another connection");
  Require(statusWord != nullptr, "acknowledgement without a status word");
  const uint16_t result = library.Result();
  *statusWord = library.StatusWord();
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tav::testing::InstallH1Library({.openDriver = OnDriver,
                                  .closeDriver = OnDriver,
                                  .openS5 = OpenS5Connection,
                                  .openS7 = OpenS7Connection,
                                  .state = OnConnection,
                                  .restart = OnConnection,
                                  .release = OnConnection,
                                  .sendRead = SendReadRequest,
                                  .receiveRead = ReceiveReadData,
                                  .sendWrite = SendWriteRequest,
                                  .receiveWrite = ReceiveWriteAcknowledge});
  return 0;
}

extern "C" void err(int32_t level, const char* format, ...) {
  ++library.logLines;
  library.logLevel = level;
  library.logFormat = format;
}

namespace tav {

void SleepMilliseconds(uint32_t milliseconds) {
  library.sleptMilliseconds += milliseconds;
}

}  // namespace tav
