// Block read: the dispatcher, one reader per element kind, and the read exchange they share.

#include <array>
#include <bit>
#include <cstring>

#include "platform/h1_library.h"
#include "platform/h1_records.h"
#include "platform/host_log.h"
#include "platform/sleep.h"
#include "transfer/byte_order.h"
#include "transfer/s5_float.h"
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
// elements; it runs only after a good exchange. The buffer, the host's array and the count come
// as parameters, so that the compiler need not fear the stores into the host's bytes changing
// them.

void ReadBytes(const Transfer& /*transfer*/, const uint8_t* buffer, uint8_t* host, size_t count) {
  for (size_t i = 0; i < count; ++i) StoreLe16(host + 2 * i, buffer[i]);
}

// S5 data blocks hold words, which the library delivers in host order; S7 stations and the
// process areas deliver big-endian byte pairs.
void ReadWords(const Transfer& transfer, const uint8_t* buffer, uint8_t* host, size_t count) {
  if (transfer.bigEndianWords) {
    for (size_t i = 0; i < count; ++i) StoreLe16(host + 2 * i, LoadBe16(buffer + 2 * i));
  } else {
    for (size_t i = 0; i < count; ++i) StoreLe16(host + 2 * i, LoadLe16(buffer + 2 * i));
  }
}

// A 32-bit quantity from an S5 station: two host-order words, the high half first.
uint32_t LoadS5Pair(const uint8_t* bytes) {
  return uint32_t{LoadLe16(bytes)} << 16 | LoadLe16(bytes + 2);
}

void ReadDoubleWords(const Transfer& transfer, const uint8_t* buffer, uint8_t* host, size_t count) {
  if (transfer.s7) {
    for (size_t i = 0; i < count; ++i) StoreLe32(host + 4 * i, LoadBe32(buffer + 4 * i));
  } else {
    for (size_t i = 0; i < count; ++i) StoreLe32(host + 4 * i, LoadS5Pair(buffer + 4 * i));
  }
}

// S7 stations hold IEEE 754 singles; S5 stations their own format, stored as the nearest single.
void ReadFloats(const Transfer& transfer, const uint8_t* buffer, uint8_t* host, size_t count) {
  if (transfer.s7) {
    for (size_t i = 0; i < count; ++i) StoreLe32(host + 4 * i, LoadBe32(buffer + 4 * i));
  } else {
    for (size_t i = 0; i < count; ++i) {
      const auto single = static_cast<float>(DecodeS5Float(LoadS5Pair(buffer + 4 * i)));
      StoreLe32(host + 4 * i, std::bit_cast<uint32_t>(single));
    }
  }
}

// Characters come in whole pairs; type-5 stations hold each pair exchanged. No NUL is added.
void ReadString(const Transfer& transfer, const uint8_t* buffer, uint8_t* host, size_t count) {
  if (!transfer.exchangePairs) {
    std::memcpy(host, buffer, count);
    return;
  }
  for (size_t i = 0; i + 1 < count; i += 2) {
    host[i] = buffer[i + 1];
    host[i + 1] = buffer[i];
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
