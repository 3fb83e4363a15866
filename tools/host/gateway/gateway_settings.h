// The gateway file (tavhost gateway FILE): the H1 interface, the address the gateway listens on,
// and its routes, each a port (and, for S7, the called TSAP) leading to one H1 station.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "abi/driver_instance.h"
#include "cli/tsap_text.h"
#include "vocabulary/ethernet_address.h"

namespace tavhost::gateway {

using tavhost::Tsap;

// What a route's clients speak in front: S7 over ISO on TCP, S5 fetch/write over plain TCP or
// over ISO on TCP.
enum class Protocol : uint8_t { kS7, kFetchWrite, kFetchWriteIso };
const char* ProtocolText(Protocol protocol);

// An IPv4 client network, in host byte order.
struct ClientNetwork {
  uint32_t address = 0;
  uint32_t mask = 0;
  bool Holds(uint32_t client) const { return (client & mask) == address; }
};

inline constexpr size_t kDefaultRouteClients = 16;
inline constexpr size_t kDefaultClients = 64;
inline constexpr int kDefaultConnectSeconds = 5;

struct RouteSettings {
  int line = 0;
  Protocol protocol = Protocol::kS7;
  uint16_t port = 0;
  tav::EthernetAddress station{};
  // The station's number in the station file, when the route names it so: its address and
  // TSAPs come from the file where the route gives none.
  std::optional<int> stationNumber;
  // S7: the station's TSAP; none: the called TSAP the client sent. It routes the clients of one
  // port by the TSAP they call.
  std::optional<Tsap> remoteTsap;
  // Our TSAP towards the station; none (S7): the calling TSAP the client sent.
  std::optional<Tsap> localTsap;
  Tsap readTsap;   // fetch/write: the station's TSAP for fetches
  Tsap writeTsap;  // and for writes
  bool readOnly = false;
  std::vector<ClientNetwork> allow;  // empty: every client
  size_t mostClients = kDefaultRouteClients;
};

struct GatewaySettings {
  std::string h1Interface;
  std::string stationFile;  // from the gateway file's folder; empty: none
  std::string listen = "127.0.0.1";
  size_t mostClients = kDefaultClients;
  int connectSeconds = kDefaultConnectSeconds;  // a client's CR comes within this time
  std::vector<RouteSettings> routes;
};

struct GatewayFileReading {
  std::optional<GatewaySettings> settings;  // none when any problem was found
  std::vector<std::string> problems;        // "FILE:LINE: what", in the order of their lines
};

// The station file's stations as the driver read them into its PlcTable; none, with the reason,
// when it could not.
struct StationTable {
  const tav::DriverInstance* instance = nullptr;
  std::string problem;
};
// Has the driver read the station file at `path`; called once, for the first route that names
// its station by number.
using StationFileReader = std::function<StationTable(const std::string& path)>;

GatewayFileReading ReadGatewayFile(const std::string& path, const StationFileReader& stations = {});
GatewayFileReading ReadGatewayText(std::string_view text, const std::string& file,
                                   const StationFileReader& stations = {});

}  // namespace tavhost::gateway
