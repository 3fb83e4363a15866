// The gateway file's reader: the TOML file checked key by key, every problem with its line.
#include <arpa/inet.h>
#include <fmt/core.h>

#include <algorithm>
#include <map>
#include <set>

#include "cli/toml_reading.h"
#include "cli/tsap_text.h"
#include "gateway/gateway_settings.h"

namespace tavhost::gateway {

namespace {

using tav::toml_file::KeyReader;
using tav::toml_file::Node;
using tav::toml_file::Table;

constexpr size_t kMostFileBytes = size_t{1} << 20;
constexpr size_t kMostRoutes = 256;
constexpr uint8_t kS7RemoteTsapHigh = 0x03;  // an S7 CPU's TSAP: 03, then rack and slot

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

class Reader {
 public:
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
  void ReadGateway(const Table& table, GatewaySettings& settings) {
    keys_.Keys(table, {"h1_interface", "listen", "most_clients", "connect_timeout_s"},
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
    route.localTsap = TsapKey(table, "local_tsap");
    if (route.protocol == Protocol::kS7) {
      ReadS7Tsap(table, route);
    } else {
      ReadFetchWriteTsaps(table, route);
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

  void ReadStation(const Table& table, RouteSettings& route) {
    std::string text;
    const KeyReader::Outcome outcome = keys_.Text(table, "station", text);
    if (outcome == KeyReader::Outcome::kAbsent) {
      keys_.Refuse(table, "[[route]] has no station: its Ethernet address, 12 hex digits");
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

  void ReadS7Tsap(const Table& table, RouteSettings& route) {
    for (std::string_view key : {"read_tsap", "write_tsap"}) {
      if (table.Get(key)) keys_.Refuse(table.Get(key), fmt::format("{}: fetch/write only", key));
    }
    int64_t slot = 0;
    if (keys_.Integer(table, "slot", 0, 255, slot) == KeyReader::Outcome::kTaken) {
      route.remoteTsap = Tsap{kS7RemoteTsapHigh, static_cast<uint8_t>(slot)};
      if (table.Get("remote_tsap")) {
        keys_.Refuse(table.Get("remote_tsap"), "give slot or remote_tsap, not both");
      }
      return;
    }
    route.remoteTsap = TsapKey(table, "remote_tsap");
  }

  void ReadFetchWriteTsaps(const Table& table, RouteSettings& route) {
    for (std::string_view key : {"slot", "remote_tsap"}) {
      if (table.Get(key)) keys_.Refuse(table.Get(key), fmt::format("{}: S7 routes only", key));
    }
    if (!route.localTsap && !table.Get("local_tsap")) {
      keys_.Refuse(table, "a fetch/write route has no local_tsap");
    }
    for (const auto& [key, tsap] :
         {std::pair<std::string_view, Tsap*>{"read_tsap", &route.readTsap},
          std::pair<std::string_view, Tsap*>{"write_tsap", &route.writeTsap}}) {
      if (!table.Get(key)) {
        keys_.Refuse(table, fmt::format("a fetch/write route has no {}", key));
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
                                const std::string& file) {
  Reader reader;
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

GatewayFileReading ReadGatewayFile(const std::string& path) {
  const TomlReading reading = ReadTomlFile(path, kMostFileBytes, "gateway file");
  if (!reading.document) return Refused(path, reading.line, reading.problem);
  return ReadDocument(*reading.document, path);
}

GatewayFileReading ReadGatewayText(std::string_view text, const std::string& file) {
  const TomlReading reading = ParseTomlText(text);
  if (!reading.document) return Refused(file, reading.line, reading.problem);
  return ReadDocument(*reading.document, file);
}

}  // namespace tavhost::gateway
