// Block read: the dispatcher, one reader per element kind, and the read exchange they share.

#include <array>
#include <bit>
#include <cstring>

#include "platform/h1_library.h"
#include "platform/host_log.h"
#include "platform/sleep.h"
#include "transfer/byte_order.h"
#include "transfer/h1_status.h"
#include "transfer/s5_float.h"
#include "transfer/transfer.h"
#include "transfer/transfer_plan.h"

namespace tav {
namespace {

constexpr const char kReadFailed[] = "TavSH1: Read Tag %s Failed, rc=%d,%d";

// A request the library refuses with "busy" is sent again up to this many times, each after a
// pause; S5 stations of type 5 get a longer one.
constexpr int kBusyResends = 20;
constexpr uint32_t kBusyPauseMs = 10;
constexpr uint32_t kS5BusyExtraMs = 40;
constexpr uint32_t kAbandonPauseMs = 1;
constexpr uint32_t kWaitingPauseMs = 1;
constexpr uint32_t kResendPauseMs = 50;

// Sends the request and polls for its data within the instance's retry budget. On kDone the
// TransferBuffer holds the data from its first byte. Logs one line when an answer came back bad
// or none came within the budget.
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
  if (answered && status == kH1Done && statusWord == 0) return TransferOutcome::kDone;

  err(kLogLevelNormal, kReadFailed, transfer.tagName, static_cast<int>(status),
      static_cast<int>(statusWord));
  return answered ? TransferOutcome::kFailed : TransferOutcome::kUnavailable;
}

// Each reader runs the exchange with its own copy of the request and, only on success, converts
// the TransferBuffer into the host's array. Host elements are little-endian.

TransferOutcome ReadBytes(const Transfer& transfer) {
  RequestRecord request = transfer.request;
  if (const TransferOutcome outcome = ReadExchange(transfer, request);
      outcome != TransferOutcome::kDone) {
    return outcome;
  }
  const uint8_t* buffer = transfer.instance->transferBuffer;
  for (size_t i = 0; i < transfer.count; ++i) StoreLe16(transfer.hostData + 2 * i, buffer[i]);
  return TransferOutcome::kDone;
}

// S5 data blocks hold words, which the library delivers in host order; S7 stations and the
// process areas deliver big-endian byte pairs.
TransferOutcome ReadWords(const Transfer& transfer) {
  RequestRecord request = transfer.request;
  if (const TransferOutcome outcome = ReadExchange(transfer, request);
      outcome != TransferOutcome::kDone) {
    return outcome;
  }
  const uint8_t* buffer = transfer.instance->transferBuffer;
  for (size_t i = 0; i < transfer.count; ++i) {
    const uint8_t* word = buffer + 2 * i;
    StoreLe16(transfer.hostData + 2 * i, transfer.bigEndianWords ? LoadBe16(word) : LoadLe16(word));
  }
  return TransferOutcome::kDone;
}

// A 32-bit quantity from an S5 station: two host-order words, the high half first.
uint32_t LoadS5Pair(const uint8_t* bytes) {
  return uint32_t{LoadLe16(bytes)} << 16 | LoadLe16(bytes + 2);
}

uint32_t LoadQuantity(const Transfer& transfer, const uint8_t* bytes) {
  return transfer.s7 ? LoadBe32(bytes) : LoadS5Pair(bytes);
}

TransferOutcome ReadDoubleWords(const Transfer& transfer) {
  RequestRecord request = transfer.request;
  if (const TransferOutcome outcome = ReadExchange(transfer, request);
      outcome != TransferOutcome::kDone) {
    return outcome;
  }
  const uint8_t* buffer = transfer.instance->transferBuffer;
  for (size_t i = 0; i < transfer.count; ++i) {
    StoreLe32(transfer.hostData + 4 * i, LoadQuantity(transfer, buffer + 4 * i));
  }
  return TransferOutcome::kDone;
}

// S7 stations hold IEEE 754 singles; S5 stations their own format, stored as the nearest single.
TransferOutcome ReadFloats(const Transfer& transfer) {
  RequestRecord request = transfer.request;
  if (const TransferOutcome outcome = ReadExchange(transfer, request);
      outcome != TransferOutcome::kDone) {
    return outcome;
  }
  const uint8_t* buffer = transfer.instance->transferBuffer;
  for (size_t i = 0; i < transfer.count; ++i) {
    const uint32_t quantity = LoadQuantity(transfer, buffer + 4 * i);
    const uint32_t single =
        transfer.s7 ? quantity
                    : std::bit_cast<uint32_t>(static_cast<float>(DecodeS5Float(quantity)));
    StoreLe32(transfer.hostData + 4 * i, single);
  }
  return TransferOutcome::kDone;
}

// Characters come in whole pairs; type-5 stations hold each pair exchanged. No NUL is added.
TransferOutcome ReadString(const Transfer& transfer) {
  RequestRecord request = transfer.request;
  if (const TransferOutcome outcome = ReadExchange(transfer, request);
      outcome != TransferOutcome::kDone) {
    return outcome;
  }
  const uint8_t* buffer = transfer.instance->transferBuffer;
  if (!transfer.exchangePairs) {
    std::memcpy(transfer.hostData, buffer, transfer.count);
    return TransferOutcome::kDone;
  }
  for (size_t i = 0; i + 1 < transfer.count; i += 2) {
    transfer.hostData[i] = buffer[i + 1];
    transfer.hostData[i + 1] = buffer[i];
  }
  return TransferOutcome::kDone;
}

using Reader = TransferOutcome (*)(const Transfer&);

constexpr std::array<Reader, kElementKinds> kReaders = {
    /* kNone       */ nullptr,
    /* kByte       */ ReadBytes,
    /* kWord       */ ReadWords,
    /* kDoubleWord */ ReadDoubleWords,
    /* kFloat      */ ReadFloats,
    /* kString     */ ReadString,
};

}  // namespace

TransferOutcome ReadTransferBlock(DriverInstance* instance, const TransferBlock* block) {
  Transfer transfer{};
  if (const TransferOutcome outcome = PlanTransfer(instance, block, Direction::kRead, transfer);
      outcome != TransferOutcome::kDone) {
    return outcome;
  }
  return kReaders[static_cast<size_t>(transfer.element)](transfer);
}

CommandResult ReadBlock(const Request& request) {
  return ToCommandResult(
      ReadTransferBlock(request.instance, static_cast<const TransferBlock*>(request.parameters)));
}

}  // namespace tav
