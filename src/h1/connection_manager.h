// The connection manager brings the H1 side of an instance up and down: connect every station
// (for initialisation), reconnect one station (command 2) and close the H1 driver library
// (command 11). Every wait
// polls the library on the host's thread with 1 ms sleeps.
#pragma once

#include <cstdint>

#include "abi/driver_instance.h"
#include "abi/records.h"

namespace tav {

// Command 2. Restarts the connections of the ReconnectBlock's station and waits for each; a
// station without a read connection is connected first.
// Returns 0 when done, even when a wait runs out; 1 when the station had no connection and
// connecting it failed, and at once, calling nothing, when the station number lies outside 0 to
// 98, when the station has no Ethernet address (the station file never configured it), or when
// the instance or ReconnectBlock pointer is null.
CommandResult ReconnectStation(const Request& request);

// Command 11. Closes the H1 driver library; releases no connection and leaves the identifiers in
// the PlcTable. Reads nothing from the request. Returns 0, also when closing fails.
CommandResult CloseH1(const Request& request);

// Opens the H1 driver library and connects every configured station, in ascending order of
// station number. A station that fails doesn't stop the others.
void ConnectAll(DriverInstance& instance);

// Connects `station` (0 to 98) as an S5 station when its type is 5, as an S7 station otherwise.
// Returns true when its read connection is established.
[[nodiscard]] bool ConnectStation(DriverInstance& instance, int station);

// Opens the read connection of S5 station `station`, then its write connection. Returns true
// when the read connection is established; a write connection that the library refuses fails
// the station too, one whose wait runs out doesn't (writes then go over the read connection).
[[nodiscard]] bool ConnectS5(DriverInstance& instance, int station);

// Opens the one connection of S7 station `station` (and of type 6). Returns true when it is
// established.
[[nodiscard]] bool ConnectS7(DriverInstance& instance, int station);

// Polls the connection's state at most retryBudget / 10 times, sleeping 1 ms after each poll
// that finds it not yet up. Returns true when it came up.
[[nodiscard]] bool WaitConnected(const DriverInstance& instance, uint16_t connection);

}  // namespace tav
