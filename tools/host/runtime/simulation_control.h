// The simulated network under a test's (or an operator's) control while tavhost runs: tavhost
// follows the simulation file it loaded and, when the file changes (its modification time or
// size, looked at no more often than every kRefreshInterval), reads it again and applies each
// station's `reachable`: a station switched off drops its connections, as a PLC that is powered
// down does; one switched on accepts connections again, which the host then re-establishes with
// command 2. Nothing else in the file takes effect at run time: the stations' memory, their
// other behaviour and the set of stations stay as they were loaded. A file that does not parse
// (caught half-written) changes nothing; it is read again until it parses.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "abi/driver_instance.h"

namespace tavhost {

inline constexpr std::chrono::milliseconds kRefreshInterval{100};

// Follows `path` from now on, as it is now.
void FollowSimulationFile(const std::string& path);
// Applies a changed simulation file; cheap when nothing changed or the last look was recent.
void RefreshSimulation();
// On the simulated network: why the station cannot be reached ("the simulated station ... is
// switched off", "no simulated station has the address ..."); none when it can, or over TCP.
std::optional<std::string> SimulatedStationProblem(const tav::PlcEntry& entry);

}  // namespace tavhost
