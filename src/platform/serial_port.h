// The operating system's serial-port services, under the Win32 names the serial channel is written
// against: CreateFileA, CloseHandle, GetCommState, SetCommState, GetCommTimeouts, SetCommTimeouts,
// SetupComm and the DCB and COMMTIMEOUTS records. On Windows they are the kernel's own; on Linux
// serial_port_posix.h gives a terminal device the same contract over termios.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#include "platform/serial_port_win32.h"
#else
#include "platform/serial_port_posix.h"
#endif

namespace tav {

// The DriverInstance keeps an open port's handle in 32 bits: a Win32 handle of the 32-bit host
// process, or a Linux file descriptor. 0 stands for no port, which neither OS hands out for an open
// port.
uint32_t PortHandleBits(HANDLE port);
HANDLE PortFromHandleBits(uint32_t bits);

}  // namespace tav
