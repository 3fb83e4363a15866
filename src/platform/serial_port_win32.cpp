// On Windows the serial channel calls the kernel's communications functions directly; what is left
// here is carrying a handle in the DriverInstance's 32-bit field. The DLL the host loads runs in a
// 32-bit process, where a handle is 32 bits wide. A 64-bit process (the build that the tests run
// under 64-bit Wine) shares kernel handles with 32-bit ones, so its handles, too, carry only 32
// significant bits, sign-extended: INVALID_HANDLE_VALUE comes back as itself.
#include <cstdint>

#include "platform/serial_port.h"

namespace tav {

uint32_t PortHandleBits(HANDLE port) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(port));
}

HANDLE PortFromHandleBits(uint32_t bits) {
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(static_cast<int32_t>(bits)));
}

}  // namespace tav
