// The serial channel: one COM port per driver instance, opened with the line settings, DTR and
// RTS modes and read time-out kept in the instance, and closed again. The host reaches it through
// commands 12 (close), 13 (open) and 15 (store new settings and open); nothing else in the driver
// uses it.
#pragma once

#include <cstdint>

#include "abi/port_parameters.h"
#include "abi/records.h"

namespace tav {

// The DCB's DTR mode (fDtrControl) that the instance's `lineFlags` select: enable when any of
// bits 0x0101 is set, else handshake for bit 0x8000, else disable.
uint32_t DtrControlFor(uint16_t lineFlags);

// The DCB's RTS mode (fRtsControl) that `lineFlags` select: enable when any of bits 0x0202 is
// set, else handshake for bit 0x1000, else toggle for bit 0x2000, else disable.
uint32_t RtsControlFor(uint16_t lineFlags);

// Command 12. Closes the instance's port, if one is open, and clears portHandle. Returns 0 when
// the port was closed or none was open; 2 when the close failed (portHandle kept) or the instance
// pointer is null.
CommandResult CloseSerialPort(const Request& request);

// Command 13. Opens the port named by portName with the stored LineSettings and lineFlags, stores
// its handle and sets activeFlag. An open port is not closed first. Returns 0 on success; 2 when
// the open fails (the instance unchanged) or the instance pointer is null.
CommandResult OpenSerialPort(const Request& request);

// Command 15. Stores the PortParameters (the time-out when non-zero, the name, the line settings
// when baudRate is non-zero), closing the open port first when the name changes, then opens the
// port as command 13 does and sets its read time-out to retryBudget x 10 ms. Returns 0 on success;
// 2 when the open fails (what was stored stays stored) or the instance or record pointer is null
// (nothing written).
CommandResult ConfigureSerialPort(const Request& request);

}  // namespace tav
