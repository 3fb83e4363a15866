// The kernel's free rate setting for terminals (termios2 with BOTHER): rates that have no termios
// speed code, such as 31,250 or 14,400 baud. It lives in a file of its own because the kernel's
// termios records cannot share a translation unit with the C library's.
#pragma once

#include <cstdint>

namespace tav {

// Sets the terminal `fd` to `rate` baud, input and output. Returns true when the terminal then
// runs at that rate; false, with errno set, when the kernel has no free rate setting (ENOSYS) or
// the device refuses the rate (EINVAL).
bool SetTerminalRate(int fd, uint32_t rate);

// The terminal's output rate in baud, whatever its speed code; 0 when it cannot be read.
uint32_t TerminalRate(int fd);

}  // namespace tav
