// Windows: the port's DCB as the system holds it. Windows does not report the levels of DTR and
// RTS, only how they are controlled.
#include <windows.h>

#include <cstdint>
#include <string>

#include "runtime/device_line.h"

namespace tavhost {

std::optional<DeviceLine> ReadDeviceLine(uint32_t portHandle) {
  if (portHandle == 0) return std::nullopt;
  // A handle carries 32 significant bits, sign-extended in a 64-bit process.
  const HANDLE port =
      reinterpret_cast<HANDLE>(static_cast<intptr_t>(static_cast<int32_t>(portHandle)));
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(port, &dcb)) return std::nullopt;
  return LineOfControlBlock(dcb);
}

std::string WhyPortDidNotOpen(const std::string& name) {
  return name + " does not exist, is held by another program, or refused the settings";
}

}  // namespace tavhost
