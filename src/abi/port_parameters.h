// PortParameters: the parameter record of command 15, which stores a serial port's name and line
// settings in the instance before opening it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tav {

// Command 15's parameter record: a port name and the settings to store before the open.
struct PortParameters {
  char portName[12];  // NUL-terminated when shorter than 12 characters
  int32_t timeout;    // read time-out in 10 ms units; 0 keeps retryBudget
  uint16_t baudRate;  // 0 keeps the stored LineSettings; otherwise the four fields replace them
  uint16_t dataBits;
  uint16_t stopBits;  // Windows codes: 0 one, 1 one and a half, 2 two
  uint16_t parity;    // Windows codes: 0 none, 1 odd, 2 even, 3 mark, 4 space
};
static_assert(offsetof(PortParameters, portName) == 0);
static_assert(offsetof(PortParameters, timeout) == 12);
static_assert(offsetof(PortParameters, baudRate) == 16);
static_assert(offsetof(PortParameters, dataBits) == 18);
static_assert(offsetof(PortParameters, stopBits) == 20);
static_assert(offsetof(PortParameters, parity) == 22);
static_assert(sizeof(PortParameters) == 24);

}  // namespace tav
