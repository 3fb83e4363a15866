// Which H1 driver library the loaded driver talks to: the simulated network (the default), or
// libh1tcp with a station map.
#pragma once

#include <string>

namespace tavhost {

// Loads libh1tcp from `library` with the station map `map`; exits the program when it cannot.
void UseH1OverTcp(const std::string& library, const std::string& map);
bool UsingH1OverTcp();

}  // namespace tavhost
