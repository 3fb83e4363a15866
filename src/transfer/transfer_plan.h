// Working out a transfer before anything is sent: what the TransferBlock's kind is, whether it
// keeps within every limit, and the request that carries it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "abi/command_code.h"
#include "abi/driver_instance.h"
#include "abi/transfer_block.h"
#include "platform/h1_records.h"
#include "vocabulary/element_kinds.h"

namespace tav {

// What a transfer came to. Mapped to the host's result only at the command handlers.
// Every function that returns one is [[nodiscard]].
enum class TransferOutcome : uint8_t {
  kDone,
  kRefused,      // the TransferBlock breaks a limit: nothing was sent, nothing touched
  kFailed,       // the station or the library answered with an error
  kUnavailable,  // no connection, the request was not taken, or no answer within the budget
};

constexpr CommandResult ToCommandResult(TransferOutcome outcome) {
  switch (outcome) {
    case TransferOutcome::kDone:
      return 0;
    case TransferOutcome::kRefused:
    case TransferOutcome::kFailed:
      return 1;
    case TransferOutcome::kUnavailable:
      return 2;
  }
  return 1;
}

// The element kind an AreaTypeCode names; kNone when its low byte names none.
ElementKind ElementKindOf(uint32_t areaTypeCode);

enum class Direction : uint8_t { kRead, kWrite };

// One transfer that passed every check, with everything a reader or writer needs.
struct Transfer {
  DriverInstance* instance;
  const PlcEntry* station;
  const char* tagName;  // never null
  // What the host asked for: a write's failures are logged as a write's, also when the exchange
  // that failed is the read a write makes first.
  Direction direction;
  ElementKind element;
  uint8_t plcType;
  bool s7;              // S7 byte order and units; every other type counts as S5
  bool bigEndianWords;  // words travel as big-endian byte pairs: S7, and I/Q/M areas on S5
  bool exchangePairs;   // a string's characters travel pairwise exchanged (type-5 stations)
  // Bytes in a data block that holds words (S5 types): the request covers `count` words, twice
  // the bytes the host gives.
  bool bytesInWords;
  size_t count;  // elements; a string's characters
  uint8_t* hostData;
  // Area kind, block number, start and length; the exchange fills in the connection.
  RequestRecord request;
};

// Checks the TransferBlock against every limit and works out the transfer. Returns kDone with
// `transfer` filled in, or kRefused after logging why: a null instance, TransferBlock or data
// pointer, an AreaTypeCode whose low byte names no kind, a PLC number outside the PlcTable, a
// negative count, a start or length beyond 16 bits, or more data than the TransferBuffer holds.
[[nodiscard]] TransferOutcome PlanTransfer(DriverInstance* instance, const TransferBlock* block,
                                           Direction direction, Transfer& transfer);

// Logs that a transfer of `block` (which may be null) was refused for `reason`. Returns kRefused.
[[nodiscard]] TransferOutcome RefuseTransfer(Direction direction, const TransferBlock* block,
                                             const char* reason);

// The tag name for the log: an empty text when the host gave none.
const char* TagNameOf(const TransferBlock* block);

// The format of the line that logs a failed exchange: tag name, status, status word.
const char* FailureFormat(Direction direction);

// Sends the read request and polls for its data within the instance's retry budget. On kDone the
// TransferBuffer holds the data from its first byte.
[[nodiscard]] TransferOutcome ReadExchange(const Transfer& transfer, RequestRecord& request);

// The block operations under commands 6 and 10, which the tag commands use as well. A read that
// a write makes first (a bit write) passes Direction::kWrite, so that its messages name the write.
[[nodiscard]] TransferOutcome ReadTransferBlock(DriverInstance* instance,
                                                const TransferBlock* block,
                                                Direction direction = Direction::kRead);
[[nodiscard]] TransferOutcome WriteTransferBlock(DriverInstance* instance,
                                                 const TransferBlock* block);

}  // namespace tav
