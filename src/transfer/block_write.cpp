// Block write: the dispatcher, one writer per element kind, and the write exchange they share.

#include <array>
#include <cstring>

#include "platform/h1_library.h"
#include "platform/h1_records.h"
#include "platform/host_log.h"
#include "platform/sleep.h"
#include "transfer/conversion_loops.h"
#include "transfer/transfer.h"
#include "transfer/transfer_plan.h"

namespace tav {
namespace {

constexpr uint32_t kWaitingPauseMs = 1;

// Type-5 stations write over their own write connection; every other station (and a type-5
// station whose write connection never came up) over its one connection. A station that was
// never connected is addressed with identifier 0, and the acknowledgement tells how that went.
uint16_t WriteConnectionOf(const PlcEntry& station) {
  return station.writeConnection != 0 ? station.writeConnection : station.readConnection;
}

// Sends the request with the filled TransferBuffer and polls for the acknowledgement within the
// instance's retry budget. The request is never repeated. Logs one line when the acknowledgement
// came back bad or none came within the budget.
TransferOutcome WriteExchange(const Transfer& transfer, RequestRecord& request) {
  const uint16_t connection = WriteConnectionOf(*transfer.station);
  request.connection = connection;
  uint16_t status = H1SendWriteRequest(&request, transfer.instance->transferBuffer);
  uint16_t statusWord = 0;
  // Busy or lost: the library did not take the request, so no acknowledgement can be its own. An
  // earlier write whose acknowledgement was given up may still be pending on the connection, and
  // polling would report that one as this write's. Any other failed send shows in the
  // acknowledgement.
  if (WantsResend(status)) {
    err(kLogLevelNormal, FailureFormat(transfer.direction), transfer.tagName,
        static_cast<int>(status), static_cast<int>(statusWord));
    return TransferOutcome::kUnavailable;
  }

  const int32_t budget = transfer.instance->retryBudget;
  status = kH1Done;
  bool answered = false;
  for (int32_t pass = 0; pass < budget; ++pass) {
    status = H1ReceiveWriteAcknowledge(&statusWord, connection);
    if (!IsWaiting(status)) {
      answered = true;
      break;
    }
    SleepMilliseconds(kWaitingPauseMs);
  }
  if (answered && status == kH1Done && statusWord == kStatusWordGood) return TransferOutcome::kDone;

  err(kLogLevelNormal, FailureFormat(transfer.direction), transfer.tagName,
      static_cast<int>(status), static_cast<int>(statusWord));
  return !answered || WantsResend(status) ? TransferOutcome::kUnavailable
                                          : TransferOutcome::kFailed;
}

// One writer per element kind fills the TransferBuffer from the host's array of little-endian
// elements, which it only reads. As in the readers, the conversion loop is picked once for the
// whole run.

void WriteBytes(const Transfer& /*transfer*/, uint8_t* buffer, const uint8_t* host, size_t count) {
  ConvertRun<NarrowToByte>(host, buffer, count);
}

void WriteWords(const Transfer& transfer, uint8_t* buffer, const uint8_t* host, size_t count) {
  if (transfer.bigEndianWords) {
    ConvertRun<SwapWordBytes>(host, buffer, count);
  } else {
    std::memmove(buffer, host, 2 * count);
  }
}

void WriteDoubleWords(const Transfer& transfer, uint8_t* buffer, const uint8_t* host,
                      size_t count) {
  if (transfer.s7) {
    ConvertRun<SwapDoubleWordBytes>(host, buffer, count);
  } else {
    ConvertRun<SwapDoubleWordHalves>(host, buffer, count);
  }
}

void WriteFloats(const Transfer& transfer, uint8_t* buffer, const uint8_t* host, size_t count) {
  if (transfer.s7) {
    ConvertRun<SwapDoubleWordBytes>(host, buffer, count);
  } else {
    ConvertRun<EncodeS5FloatWords>(host, buffer, count);
  }
}

void WriteString(const Transfer& transfer, uint8_t* buffer, const uint8_t* host, size_t count) {
  if (transfer.exchangePairs) {
    ConvertRun<SwapWordBytes>(host, buffer, count / 2);
  } else {
    std::memmove(buffer, host, count);
  }
}

using Writer = void (*)(const Transfer&, uint8_t* buffer, const uint8_t* host, size_t count);

constexpr std::array<Writer, kElementKinds> kWriters = {
    /* kNone       */ nullptr,
    /* kByte       */ WriteBytes,
    /* kWord       */ WriteWords,
    /* kDoubleWord */ WriteDoubleWords,
    /* kFloat      */ WriteFloats,
    /* kString     */ WriteString,
};

}  // namespace

TransferOutcome WriteTransferBlock(DriverInstance* instance, const TransferBlock* block) {
  Transfer transfer{};
  if (const TransferOutcome outcome = PlanTransfer(instance, block, Direction::kWrite, transfer);
      outcome != TransferOutcome::kDone) {
    return outcome;
  }
  if (transfer.bytesInWords) {
    // The station takes whole words: fetch the ones the request covers first, so that the bytes
    // the host does not write go back as they were instead of whatever the buffer last held.
    RequestRecord covered = transfer.request;
    if (const TransferOutcome outcome = ReadExchange(transfer, covered);
        outcome != TransferOutcome::kDone) {
      return outcome;
    }
  }
  kWriters[static_cast<size_t>(transfer.element)](transfer, transfer.instance->transferBuffer,
                                                  transfer.hostData, transfer.count);
  RequestRecord request = transfer.request;
  return WriteExchange(transfer, request);
}

CommandResult WriteBlock(const Request& request) {
  return ToCommandResult(
      WriteTransferBlock(request.instance, static_cast<const TransferBlock*>(request.parameters)));
}

}  // namespace tav
