#include "station_map/station_map.h"

#include <algorithm>
#include <charconv>
#include <cctype>
#include <optional>
#include <tuple>

namespace tav::h1tcp {

namespace {

constexpr std::string_view kBlanks = " \t\r";

std::string_view Trim(std::string_view text) {
  const size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// Splits at the first `separator`; the rest is empty when there is none.
std::pair<std::string_view, std::string_view> SplitAt(std::string_view text, char separator) {
  const size_t at = text.find(separator);
  if (at == std::string_view::npos) return {Trim(text), {}};
  return {Trim(text.substr(0, at)), text.substr(at + 1)};
}

std::optional<uint32_t> ParseNumber(std::string_view text, uint32_t low, uint32_t high) {
  uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < low || value > high) {
    return std::nullopt;
  }
  return value;
}

struct ProtocolName {
  std::string_view name;
  Protocol protocol;
};
constexpr std::array<ProtocolName, 4> kProtocols{{{"s7", Protocol::kS7},
                                                  {"s7-words", Protocol::kS7Words},
                                                  {"s5-iso", Protocol::kS5Iso},
                                                  {"s5-tcp", Protocol::kS5Tcp}}};

// One option=value; the problem's text when it is not one this route takes.
std::optional<std::string> ApplyOption(std::string_view option, Route& route) {
  const auto [name, value] = SplitAt(option, '=');
  const std::string_view trimmed = Trim(value);
  struct Limits {
    std::string_view name;
    uint16_t Route::*field;
    uint32_t low, high;
  };
  static constexpr std::array<Limits, 3> kOptions{{{"pdu", &Route::pduBytes, 240, 960},
                                                   {"jobs", &Route::parallelJobs, 1, 64},
                                                   {"write-port", &Route::writePort, 1, 65535}}};
  const std::string_view optionName = name;  // a lambda may not capture a structured binding
  const auto* known =
      std::find_if(kOptions.begin(), kOptions.end(),
                   [optionName](const Limits& limits) { return limits.name == optionName; });
  if (known == kOptions.end()) return "unknown option '" + std::string(name) + "'";
  const std::optional<uint32_t> number = ParseNumber(trimmed, known->low, known->high);
  if (!number) {
    return std::string(name) + " must be a number from " + std::to_string(known->low) + " to " +
           std::to_string(known->high);
  }
  route.*known->field = static_cast<uint16_t>(*number);
  return std::nullopt;
}

// The host and port of "host[:port]" or "[IPv6 address][:port]"; the problem's text when the
// text is neither.
std::optional<std::string> ParseWhere(std::string_view where, Route& route, bool& portGiven) {
  std::string_view host = where;
  std::string_view port;
  if (where.starts_with('[')) {
    const size_t close = where.find(']');
    if (close == std::string_view::npos) return "an IPv6 address in '[' needs its closing ']'";
    host = where.substr(1, close - 1);
    const std::string_view after = Trim(where.substr(close + 1));
    if (!after.empty() && !after.starts_with(':')) {
      return "after an IPv6 address in brackets comes ':port' or nothing";
    }
    port = after.empty() ? after : after.substr(1);
  } else if (std::count(where.begin(), where.end(), ':') > 1) {
    return std::string("an IPv6 address goes in brackets: [")
        .append(where)
        .append("] or [")
        .append(where)
        .append("]:port");
  } else {
    std::tie(host, port) = SplitAt(where, ':');
  }
  host = Trim(host);
  if (host.empty()) return "no host";
  if (host.find_first_of(kBlanks) != std::string_view::npos) {
    return std::string("'").append(host).append("' is no host name or address");
  }
  route.host = std::string(host);
  portGiven = !port.empty();
  if (portGiven) {
    const std::optional<uint32_t> number = ParseNumber(Trim(port), 1, 65535);
    if (!number) return "port must be a number from 1 to 65535";
    route.port = static_cast<uint16_t>(*number);
  }
  return std::nullopt;
}

// Why `name` is no protocol, in words that point at the likely slip.
std::string UnknownProtocol(std::string_view name, std::string_view where) {
  constexpr std::string_view kKnown = " (s7, s7-words, s5-iso, s5-tcp)";
  if (name.empty() && where.find_first_of(kBlanks) != std::string_view::npos) {
    return std::string("no comma between the host and the protocol: '").append(where).append("'");
  }
  if (name.empty()) return std::string("no protocol after the host").append(kKnown);
  std::string lower(name);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const bool known = std::any_of(kProtocols.begin(), kProtocols.end(),
                                 [&lower](const ProtocolName& p) { return p.name == lower; });
  if (known) {
    return std::string("protocol names are lower case: '")
        .append(lower)
        .append("', not '")
        .append(name)
        .append("'");
  }
  return std::string("unknown protocol '").append(name).append("'").append(kKnown);
}

// One line without its comment; the problem's text when it cannot be used.
std::optional<std::string> ParseLine(std::string_view line, Route& route) {
  const auto [addressText, rest] = SplitAt(line, '=');
  const std::optional<EthernetAddress> address = ParseEthernetAddressText(addressText);
  if (!address) {
    std::string problem = "'";
    return problem.append(addressText).append("' is no 12-digit Ethernet address");
  }
  route.address = *address;
  auto [where, options] = SplitAt(rest, ',');
  auto [protocolName, more] = SplitAt(options, ',');
  const std::string_view wanted = protocolName;  // a lambda may not capture a structured binding
  const auto* protocol = std::find_if(kProtocols.begin(), kProtocols.end(),
                                      [wanted](const ProtocolName& p) { return p.name == wanted; });
  if (protocol == kProtocols.end()) return UnknownProtocol(protocolName, where);
  route.protocol = protocol->protocol;
  bool portGiven = false;
  if (std::optional<std::string> problem = ParseWhere(where, route, portGiven)) return problem;
  if (!portGiven && route.protocol == Protocol::kS5Tcp) return "s5-tcp needs a port";
  while (!Trim(more).empty()) {
    auto [option, next] = SplitAt(more, ',');
    if (std::optional<std::string> problem = ApplyOption(option, route)) return problem;
    more = next;
  }
  if (route.writePort != 0 && route.protocol != Protocol::kS5Tcp) {
    return "write-port is for s5-tcp only";
  }
  return std::nullopt;
}

}  // namespace

std::string_view ProtocolName(Protocol protocol) {
  for (const auto& [name, known] : kProtocols) {
    if (known == protocol) return name;
  }
  return {};
}

const Route* StationMap::Find(const EthernetAddress& address) const {
  const auto found = std::find_if(routes.begin(), routes.end(),
                                  [&](const Route& route) { return route.address == address; });
  return found == routes.end() ? nullptr : &*found;
}

StationMap ParseStationMap(std::string_view text) {
  StationMap map;
  int number = 0;
  while (!text.empty()) {
    ++number;
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    line = Trim(line.substr(0, line.find(';')));
    if (line.empty()) continue;
    Route route;
    route.line = number;
    if (std::optional<std::string> problem = ParseLine(line, route)) {
      map.problems.push_back({number, std::move(*problem)});
    } else if (map.Find(route.address) != nullptr) {
      map.problems.push_back({number, "the address is mapped on an earlier line"});
    } else {
      map.routes.push_back(std::move(route));
    }
  }
  return map;
}

}  // namespace tav::h1tcp
