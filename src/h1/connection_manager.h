// The connection manager brings the H1 side of an instance up and down: initialise (command 1),
// reconnect one station (command 2) and close the H1 driver library (command 11).
#pragma once

#include "driver/records.h"

namespace tav {

// The version line logged first by every initialisation, with the build's date and time.
inline constexpr const char kVersionLine[] =
    "TavSH1: Siemens Ethernet driver,Version 8.20 compiled on " __DATE__ " at " __TIME__;

// Command 1. Logs the version line and stores the enable flag; a disabled instance stops there.
// Then sets retryBudget, resets the PlcTable, reads the station file and connects every
// configured station. Returns 0, also when disabled; 2 when the station file yields no station
// or the instance or InitBlock pointer is null.
CommandResult InitDriver(const Request& request);

}  // namespace tav
