// The records the driver exchanges with the H1 driver library, and the results and status words
// it reacts to. Records are pointer-free, little-endian 16-bit fields, the same layout in every
// build.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vocabulary/ethernet_address.h"
#include "vocabulary/h1_results.h"

namespace tav {

inline constexpr size_t kTsapFieldBytes = 16;  // room for a TSAP; S5 TSAPs use 8, S7 TSAPs 2

// Opens one connection to a station. Built afresh for each station; the library writes the new
// connection's identifier and a status word back into it.
struct ConnectRecord {
  uint8_t recordType;     // 8
  uint8_t recordVersion;  // 1
  uint8_t addressLength;  // 6
  uint8_t ethernetAddress[kEthernetAddressBytes];
  uint8_t reserved9;
  uint8_t addressExtension;  // 0
  uint8_t reserved11[12];
  uint8_t remoteTsapLength;
  uint8_t remoteTsap[kTsapFieldBytes];
  uint8_t localTsapLength;
  uint8_t localTsap[kTsapFieldBytes];
  uint8_t connectOptions;  // 0
  uint8_t reserved58[16];
  uint16_t connection;  // 0 in; the new connection's identifier out
  uint16_t statusWord;  // out
  uint16_t s7Reserved;  // 0 in the S7 form
};
static_assert(offsetof(ConnectRecord, recordType) == 0);
static_assert(offsetof(ConnectRecord, recordVersion) == 1);
static_assert(offsetof(ConnectRecord, addressLength) == 2);
static_assert(offsetof(ConnectRecord, ethernetAddress) == 3);
static_assert(offsetof(ConnectRecord, reserved9) == 9);
static_assert(offsetof(ConnectRecord, addressExtension) == 10);
static_assert(offsetof(ConnectRecord, reserved11) == 11);
static_assert(offsetof(ConnectRecord, remoteTsapLength) == 23);
static_assert(offsetof(ConnectRecord, remoteTsap) == 24);
static_assert(offsetof(ConnectRecord, localTsapLength) == 40);
static_assert(offsetof(ConnectRecord, localTsap) == 41);
static_assert(offsetof(ConnectRecord, connectOptions) == 57);
static_assert(offsetof(ConnectRecord, reserved58) == 58);
static_assert(offsetof(ConnectRecord, connection) == 74);
static_assert(offsetof(ConnectRecord, statusWord) == 76);
static_assert(offsetof(ConnectRecord, s7Reserved) == 78);
static_assert(sizeof(ConnectRecord) == 80);

// Area kinds of a request: the fetch/write area identifiers, used for S5 and S7 stations alike.
enum class AreaKind : uint16_t {
  kDataBlock = 1,
  kFlags = 2,
  kInputs = 3,
  kOutputs = 4,
  kExtendedDataBlock = 10,
};

// One read or write exchange.
struct RequestRecord {
  uint16_t connection;
  uint16_t areaKind;     // an AreaKind
  uint16_t blockNumber;  // 0 for inputs, outputs and flags
  uint16_t start;        // in the unit of the kind of data
  uint16_t length;       // in the unit of the kind of data
};
static_assert(offsetof(RequestRecord, connection) == 0);
static_assert(offsetof(RequestRecord, areaKind) == 2);
static_assert(offsetof(RequestRecord, blockNumber) == 4);
static_assert(offsetof(RequestRecord, start) == 6);
static_assert(offsetof(RequestRecord, length) == 8);
static_assert(sizeof(RequestRecord) == 10);

// Results of the library's operations, named by what the driver does on them
// (vocabulary/h1_results.h says what they mean to the library).
inline constexpr uint16_t kH1Done = h1::kOk;  // every operation; connection state: it is up
// Send: the request was not taken; send it again after a pause. Receive: send it again.
inline constexpr uint16_t kH1Busy = h1::kBusy;
// Receive: nothing has arrived yet; poll again after a millisecond.
inline constexpr uint16_t kH1Waiting = h1::kNoData;
inline constexpr uint16_t kH1InProgress = h1::kReceiving;
// Receive read data: the request has to be sent again.
inline constexpr uint16_t kH1Resend = h1::kRequestLost;
// Send read request: collect and drop whatever is pending, then give up.
inline constexpr uint16_t kH1Abandon = h1::kAborted;

constexpr bool IsWaiting(uint16_t result) {
  return result == kH1Waiting || result == kH1InProgress;
}
constexpr bool WantsResend(uint16_t result) {
  return result == kH1Busy || result == kH1Resend;
}

// Status words an open writes into the connect record that let the driver wait for the
// connection: set up already, or being set up.
inline constexpr uint16_t kOpenStatusDone = h1::kConnectDone;
inline constexpr uint16_t kOpenStatusPending = h1::kConnectSettingUp;

// The status word of an exchange the station answered well.
inline constexpr uint16_t kStatusWordGood = h1::kStatusGood;

}  // namespace tav
