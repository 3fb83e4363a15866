// libh1tcp's station map beside the station file. libh1tcp reaches each station with the
// protocol its map line names, whatever type the station file gives the station, and the driver
// lays out the station's bytes by that type: s7-words for an S7 station, or an S7 protocol for an
// S5 station, would show every value in another byte order. tavhost reads both files and refuses
// a map line whose protocol cannot serve its station's type.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "abi/driver_instance.h"
#include "station_map/station_map.h"

namespace tavhost {

// A file's name as the message shows it, and its text.
struct NamedText {
  std::string_view name;
  std::string_view text;
};

// The first configured station of the PlcTable whose Ethernet address the map routes with a
// protocol for another station type: one line naming the station file's line that gave the
// station its type and the map's line. None when every mapped station fits. `mapName` is the
// map's file as the message shows it.
std::optional<std::string> StationMapMismatch(const tav::DriverInstance& instance,
                                              NamedText stationFile, std::string_view mapName,
                                              const tav::h1tcp::StationMap& map);

// Station `station` of the PlcTable, configured, when the map has no line for its Ethernet address:
// the words that say so (libh1tcp can never connect it). None when the map routes it, or the
// station is not configured.
std::optional<std::string> StationAbsentFromMap(const tav::DriverInstance& instance, int station,
                                                std::string_view mapName,
                                                const tav::h1tcp::StationMap& map);

}  // namespace tavhost
