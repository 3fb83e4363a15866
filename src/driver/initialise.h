// Command 1: the start of a driver instance.
#pragma once

#include "abi/records.h"

namespace tav {

// The version line logged first by every initialisation, with the build's date and time.
inline constexpr const char kVersionLine[] =
    "TavSH1: Siemens Ethernet driver,Version " TAV_VERSION " compiled on " __DATE__ " at " __TIME__;

// Command 1. Logs the version line and stores the enable flag; a disabled instance stops there.
// Then sets retryBudget to ten times the InitBlock's time-out (1000 when that is below 100,
// 2,147,483,647 when it doesn't fit), resets the PlcTable, reads the station file named after the
// request's driver number and connects every configured station.
// Returns 0 when done, whether or not the stations came up, and when disabled; 2 when the station
// file is missing or configures no station (the H1 driver library is then not opened), or when
// the instance or InitBlock pointer is null.
CommandResult InitDriver(const Request& request);

}  // namespace tav
