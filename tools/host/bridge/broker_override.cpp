// --broker: the broker's address from the command line, over the file's.
#include <charconv>

#include "bridge/bridge_settings.h"

namespace tavhost::bridge {

std::optional<std::string> ApplyBrokerOverride(std::string_view text, BrokerSettings& broker) {
  std::string_view host = text;
  std::string_view port;
  if (text.starts_with('[')) {
    // [IPv6]:PORT or [IPv6]
    const size_t close = text.find(']');
    if (close == std::string_view::npos) return "the ']' after the IPv6 address is missing";
    if (close == 1) return "the host is missing";
    host = text.substr(1, close - 1);
    const std::string_view rest = text.substr(close + 1);
    if (!rest.empty() && !rest.starts_with(':')) return "HOST:PORT, HOST or [IPv6]:PORT";
    if (!rest.empty()) port = rest.substr(1);
    if (rest == ":") return "the port is missing after ':'";
  } else if (const size_t colon = text.rfind(':'); colon != std::string_view::npos) {
    if (text.find(':') != colon) return "an IPv6 address goes in brackets, [::1]:1883";
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
    if (port.empty()) return "the port is missing after ':'";
  }
  if (host.empty()) return "the host is missing";
  uint32_t number = 0;
  if (!port.empty()) {
    const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), number);
    if (error != std::errc() || end != port.data() + port.size() || number < 1 || number > 65535) {
      return "the port is a number from 1 to 65535";
    }
    broker.port = static_cast<uint16_t>(number);
  }
  broker.host = std::string(host);
  return std::nullopt;
}

}  // namespace tavhost::bridge
