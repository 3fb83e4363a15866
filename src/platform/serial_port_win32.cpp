// On Windows the serial channel calls the kernel's communications functions directly; what is left
// here is carrying a handle in the DriverInstance's 32-bit field. The DLL runs in a 32-bit process,
// where a handle is 32 bits wide.
#include <cstdint>

#include "platform/serial_port.h"

namespace tav {

static_assert(sizeof(HANDLE) == sizeof(uint32_t), "the driver runs in a 32-bit host process");

uint32_t PortHandleBits(HANDLE port) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(port));
}

HANDLE PortFromHandleBits(uint32_t bits) {
  return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(bits));
}

}  // namespace tav
