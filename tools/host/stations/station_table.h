// The driver's stations as the host shows them: each configured station of the PlcTable with its
// connections, and what the simulated network knows of it.
#pragma once

#include "abi/driver_instance.h"
#include "cli/output.h"

namespace tavhost {

// Prints the configured stations of the PlcTable with their connections, and what the simulated
// network knows of each.
void PrintStationTable(const tav::DriverInstance& instance);
// The same as a JSON array, one object per station.
Json StationTableJson(const tav::DriverInstance& instance);

}  // namespace tavhost
