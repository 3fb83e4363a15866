// The gateway's one thread: a poll loop over the routes' listening sockets, the clients' sockets
// and the H1 link, with one transport layer for every station connection (one per client
// connection, two for fetch/write: the read and the write TSAP), its timers run between.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "gateway/gateway_settings.h"
#include "h1eth/class4.h"
#include "h1eth/link.h"

namespace tavhost::gateway {

struct RuntimeOptions {
  int statsIntervalSeconds = 0;  // 0: no statistics lines
  bool json = false;
};

// A log line: the gateway's events, one line each.
using LogLine = std::function<void(const std::string& line)>;
// A statistics line (text or a JSON document).
using StatsLine = std::function<void(const std::string& line)>;

// Serves until `ending` holds (SIGINT, SIGTERM), then releases every H1 connection and closes
// every client. Returns false when a listening socket cannot be opened (the log says why).
bool RunGateway(const GatewaySettings& settings, const RuntimeOptions& options,
                tav::h1eth::Link& link, const tav::h1eth::TransportSettings& transport,
                const std::function<bool()>& ending, const LogLine& log,
                const StatsLine& stats);

}  // namespace tavhost::gateway
