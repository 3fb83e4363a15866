// Which H1 driver library the loaded driver talks to: the simulated network (the default),
// libh1tcp with a station map, or libh1eth on a network interface.
#pragma once

#include <optional>
#include <string>

namespace tavhost {

// Loads libh1tcp from `library` with the station map `map`; exits the program when it cannot.
void UseH1OverTcp(const std::string& library, const std::string& map);
bool UsingH1OverTcp();
// Loads libh1eth from `library` for the network interface `interfaceName`; exits the program
// when it cannot.
void UseH1OverEthernet(const std::string& library, const std::string& interfaceName);
bool UsingH1OverEthernet();
// Whether the driver reaches real stations (over TCP or H1) rather than the simulated network.
bool UsingRealStations();

// Why the H1 library did not open when the driver last opened it (command 1): the library's own
// last line (H1ETH: ... or H1TCP: ...), else its result in words. None when it opened, or before
// the driver opened it. The driver then reaches no station until it is initialised again.
std::optional<std::string> H1LibraryOpenFailure();

}  // namespace tavhost
