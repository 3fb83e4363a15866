// The command codes the host sends in a Request, and the result conventions they share.
#pragma once

#include <cstdint>

namespace tav {

// Signed 32-bit command result: 0 is success, 1 and 2 are failures each command defines.
using CommandResult = int32_t;
inline constexpr CommandResult kResultSuccess = 0;
// Result of a code that has no handler (0, 8, 9, above 15, negative) and of a null request.
inline constexpr CommandResult kNoHandler = 1;

enum class CommandCode : int32_t {
  kInitialise = 1,            // read the station file and connect every station
  kReconnect = 2,             // reconnect one station
  kParseAddress = 3,          // turn a tag's address text into its numeric description
  kCheckAddress = 4,          // the same, checking the element count as well
  kReadTag = 5,               // one tag, with bit access
  kReadBlock = 6,             // a run of elements
  kWriteTag = 7,              // one tag, with bit access
  kWriteBlock = 10,           // a run of elements
  kCloseH1 = 11,              // close the H1 driver library
  kCloseSerialPort = 12,      // close the instance's COM port
  kOpenSerialPort = 13,       // open it with the stored settings
  kDriverInformation = 14,    // name, banner and instance size
  kConfigureSerialPort = 15,  // store new port settings, then open
};

inline constexpr int32_t kFirstCommandCode = 1;
inline constexpr int32_t kLastCommandCode = 15;

constexpr int32_t ToInt(CommandCode code) {
  return static_cast<int32_t>(code);
}

}  // namespace tav
