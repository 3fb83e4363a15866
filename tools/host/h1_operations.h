// Which H1 driver library the loaded driver talks to: the simulated network (the default),
// libh1tcp with a station map, or libh1eth on a network interface.
#pragma once

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

}  // namespace tavhost
