// The pure half of the Linux serial-port layer: how a port name becomes a device path, how a DCB
// becomes terminal attributes and modem-line actions and back, and how COMMTIMEOUTS become the
// terminal's read wait. No system calls: serial_port_posix.cpp applies the results.
#pragma once

#include <termios.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/serial_port_posix.h"

namespace tav {

// The device path a port name stands for: "/dev/null" for "NUL", "/dev/ttyS(n-1)" for "COMn",
// a path beginning with "/" as it is. Returns nullopt for any other name.
std::optional<std::string> DevicePathFor(std::string_view name);

// The baud rate of a termios speed code; 0 for B0 and for codes that name no fixed rate (BOTHER).
uint32_t RateOfSpeedCode(speed_t code);

// The termios speed code of a baud rate, or nullopt when the rate has none.
std::optional<speed_t> SpeedCodeFor(uint32_t rate);

// What applying a DCB does to a modem-control line.
enum class LineAction : uint8_t { kLeave, kRaise, kLower };

// A DCB in a terminal's terms.
struct TerminalLine {
  termios attributes;  // raw mode with the DCB's data bits, parity, stop bits and flow control
  uint32_t rate;       // baud
  bool freeRate;       // no speed code: `attributes` keep the old speed, the kernel's free rate
                       // setting takes `rate`
  LineAction dtr;
  LineAction rts;
};

// Applies `dcb` to the attributes `current`. VMIN and VTIME, which belong to the time-outs, are
// kept. Returns nullopt when the DCB is no valid line: rate 0, data bits outside 5 to 8, parity or
// stop bits beyond the Win32 codes, 1.5 stop bits with more than 5 data bits, two stop bits with
// 5 data bits, or an unknown DTR mode.
std::optional<TerminalLine> TerminalLineFor(const DCB& dcb, const termios& current);

// Overwrites the DCB fields that terminal attributes hold (rate, data bits, parity, stop bits,
// parity checking, XON/XOFF and CTS/RTS flow control) with those of `attributes` running at
// `rate` baud; leaves the others.
void ReadTerminalLine(const termios& attributes, uint32_t rate, DCB& dcb);

// How a terminal's reads wait: VMIN bytes, VTIME tenths of a second.
struct ReadWait {
  cc_t vmin;
  cc_t vtime;
};

// The read wait closest to Win32's read time-outs: a total time-out waits up to that long for the
// first byte (at most 25.5 seconds); only an interval time-out waits for the first byte and then
// up to that long between bytes; MAXDWORD as interval with no total returns at once; all zero
// waits for data without limit.
ReadWait ReadWaitFor(const COMMTIMEOUTS& timeouts);

}  // namespace tav
