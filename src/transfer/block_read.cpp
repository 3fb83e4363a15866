// Block read: the dispatcher, one reader per element kind, and the read exchange they share.

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

// A request the library refuses with "busy" is sent again up to this many times, each after a
// pause; S5 stations of type 5 get a longer one.
constexpr int kBusyResends = 20;
constexpr uint32_t kBusyPauseMs = 10;
constexpr uint32_t kS5BusyExtraMs = 40;
constexpr uint32_t kAbandonPauseMs = 1;
constexpr uint32_t kWaitingPauseMs = 1;
constexpr uint32_t kResendPauseMs = 50;

// One reader per element kind converts the TransferBuffer into the host's array of little-endian
// elements; it runs only after a good exchange. It picks the conversion loop once for the whole
// run from the station's byte order.

void ReadBytes(const Transfer& /*transfer*/, const uint8_t* buffer, uint8_t* host, size_t count) {
  ConvertRun<WidenByte>(buffer, host, count);
}

// S5 data blocks hold words, which the library delivers in host order; S7 stations and the
// process areas deliver big-endian byte pairs.
void ReadWords(const Transfer& transfer, const uint8_t* buffer, uint8_t* host, size_t count) {
  if (transfer.bigEndianWords) {
    ConvertRun<SwapWordBytes>(buffer, host, count);
  } else {
    std::memmove(host, buffer, 2 * count);
  }
}

// S7 stations send 32-bit values big-endian, S5 stations as two host-order words, the high one
// first.
void ReadDoubleWords(const Transfer& transfer, const uint8_t* buffer, uint8_t* host, size_t count) {
  if (transfer.s7) {
    ConvertRun<SwapDoubleWordBytes>(buffer, host, count);
  } else {
    ConvertRun<SwapDoubleWordHalves>(buffer, host, count);
  }
}

// S7 stations hold IEEE 754 singles; S5 stations their own format, stored as the nearest single.
void ReadFloats(const Transfer& transfer, const uint8_t* buffer, uint8_t* host, size_t count) {
  if (transfer.s7) {
    ConvertRun<SwapDoubleWordBytes>(buffer, host, count);
  } else {
    ConvertRun<DecodeS5FloatWords>(buffer, host, count);
  }
}

// Characters come in whole pairs; type-5 stations hold each pair exchanged. No NUL is added.
void ReadString(const Transfer& transfer, const uint8_t* buffer, uint8_t* host, size_t count) {
  if (transfer.exchangePairs) {
    ConvertRun<SwapWordBytes>(buffer, host, count / 2);
  } else {
    std::memmove(host, buffer, count);
  }
}

using Reader = void (*)(const Transfer&, const uint8_t* buffer, uint8_t* host, size_t count);

constexpr std::array<Reader, kElementKinds> kReaders = {
    /* kNone       */ nullptr,
    /* kByte       */ ReadBytes,
    /* kWord       */ ReadWords,
    /* kDoubleWord */ ReadDoubleWords,
    /* kFloat      */ ReadFloats,
    /* kString     */ ReadString,
};

}  // namespace

// Logs one line when an answer came back bad or none came within the budget.
TransferOutcome ReadExchange(const Transfer& transfer, RequestRecord& request) {
  const uint16_t connection = transfer.station->readConnection;
  if (connection == 0) return TransferOutcome::kUnavailable;
  request.connection = connection;

  uint16_t status = H1SendReadRequest(&request);
  if (status == kH1Busy) {
    for (int resend = 0; resend < kBusyResends && status != kH1Done; ++resend) {
      SleepMilliseconds(kBusyPauseMs);
      if (transfer.plcType == kPlcTypeS5) SleepMilliseconds(kS5BusyExtraMs);
      status = H1SendReadRequest(&request);
    }
    if (status == kH1Busy) return TransferOutcome::kUnavailable;
  }

  uint8_t* buffer = transfer.instance->transferBuffer;
  uint16_t statusWord = 0;
  if (status == kH1Abandon) {
    (void)H1ReceiveReadData(kTransferBufferSize, buffer, &statusWord, connection);
    SleepMilliseconds(kAbandonPauseMs);
    return TransferOutcome::kFailed;
  }
  if (status != kH1Done) return TransferOutcome::kUnavailable;

  // Only an answer of receive read data itself ends the polling; a budget spent on waiting and
  // re-sending never counts as data, whatever the last re-send returned.
  const int32_t budget = transfer.instance->retryBudget;
  bool answered = false;
  for (int32_t pass = 0; pass < budget; ++pass) {
    status = H1ReceiveReadData(kTransferBufferSize, buffer, &statusWord, connection);
    if (WantsResend(status)) {
      status = H1SendReadRequest(&request);
      SleepMilliseconds(kResendPauseMs);
    } else if (IsWaiting(status)) {
      SleepMilliseconds(kWaitingPauseMs);
    } else {
      answered = true;
      break;
    }
  }
  if (answered && status == kH1Done && statusWord == kStatusWordGood) return TransferOutcome::kDone;

  err(kLogLevelNormal, FailureFormat(transfer.direction), transfer.tagName,
      static_cast<int>(status), static_cast<int>(statusWord));
  return answered ? TransferOutcome::kFailed : TransferOutcome::kUnavailable;
}

TransferOutcome ReadTransferBlock(DriverInstance* instance, const TransferBlock* block,
                                  Direction direction) {
  Transfer transfer{};
  if (const TransferOutcome outcome = PlanTransfer(instance, block, direction, transfer);
      outcome != TransferOutcome::kDone) {
    return outcome;
  }
  RequestRecord request = transfer.request;
  if (const TransferOutcome outcome = ReadExchange(transfer, request);
      outcome != TransferOutcome::kDone) {
    return outcome;
  }
  kReaders[static_cast<size_t>(transfer.element)](transfer, transfer.instance->transferBuffer,
                                                  transfer.hostData, transfer.count);
  return TransferOutcome::kDone;
}

CommandResult ReadBlock(const Request& request) {
  return ToCommandResult(
      ReadTransferBlock(request.instance, static_cast<const TransferBlock*>(request.parameters)));
}

}  // namespace tav
