// The gateway file's reader: the TOML file checked key by key, every problem with its line.
#include <arpa/inet.h>
#include <fmt/core.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <tuple>

#include "cli/toml_reading.h"
#include "cli/tsap_text.h"
#include "gateway/gateway_settings.h"
#include "h1_front/records.h"

namespace tavhost::gateway {

namespace {

using tav::toml_file::KeyReader;
using tav::toml_file::Node;
using tav::toml_file::Table;

constexpr size_t kMostFileBytes = size_t{1} << 20;
constexpr size_t kMostRoutes = 256;
constexpr uint8_t kS7RemoteTsapHigh = 0x03;  // an S7 CPU's TSAP: 03, then rack and slot
constexpr size_t kS5TsapCharacters = 8;      // what the driver's connect record takes of one

constexpr std::pair<std::string_view, Protocol> kProtocols[] = {
    {"s7", Protocol::kS7},
    {"fetch-write", Protocol::kFetchWrite},
    {"fetch-write-iso", Protocol::kFetchWriteIso}};

// "192.168.10.0/24" or one address.
std::optional<ClientNetwork> ParseNetwork(const std::string& text) {
  const size_t slash = text.find('/');
  const std::string address = text.substr(0, slash);
  int bits = 32;
  if (slash != std::string::npos) {
    const std::string digits = text.substr(slash + 1);
    if (digits.empty() || digits.size() > 2 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
      return std::nullopt;
    bits = std::stoi(digits);
    if (bits > 32) return std::nullopt;
  }
  in_addr parsed{};
  if (inet_pton(AF_INET, address.c_str(), &parsed) != 1) return std::nullopt;
  const uint32_t mask = bits == 0 ? 0 : ~uint32_t{0} << (32 - bits);
  return ClientNetwork{ntohl(parsed.s_addr) & mask, mask};
}

// An S5 TSAP of the station file as it goes out on H1: at most 8 characters, padded to 8 as the
// driver's connect record pads it, the padding sent as blanks.
Tsap S5TsapOf(const char* text) {
  Tsap tsap(kS5TsapCharacters, 0);
  std::memcpy(tsap.data(), text, strnlen(text, kS5TsapCharacters));
  return tav::front::WireTsap(tsap, true);
}

class Reader {
 public:
  Reader(std::string folder, const StationFileReader& stations)
      : folder_(std::move(folder)), readStations_(stations) {}

  GatewaySettings Read(const Table& root) {
    GatewaySettings settings;
    keys_.Keys(root, {"gateway", "route"}, "in the file");
    const Table gateway = root.Get("gateway").AsTable();
    if (!gateway) {
      keys_.Refuse(0, "no [gateway] table: it names h1_interface");
    } else {
      ReadGateway(gateway, settings);
    }
    const Node routes = root.Get("route");
    if (!routes || !routes.AsArray().IsArrayOfTables()) {
      keys_.Refuse(routes ? routes.line() : 0, "no [[route]]: the gateway has nothing to serve");
      return settings;
    }
    for (const Node& node : routes.AsArray().Items()) {
      if (settings.routes.size() == kMostRoutes) {
        keys_.Refuse(node, fmt::format("more than {} routes", kMostRoutes));
        break;
      }
      settings.routes.push_back(ReadRoute(node.AsTable()));
    }
    CheckPorts(settings.routes);
    return settings;
  }

  KeyReader keys_;

 private:
  std::filesystem::path folder_;
  const StationFileReader& readStations_;
  std::string stationFile_;
  int stationFileLine_ = 0;
  std::optional<StationTable> stations_;  // read at the first route that needs it

  void ReadGateway(const Table& table, GatewaySettings& settings) {
    keys_.Keys(table,
               {"h1_interface", "listen", "most_clients", "connect_timeout_s", "station_file"},
               "in [gateway]");
    if (keys_.Text(table, "h1_interface", settings.h1Interface) == KeyReader::Outcome::kAbsent ||
        settings.h1Interface.empty()) {
      keys_.Refuse(table, "[gateway] names no h1_interface: the adapter on the H1 segment");
    }
    if (keys_.Text(table, "listen", settings.listen) == KeyReader::Outcome::kTaken) {
      in_addr parsed{};
      if (inet_pton(AF_INET, settings.listen.c_str(), &parsed) != 1) {
        keys_.Refuse(table.Get("listen"),
                     fmt::format("listen \"{}\" is no IPv4 address", settings.listen));
      }
    }
    int64_t number = static_cast<int64_t>(settings.mostClients);
    keys_.Integer(table, "most_clients", 1, 4096, number);
    settings.mostClients = static_cast<size_t>(number);
    number = settings.connectSeconds;
    keys_.Integer(table, "connect_timeout_s", 1, 600, number);
    settings.connectSeconds = static_cast<int>(number);
    if (keys_.Text(table, "station_file", stationFile_) == KeyReader::Outcome::kTaken) {
      stationFileLine_ = table.Get("station_file").line();
      const std::filesystem::path path(stationFile_);
      if (path.is_relative()) stationFile_ = (folder_ / path).lexically_normal().string();
      settings.stationFile = stationFile_;
    }
  }

  std::optional<Tsap> TsapKey(const Table& table, std::string_view key) {
    std::string text;
    if (keys_.Text(table, key, text) != KeyReader::Outcome::kTaken) return std::nullopt;
    std::optional<Tsap> tsap = ParseTsapText(text);
    if (!tsap) {
      keys_.Refuse(table.Get(key),
                   fmt::format("{} \"{}\" is no TSAP: 0x and up to 16 bytes in hexadecimal "
                               "digits, or up to 8 characters of text",
                               key, text));
    }
    return tsap;
  }

  RouteSettings ReadRoute(const Table& table) {
    RouteSettings route;
    route.line = table.line();
    keys_.Keys(table,
               {"protocol", "port", "station", "slot", "remote_tsap", "local_tsap", "read_tsap",
                "write_tsap", "read_only", "allow", "most_clients"},
               "in [[route]]");
    ReadProtocol(table, route);
    int64_t number = 0;
    if (keys_.Integer(table, "port", 1, 65535, number) == KeyReader::Outcome::kAbsent) {
      keys_.Refuse(table, "[[route]] has no port");
    }
    route.port = static_cast<uint16_t>(number);
    ReadStation(table, route);
    const tav::PlcEntry* entry = route.stationNumber ? NumberedStation(table, route) : nullptr;
    route.localTsap = TsapKey(table, "local_tsap");
    if (route.protocol == Protocol::kS7) {
      ReadS7Tsap(table, route, entry);
    } else {
      ReadFetchWriteTsaps(table, route, entry);
    }
    keys_.Boolean(table, "read_only", route.readOnly);
    number = static_cast<int64_t>(route.mostClients);
    keys_.Integer(table, "most_clients", 1, 4096, number);
    route.mostClients = static_cast<size_t>(number);
    ReadAllow(table, route);
    return route;
  }

  void ReadProtocol(const Table& table, RouteSettings& route) {
    std::string text;
    if (keys_.Text(table, "protocol", text) == KeyReader::Outcome::kAbsent) {
      keys_.Refuse(table, "[[route]] has no protocol: s7, fetch-write or fetch-write-iso");
      return;
    }
    for (const auto& [name, protocol] : kProtocols) {
      if (name == text) {
        route.protocol = protocol;
        return;
      }
    }
    keys_.Refuse(table.Get("protocol"),
                 fmt::format("protocol \"{}\": s7, fetch-write or fetch-write-iso", text));
  }

  // The station's Ethernet address, or its number in the station file.
  void ReadStation(const Table& table, RouteSettings& route) {
    if (table.Get("station").Integer()) {
      int64_t number = 0;
      if (keys_.Integer(table, "station", 1, tav::kLastStation, number) ==
          KeyReader::Outcome::kTaken) {
        route.stationNumber = static_cast<int>(number);
      }
      return;
    }
    std::string text;
    const KeyReader::Outcome outcome = keys_.Text(table, "station", text);
    if (outcome == KeyReader::Outcome::kAbsent) {
      keys_.Refuse(table,
                   "[[route]] has no station: its Ethernet address (12 hex digits) or its number "
                   "in the station file");
    } else if (outcome == KeyReader::Outcome::kTaken) {
      const std::optional<tav::EthernetAddress> address = tav::ParseEthernetAddressText(text);
      if (!address) {
        keys_.Refuse(table.Get("station"),
                     fmt::format("station \"{}\" is no Ethernet address: 12 hex digits", text));
      } else {
        route.station = *address;
      }
    }
  }

  // The station file's entry of the station the route names by number, its address taken;
  // nullptr, the problem recorded, when the file cannot be had or does not configure that station
  // for the route's protocol.
  const tav::PlcEntry* NumberedStation(const Table& table, RouteSettings& route) {
    const Node node = table.Get("station");
    const int number = *route.stationNumber;
    if (stationFile_.empty()) {
      keys_.Refuse(node, fmt::format("station {}: [gateway] names no station_file that numbers it",
                                     number));
      return nullptr;
    }
    if (!stations_) {
      stations_ = readStations_ ? readStations_(stationFile_)
                                : StationTable{nullptr, "no driver reads it here"};
      if (!stations_->instance) {
        keys_.Refuse(stationFileLine_, fmt::format("station_file: {}", stations_->problem));
      }
    }
    if (!stations_->instance) return nullptr;
    const tav::PlcEntry& entry = stations_->instance->plcTable[number];
    const std::string file = std::filesystem::path(stationFile_).filename().string();
    if (!tav::IsConfigured(entry)) {
      keys_.Refuse(node, fmt::format("station {}: {} configures no station {}", number, file,
                                     number));
      return nullptr;
    }
    const bool s5 = entry.plcType == tav::kPlcTypeS5;
    if (s5 != (route.protocol != Protocol::kS7)) {
      keys_.Refuse(node, fmt::format("station {} is an {} station in {}: a {} route reaches it",
                                     number, s5 ? "S5" : "S7", file,
                                     s5 ? "fetch-write" : "s7"));
      return nullptr;
    }
    const std::optional<tav::EthernetAddress> address = tav::ParseEthernetAddressText(
        std::string_view(entry.ethernetAddress, strnlen(entry.ethernetAddress,
                                                        sizeof entry.ethernetAddress)));
    if (address) route.station = *address;
    return &entry;
  }

  // The S7 station's TSAP: the route's slot or remote_tsap, else the slot of the station file's
  // line (`entry`), else none (the called TSAP the client sends).
  void ReadS7Tsap(const Table& table, RouteSettings& route, const tav::PlcEntry* entry) {
    for (std::string_view key : {"read_tsap", "write_tsap"}) {
      if (table.Get(key)) keys_.Refuse(table.Get(key), fmt::format("{}: fetch/write only", key));
    }
    int64_t slot = 0;
    if (keys_.Integer(table, "slot", 0, 255, slot) == KeyReader::Outcome::kTaken) {
      route.remoteTsap = Tsap{kS7RemoteTsapHigh, static_cast<uint8_t>(slot)};
      if (table.Get("remote_tsap")) {
        keys_.Refuse(table.Get("remote_tsap"), "give slot or remote_tsap, not both");
      }
    } else {
      route.remoteTsap = TsapKey(table, "remote_tsap");
    }
    if (!route.remoteTsap && entry && !table.Get("slot") && !table.Get("remote_tsap")) {
      route.remoteTsap = Tsap{kS7RemoteTsapHigh, entry->slot};
    }
  }

  // The S5 station's TSAPs: the route's, else those of the station file's line (`entry`).
  void ReadFetchWriteTsaps(const Table& table, RouteSettings& route, const tav::PlcEntry* entry) {
    for (std::string_view key : {"slot", "remote_tsap"}) {
      if (table.Get(key)) keys_.Refuse(table.Get(key), fmt::format("{}: S7 routes only", key));
    }
    // A station named by number whose entry is missing has its problem already.
    const bool fromFile = route.stationNumber.has_value();
    if (!table.Get("local_tsap")) {
      if (entry) route.localTsap = S5TsapOf(entry->ltsap);
      if (!fromFile) keys_.Refuse(table, "a fetch/write route has no local_tsap");
    }
    for (const auto& [key, tsap, inFile] :
         {std::tuple<std::string_view, Tsap*, const char*>{"read_tsap", &route.readTsap,
                                                           entry ? entry->rtsap : nullptr},
          std::tuple<std::string_view, Tsap*, const char*>{"write_tsap", &route.writeTsap,
                                                           entry ? entry->wtsap : nullptr}}) {
      if (!table.Get(key)) {
        if (inFile != nullptr) *tsap = S5TsapOf(inFile);
        if (!fromFile) keys_.Refuse(table, fmt::format("a fetch/write route has no {}", key));
      } else if (std::optional<Tsap> parsed = TsapKey(table, key)) {
        *tsap = std::move(*parsed);
      }
    }
  }

  void ReadAllow(const Table& table, RouteSettings& route) {
    const Node node = table.Get("allow");
    if (!node) return;
    if (!node.AsArray()) {
      keys_.Refuse(node, "allow must be a list of client networks: [\"192.168.10.0/24\"]");
      return;
    }
    for (const Node& item : node.AsArray().Items()) {
      const std::optional<std::string> text = item.String();
      const std::optional<ClientNetwork> network = text ? ParseNetwork(*text) : std::nullopt;
      if (!network) {
        keys_.Refuse(item, fmt::format("allow: \"{}\" is no IPv4 network (ADDRESS/BITS)",
                                       text.value_or("")));
        continue;
      }
      route.allow.push_back(*network);
    }
    if (route.allow.empty()) keys_.Refuse(node, "allow is empty: no client could connect");
  }

  // A port serves one protocol; S7 routes on one port are told apart by the TSAP they call.
  void CheckPorts(const std::vector<RouteSettings>& routes) {
    std::map<uint16_t, const RouteSettings*> first;
    std::set<std::pair<uint16_t, Tsap>> called;
    for (const RouteSettings& route : routes) {
      const auto [at, added] = first.emplace(route.port, &route);
      if (!added && (route.protocol != Protocol::kS7 || at->second->protocol != Protocol::kS7)) {
        keys_.Refuse(route.line, fmt::format("port {} is taken by the route on line {}",
                                             route.port, at->second->line));
        continue;
      }
      if (route.protocol != Protocol::kS7) continue;
      if (!called.emplace(route.port, route.remoteTsap.value_or(Tsap{})).second) {
        keys_.Refuse(route.line,
                     fmt::format("port {}: another S7 route calls the same TSAP (give each its "
                                 "slot or remote_tsap)",
                                 route.port));
      }
    }
  }
};

GatewayFileReading Refused(const std::string& file, int line, const std::string& what) {
  return {std::nullopt, {fmt::format("{}:{}: {}", file, line, what)}};
}

GatewayFileReading ReadDocument(const tav::toml_file::Document& document,
                                const std::string& file, const StationFileReader& stations) {
  const std::filesystem::path folder = std::filesystem::path(file).parent_path();
  Reader reader(folder.empty() ? "." : folder.string(), stations);
  GatewaySettings settings = reader.Read(document.root());
  std::vector<tav::toml_file::Problem> problems = reader.keys_.problems;
  std::stable_sort(problems.begin(), problems.end(),
                   [](const auto& a, const auto& b) { return a.at.line < b.at.line; });
  GatewayFileReading reading;
  for (const tav::toml_file::Problem& problem : problems) {
    reading.problems.push_back(fmt::format("{}:{}: {}", file, problem.at.line, problem.what));
  }
  if (reading.problems.empty()) reading.settings = std::move(settings);
  return reading;
}

}  // namespace

const char* ProtocolText(Protocol protocol) {
  for (const auto& [name, value] : kProtocols) {
    if (value == protocol) return name.data();
  }
  return "?";
}

GatewayFileReading ReadGatewayFile(const std::string& path, const StationFileReader& stations) {
  const TomlReading reading = ReadTomlFile(path, kMostFileBytes, "gateway file");
  if (!reading.document) return Refused(path, reading.line, reading.problem);
  return ReadDocument(*reading.document, path, stations);
}

GatewayFileReading ReadGatewayText(std::string_view text, const std::string& file,
                                   const StationFileReader& stations) {
  const TomlReading reading = ParseTomlText(text);
  if (!reading.document) return Refused(file, reading.line, reading.problem);
  return ReadDocument(*reading.document, file, stations);
}

}  // namespace tavhost::gateway
