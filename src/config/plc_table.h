// The PlcTable's reset to defaults and the station dump to the host log.
#pragma once

#include "abi/driver_instance.h"

namespace tav {

// Resets all 99 entries to an unconfigured S7 station in slot 2: type 7, no connections, empty
// address, two-byte S7 TSAPs 1 1 and 3 2 in ltsap and rtsap. Releases no H1 connection and leaves
// everything before the PlcTable alone. Returns true.
bool ResetPlcTable(DriverInstance& instance);

// Cuts the station's three TSAPs to 8 characters (for the log and for the S5 connect requests
// alike) and writes the station's settings to the host log: TSAPs for S5 stations, the slot in
// hexadecimal for every other type.
void LogStation(DriverInstance& instance, int station);

}  // namespace tav
