// The bridge's configuration file: which broker it publishes to, which stations it drives and
// which tags it polls, in groups with a poll period each. A TOML file:
//
//   [broker]        host, port, client_id, keep_alive_s, username, and password or password_env
//                   (the name of the environment variable that holds it)
//   [broker.tls]    ca_file, cert_file, key_file
//   [bridge]        prefix, heartbeat_s, station_file, network, tcp_map, h1_interface,
//                   timeout_ms
//   [stations]      05 = "oven": a topic name for station 05 in place of its two digits
//   [sparkplug]     group_id, edge_node_id, primary_host_id: Sparkplug B in place of JSON
//   [[group]]       name, period_ms
//   [[group.tag]]   name, address, type, deadband, writable, signed
//
// The file is read in two steps. ReadBridgeFile checks what the file alone decides: its syntax,
// keys, types, bounds and names. CheckTagAddresses then reads every address with the rules of
// `tavhost check` against the stations the station file configures (the PlcTable after command 1)
// and fills in what each tag resolves to. A file that parses as TOML goes through both steps, so
// that its problems are reported in one pass. Every problem is one line, "FILE:LINE: what is
// wrong"; a file with any problem is not used.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "tags/address_rules.h"

namespace tavhost::bridge {

struct TlsSettings {
  std::string caFile;    // the CA certificate that signed the broker's; empty: no TLS
  std::string certFile;  // the bridge's own certificate, when the broker asks for one
  std::string keyFile;   // its private key (both or neither)

  bool enabled() const { return !caFile.empty(); }
};

struct BrokerSettings {
  std::string host = "localhost";
  uint16_t port = 1883;  // 8883 is the default when [broker.tls] is given
  std::string clientId;  // empty: DefaultClientId(prefix), filled in by ApplyDriverNumber
  uint16_t keepAliveSeconds = 30;
  TlsSettings tls;
  std::string username;             // empty: none
  std::string passwordEnvironment;  // the variable the password came from, for messages
  std::string password;             // from the file or that variable; never printed or logged
};

// Where the driver runs, as the other subcommands take it from --station-file, --timeout,
// --network and --tcp-map. Relative paths are taken from the bridge file's folder and stored
// complete; an empty path leaves the choice to the command line or its default.
struct TransportSettings {
  std::string stationFile;   // tavSH1NN.int
  std::string networkFile;   // the simulation file
  std::string tcpMap;        // the station map: libh1tcp in place of the simulated network
  std::string h1Interface;   // a network interface: libh1eth, H1 over raw Ethernet
  int32_t timeoutMs = 1000;  // the host's time-out for command 1, as --timeout (its default)
};

// One tag. The file gives the first fields; CheckTagAddresses fills in the rest.
struct TagSettings {
  std::string name;                     // the last level of its topic
  std::string address;                  // as written: any form `tavhost check` takes
  std::optional<int32_t> hostDataType;  // `type` in the file ("float", "bit", "string")
  std::optional<double> deadband;       // floats only: a change within it is not published
  bool writable = false;                // whether PREFIX/STATION/NAME/set writes it
  bool isSigned = false;                // `signed`: a word or double word as Sparkplug's Int16/32
  int line = 0;                         // of its [[group.tag]] header in the file

  // Resolved from the address against the station table.
  std::string thirteen;      // the 13-character form the driver reads (commands 3 to 7)
  int32_t resolvedType = 0;  // the host data type command 3 is given
  AddressReading reading;    // station, AreaTypeCode, packed address, bit number, width
  int station() const { return reading.station; }
  uint8_t plcType() const { return reading.stationView.plcType; }
};

struct GroupSettings {
  std::string name;
  uint32_t periodMilliseconds = 1000;
  std::vector<TagSettings> tags;
  int line = 0;
};

// Sparkplug B: the bridge an edge node of `groupId`, each station a device, each tag a metric.
struct SparkplugSettings {
  std::string groupId;
  std::string edgeNodeId;     // empty: DefaultEdgeNodeId(driver number), by ApplyDriverNumber
  std::string primaryHostId;  // non-empty: births wait for this host's STATE online
  int line = 0;               // of [sparkplug]
};

struct BridgeSettings {
  std::string file;  // the bridge file as named, for messages
  BrokerSettings broker;
  std::string prefix;              // topics start with it; empty: DefaultPrefix(driver number)
  uint32_t heartbeatSeconds = 60;  // every tag is published again at least this often
  TransportSettings transport;
  std::map<int, std::string> stationNames;  // station number to its topic level
  std::map<int, int> stationNameLines;      // station number to the line that names it
  std::vector<GroupSettings> groups;
  std::optional<SparkplugSettings> sparkplug;  // none: JSON on the bridge's own topics
};

// One problem of the file: "FILE:LINE: what is wrong" (line 0: the file as a whole).
struct BridgeFileProblem {
  std::string file;
  int line = 0;
  std::string what;

  std::string Text() const;
};
using BridgeFileProblems = std::vector<BridgeFileProblem>;

// Bounds of what a file may ask for.
inline constexpr uint32_t kShortestPeriodMs = 10;
inline constexpr uint32_t kLongestPeriodMs = 3'600'000;
inline constexpr uint32_t kLongestHeartbeatSeconds = 86'400;
inline constexpr uint16_t kShortestKeepAliveSeconds = 5;
inline constexpr uint16_t kLongestKeepAliveSeconds = 3600;
inline constexpr size_t kMostTags = 100'000;
inline constexpr size_t kMostGroups = 10'000;
inline constexpr int32_t kLongestTimeoutMs = 60'000;  // as --timeout
inline constexpr size_t kLongestName = 128;           // a tag's, station's or group's name
inline constexpr size_t kLongestPrefix = 256;
inline constexpr size_t kLongestClientId = 256;
inline constexpr size_t kLongestHost = 253;      // a DNS name's longest
inline constexpr size_t kLongestInterface = 15;  // Linux's interface names

// What a bridge file gave: the settings when it parsed as TOML, and every problem the file alone
// shows. `transportUsable` when the keys that say where the driver runs (station_file, network,
// tcp_map, h1_interface, timeout_ms) read clean: the driver can then be started to check the
// tags' addresses too.
struct BridgeFileReading {
  std::optional<BridgeSettings> settings;
  BridgeFileProblems problems;
  bool transportUsable = false;

  bool usable() const { return settings && problems.empty(); }
};

// Reads and checks the bridge file at `path`. `environment` answers the variable that
// password_env names (nothing when it is not set); by default the process's environment.
using Environment = std::optional<std::string> (*)(const std::string& name);
std::optional<std::string> ProcessEnvironment(const std::string& name);
BridgeFileReading ReadBridgeFile(const std::string& path,
                                 Environment environment = ProcessEnvironment);
// The same on a text already read, named `file` in the problems; relative paths are taken from
// `folder`. A file with more than `mostTags` tags is refused with one problem.
BridgeFileReading ReadBridgeText(std::string_view text, const std::string& file,
                                 const std::string& folder,
                                 Environment environment = ProcessEnvironment,
                                 size_t mostTags = kMostTags);

// Reads every tag's address with `tavhost check`'s rules against `stations`, as commands 3 and 4
// and the transfers would, and fills in its resolved fields. Also checks what needs the stations:
// a station name for a station the station file leaves out, two tags of one name at one station,
// a deadband on a tag that is no float. A tag without an address (a problem of the file's) is
// left out. Returns the problems, none when every tag can be polled.
BridgeFileProblems CheckTagAddresses(BridgeSettings& settings, const StationLookup& stations);
// The file's problems and its addresses' (CheckTagAddresses on its settings) in one list, in the
// order of their lines; the file must have parsed.
BridgeFileProblems AllProblems(BridgeFileReading& reading, const StationLookup& stations);

// The prefix when the file gives none: "tavsh1/01" for driver number 1.
std::string DefaultPrefix(int32_t driverNumber);
// The client id when the file gives none: "tavhost-bridge-" and the prefix with '/' as '-'.
std::string DefaultClientId(std::string_view prefix);
// The edge node id when [sparkplug] gives none: "tavsh1-01" for driver number 1.
std::string DefaultEdgeNodeId(int32_t driverNumber);
// Fills in the prefix, client id and edge node id the file left to the driver number.
void ApplyDriverNumber(BridgeSettings& settings, int32_t driverNumber);

// A station's topic level: its name from [stations], or its number in two digits.
std::string StationTopic(const BridgeSettings& settings, int station);
// The topics: PREFIX/status, PREFIX/STATION/status, PREFIX/STATION/NAME (and NAME/set,
// NAME/result).
std::string BridgeStatusTopic(const BridgeSettings& settings);
std::string StationStatusTopic(const BridgeSettings& settings, int station);
std::string TagTopic(const BridgeSettings& settings, const TagSettings& tag);

// --broker HOST:PORT, or HOST alone (the port stays), or [IPv6]:PORT: applied to `broker`.
// Returns why the text is no broker address ("the port is a number from 1 to 65535"), or
// nothing when it was applied.
std::optional<std::string> ApplyBrokerOverride(std::string_view text, BrokerSettings& broker);

// Whether `name` may be a tag's, station's or group's name: letters, digits, '_', '-', '.'.
bool IsTopicName(std::string_view name);
// Whether `name` is one of the words the topics reserve: status, set, result.
bool IsReservedName(std::string_view name);

}  // namespace tavhost::bridge
