// The mapping file: where each station of the station file is reachable over TCP. One line per
// station, in the station file's style:
//
//   ; Ethernet address = host[:port], protocol[, option=value...]
//   0A0B0C010201 = 192.168.10.21, s7, pdu=480
//   0A0B0C010204 = 192.168.10.24:2000, s5-tcp, write-port=2001
//
// Protocols: s7 (an S7 station, type 7), s7-words (S5 word memory reached like an S7 station,
// type 6), s5-iso (fetch/write over ISO on TCP with the station's TSAPs), s5-tcp (fetch/write
// over plain TCP, the write connection on `write-port`). The port is 102 unless given; s5-tcp
// needs one. Options: pdu (the S7 PDU size asked for, 240 to 960, default 480), jobs (the
// parallel jobs asked for, 1 to 64, default 8), write-port (s5-tcp). Text after ';' is a comment.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "vocabulary/ethernet_address.h"

namespace tav::h1tcp {

// The largest map read: far more than any plant's stations need, and a bound for a file that
// never ends.
inline constexpr size_t kStationMapByteLimit = size_t{1} << 20;

enum class Protocol : uint8_t { kS7, kS7Words, kS5Iso, kS5Tcp };

struct Route {
  EthernetAddress address{};
  std::string host;
  uint16_t port = 102;
  uint16_t writePort = 0;  // s5-tcp: the write connection's port; 0 for the same port
  Protocol protocol = Protocol::kS7;
  uint16_t pduBytes = 480;
  uint16_t parallelJobs = 8;
  int line = 0;  // the map's line that gave the route
};

struct MapProblem {
  int line = 0;
  std::string text;
};

struct StationMap {
  std::vector<Route> routes;
  std::vector<MapProblem> problems;  // lines that were skipped, and why

  const Route* Find(const EthernetAddress& address) const;
};

StationMap ParseStationMap(std::string_view text);

// The protocol's name as the map writes it.
std::string_view ProtocolName(Protocol protocol);

}  // namespace tav::h1tcp
