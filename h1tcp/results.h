// The results libh1tcp's operations answer: the same numbers, for the same situations, as the
// simulated H1 network's, so that the driver sees one contract whichever library it is bound to.
#pragma once

#include <cstdint>

#include "platform/h1_records.h"

namespace tav::h1tcp {

inline constexpr uint16_t kOk = kH1Done;
inline constexpr uint16_t kDriverNotOpen = 1;          // open driver was not called, or close was
inline constexpr uint16_t kUnknownConnection = 2;      // no connection has this identifier
inline constexpr uint16_t kNotEstablished = 4;         // the connection is being set up
inline constexpr uint16_t kConnectionBroken = 5;       // the connection broke: restart it
inline constexpr uint16_t kNoData = kH1Waiting;        // nothing of the answer has arrived yet
inline constexpr uint16_t kReceiving = kH1InProgress;  // part of the answer has arrived
inline constexpr uint16_t kNoRequest = 8;              // nothing was asked on this connection
inline constexpr uint16_t kBadArgument = 10;           // a null pointer or an unusable record
inline constexpr uint16_t kRejected = 11;              // the station refused the connection
inline constexpr uint16_t kNoIdentifier = 12;          // every connection identifier is in use
inline constexpr uint16_t kNoSockets = 13;             // open driver: the sockets layer is missing

// The open's status word: accepted, the connection is being set up.
inline constexpr uint16_t kConnectSettingUp = kOpenStatusPending;

}  // namespace tav::h1tcp
