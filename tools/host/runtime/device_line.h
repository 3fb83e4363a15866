// How the device behind an open serial port runs, as the system reports it: what `serial` shows
// after the driver opened or configured a port, beside what the driver stored.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tavhost {

struct DeviceLine {
  uint32_t baudRate = 0;
  uint8_t dataBits = 0;
  uint8_t parity = 0;       // Windows codes: 0 none, 1 odd, 2 even, 3 mark, 4 space
  uint8_t stopBits = 0;     // Windows codes: 0 one, 1 one and a half, 2 two
  bool ctsFlow = false;     // output waits for CTS
  std::optional<bool> dtr;  // the line's level; none when the device has no modem lines
  std::optional<bool> rts;
};

// What a device control block says of the line: the Windows one, or the serial layer's copy of it
// on Linux.
template <typename Dcb>
DeviceLine LineOfControlBlock(const Dcb& dcb) {
  DeviceLine line;
  line.baudRate = dcb.BaudRate;
  line.dataBits = dcb.ByteSize;
  line.parity = dcb.Parity;
  line.stopBits = dcb.StopBits;
  line.ctsFlow = dcb.fOutxCtsFlow != 0;
  return line;
}

// The line of the port whose handle the DriverInstance keeps; none when the handle is no
// terminal (the null device) or the system does not answer.
std::optional<DeviceLine> ReadDeviceLine(uint32_t portHandle);

// Why a port of this name may have failed to open, as far as tavhost can tell from outside.
std::string WhyPortDidNotOpen(const std::string& name);

}  // namespace tavhost
