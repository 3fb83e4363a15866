// The serial channel's operations on the OS port, below the commands.
#pragma once

#include <cstdint>

#include "abi/driver_instance.h"
#include "platform/serial_port.h"

namespace tav {

// Outcomes of opening and closing a port. The commands report every failure as 2; the codes stay
// inside the channel.
enum class [[nodiscard]] PortResult : int32_t{
    kOk = 0,
    kNotOpened = 1,     // the port did not open, or its time-outs could not be set
    kStateNotRead = 4,  // the port's DCB could not be read
    kStateNotSet = 5,   // the port refused the DCB
    kNotClosed = 7,     // closing failed
};

// Opens the port `name` (NUL-terminated) exclusively, sets a one-second read time-out and no write
// time-out, applies `line` and the DTR/RTS modes of `lineFlags` to its DCB, and asks for
// 1,200-byte queues. The null device "NUL" opens without any of that. Returns kOk with the handle
// in `port`; kNotOpened, kStateNotRead or kStateNotSet otherwise, with nothing left open and
// `port` untouched.
PortResult OpenPort(const char* name, const LineSettings& line, uint16_t lineFlags, HANDLE& port);

// Closes `port`. Returns kOk, or kNotClosed when the OS refused.
PortResult ClosePort(HANDLE port);

// Sets the port's read time-out to `timeout` x 10 ms. Returns the previous time-out in 10 ms
// units, or 0 when the time-outs could not be read or set.
int32_t SetReadTimeout(HANDLE port, int32_t timeout);

}  // namespace tav
