// The PlcTable as the driver filled it, beside the simulated network's view of each station.
#include "stations/station_table.h"

#include <fmt/core.h>

#include <cstring>
#include <string>

#include "runtime/h1_operations.h"
#include "runtime/host.h"
#include "sim/network.h"

namespace tavhost {

namespace {

std::string TypeName(uint8_t plcType) {
  switch (plcType) {
    case 5:
      return "S5";
    case 7:
      return "S7";
    default:
      return fmt::format("type {}", plcType);
  }
}

// A TSAP as the connect record carries it: at most 8 characters.
std::string Tsap(const char* text) {
  return std::string(text, strnlen(text, 8));
}

std::string Reach(const tav::PlcEntry& entry) {
  if (entry.plcType == tav::kPlcTypeS5) {
    return fmt::format("{}/{}/{}", Tsap(entry.ltsap), Tsap(entry.rtsap), Tsap(entry.wtsap));
  }
  return fmt::format("slot {}", entry.slot);
}

// A connection identifier with the simulated connection's state: "up", "broken", "setting up",
// "gone"; "-" for none.
std::string ConnectionState(uint16_t id) {
  if (id == 0) return "-";
  const tav::sim::Connection* connection = tav::sim::ActiveNetwork().FindConnection(id);
  if (connection == nullptr) return "gone";
  switch (connection->state) {
    case tav::sim::ConnectionState::kEstablished:
      return "up";
    case tav::sim::ConnectionState::kBroken:
      return "broken";
    case tav::sim::ConnectionState::kSettingUp:
      break;
  }
  return "setting up";
}

// Over TCP or H1 only the driver knows its connections: the identifier alone.
std::string ConnectionText(uint16_t id) {
  if (id == 0) return "-";
  if (UsingRealStations()) return std::to_string(id);
  return fmt::format("{} {}", id, ConnectionState(id));
}

Json ConnectionJson(uint16_t id) {
  if (id == 0) return nullptr;
  if (UsingRealStations()) return {{"id", id}};
  return {{"id", id}, {"state", ConnectionState(id)}};
}

std::string SimulatedStation(const tav::PlcEntry& entry) {
  if (UsingH1OverEthernet()) return "over H1 (libh1eth)";
  if (UsingH1OverTcp()) return "over TCP (station map)";
  const tav::sim::Station* station = tav::sim::ActiveNetwork().Find(entry.ethernetAddress);
  if (station == nullptr) return "no such station";
  const std::string name = station->config().name.empty() ? "unnamed" : station->config().name;
  return station->behaviour().reachable ? name : name + ", switched off";
}

}  // namespace

void PrintStationTable(const tav::DriverInstance& instance) {
  fmt::print("{:>3}  {:<7} {:<13} {:<27} {:<12} {:<12} {}\n", "PLC", "type", "address",
             "slot or TSAPs", "read", "write", "simulated station");
  for (int n = 0; n < tav::kStationCount; ++n) {
    const tav::PlcEntry& entry = instance.plcTable[n];
    if (!tav::IsConfigured(entry)) continue;
    fmt::print("{:>3}  {:<7} {:<13} {:<27} {:<12} {:<12} {}\n", n, TypeName(entry.plcType),
               std::string(entry.ethernetAddress, strnlen(entry.ethernetAddress, 16)), Reach(entry),
               ConnectionText(entry.readConnection), ConnectionText(entry.writeConnection),
               SimulatedStation(entry));
  }
}

Json StationTableJson(const tav::DriverInstance& instance) {
  Json stations = Json::array();
  for (int n = 0; n < tav::kStationCount; ++n) {
    const tav::PlcEntry& entry = instance.plcTable[n];
    if (!tav::IsConfigured(entry)) continue;
    Json station = {
        {"number", n},
        {"type", entry.plcType},
        {"address", std::string(entry.ethernetAddress, strnlen(entry.ethernetAddress, 16))}};
    if (entry.plcType == tav::kPlcTypeS5) {
      station["tsaps"] = {Tsap(entry.ltsap), Tsap(entry.rtsap), Tsap(entry.wtsap)};
    } else {
      station["slot"] = entry.slot;
    }
    station["readConnection"] = ConnectionJson(entry.readConnection);
    station["writeConnection"] = ConnectionJson(entry.writeConnection);
    station["simulated"] = SimulatedStation(entry);
    stations.push_back(std::move(station));
  }
  return stations;
}

}  // namespace tavhost
