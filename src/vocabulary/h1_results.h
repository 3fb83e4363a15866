// What the H1 library's operations answer, and the status words of an exchange: one contract for
// every library that stands for it (the simulated network, libh1tcp), so that the driver sees the
// same numbers for the same situations whichever one it is bound to. The driver reacts to some of
// them by number (3 and 14 from send read request; 6, 7, 3 and 9 from the receive operations; the
// open's status word 0 or 3).
#pragma once

#include <cstdint>

namespace tav::h1 {

// Results of the operations.
inline constexpr uint16_t kOk = 0;
inline constexpr uint16_t kDriverNotOpen = 1;      // open driver was not called, or close was
inline constexpr uint16_t kUnknownConnection = 2;  // no connection has this identifier
inline constexpr uint16_t kBusy = 3;               // the request cannot be taken now: send again
inline constexpr uint16_t kNotEstablished = 4;     // the connection is being set up
inline constexpr uint16_t kConnectionBroken = 5;   // the connection broke: restart it
inline constexpr uint16_t kNoData = 6;             // nothing of the answer has arrived yet
inline constexpr uint16_t kReceiving = 7;          // part of the answer has arrived
inline constexpr uint16_t kNoRequest = 8;          // nothing was asked on this connection
inline constexpr uint16_t kRequestLost = 9;        // the request was lost: send it again
inline constexpr uint16_t kBadArgument = 10;       // a null pointer or an unusable record
inline constexpr uint16_t kRejected = 11;          // the station refuses the connection
inline constexpr uint16_t kNoIdentifier = 12;      // every connection identifier is in use
inline constexpr uint16_t kNoSockets = 13;         // open driver: the sockets layer is missing
inline constexpr uint16_t kAborted = 14;           // the request was aborted

// Status words of an open (written into the connect record).
inline constexpr uint16_t kConnectDone = 0;       // the connection is up already
inline constexpr uint16_t kConnectSettingUp = 3;  // accepted; the connection is being set up

// Status words of an answered exchange (result 0): what the station said. After the refusals
// every station knows, one range per protocol for what only it says.
inline constexpr uint16_t kStatusGood = 0;
inline constexpr uint16_t kStatusNoSuchArea = 1;    // unknown area kind, or no such block
inline constexpr uint16_t kStatusOutOfRange = 2;    // the range runs past the end of the area
inline constexpr uint16_t kStatusTooLong = 3;       // more data than the transfer buffer holds
inline constexpr uint16_t kStatusS5Error = 0x0500;  // | an S5 acknowledgement's error byte
inline constexpr uint16_t kStatusS7Item = 0x0700;   // | an S7 item's return code
// A header error of an S7 answer reports its class and code as they stand (0x8104, 0x8500...).

}  // namespace tav::h1
