#include "gateway/gateway_runtime.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <fmt/core.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <list>
#include <nlohmann/json.hpp>
#include <optional>

#include "commands/h1_settings.h"
#include "gateway/client_session.h"
#include "h1eth/station_connection.h"
#include "vocabulary/ethernet_address.h"

namespace tavhost::gateway {

namespace {

using tav::h1eth::ConnectionId;
using tav::h1eth::ConnectionState;
using tav::h1eth::Microseconds;
using tav::h1eth::TransportConnection;

constexpr size_t kMostOutputBytes = size_t{1} << 20;  // a client that reads none of it is dropped
constexpr size_t kReadChunk = 16384;
constexpr int kMostFramesPerRound = 256;
constexpr Microseconds kLongestWait = 1'000;       // for the link while the sockets are quiet
// For the sockets and the link at once, where the link has a descriptor: any of them wakes it.
constexpr Microseconds kLongestPollWait = 100'000;
// How long after a request went to its station the loop keeps asking without sleeping: a
// station near by answers within tens of microseconds, and the wake-up of a sleeping processor
// costs as much again (libh1eth's own receive waits the same way).
constexpr Microseconds kAwaitingSpin = 50;
constexpr Microseconds kReleaseWait = 3'000'000;   // for the DCs of the released connections
constexpr int kListenBacklog = 64;

std::string PeerText(const sockaddr_in& peer) {
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
  return fmt::format("{}:{}", text, ntohs(peer.sin_port));
}

bool NonBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL, 0);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

// Whether a client's called TSAP leads to a station's: the same bytes, or for S7's two-byte
// TSAPs the same rack and slot (the first byte is the kind of connection the client asks for:
// 01 programming device, 02 operator panel, 03 S7 basic).
bool CallsStation(const Tsap& called, const Tsap& station) {
  if (called == station) return true;
  return called.size() == 2 && station.size() == 2 && called[1] == station[1];
}

struct Listener {
  int fd = -1;
  uint16_t port = 0;
  std::vector<size_t> routes;  // the routes on this port, by index
};

struct RouteTotals {
  uint64_t clients = 0;  // connected now
  SessionCounters closed;  // of the clients gone
};

struct Client {
  Client(int socket, const sockaddr_in& from, const Listener& on, Protocol protocol,
         Microseconds now)
      : fd(socket),
        peer(ntohl(from.sin_addr.s_addr)),
        peerText(PeerText(from)),
        listener(&on),
        session(protocol, false),
        acceptedAt(now) {}
  int fd;
  uint32_t peer;
  std::string peerText;
  const Listener* listener;
  std::optional<size_t> route;
  ClientSession session;
  std::optional<ConnectionId> main;
  std::optional<ConnectionId> write;
  bool stationOpen = false;
  Bytes out;
  Microseconds acceptedAt;
  bool gone = false;
};

void Add(SessionCounters& sum, const SessionCounters& more) {
  sum.requests += more.requests;
  sum.refusals += more.refusals;
  sum.bytesFromClient += more.bytesFromClient;
  sum.bytesToClient += more.bytesToClient;
}

class Gateway {
 public:
  Gateway(const GatewaySettings& settings, const RuntimeOptions& options, tav::h1eth::Link& link,
          const tav::h1eth::TransportSettings& transport, const LogLine& log,
          const StatsLine& stats)
      : settings_(settings),
        options_(options),
        link_(link),
        layer_(transport, [this](tav::h1eth::ByteView frame) { link_.Send(frame); }),
        log_(log),
        stats_(stats),
        totals_(settings.routes.size()) {
    layer_.AddLocalAddress(link_.Address());
  }

  ~Gateway() {
    for (Client& client : clients_) close(client.fd);
    for (Listener& listener : listeners_) close(listener.fd);
  }

  bool Open() {
    in_addr address{};
    inet_pton(AF_INET, settings_.listen.c_str(), &address);
    for (size_t i = 0; i < settings_.routes.size(); ++i) {
      const auto same = [&](const Listener& l) { return l.port == settings_.routes[i].port; };
      if (auto at = std::find_if(listeners_.begin(), listeners_.end(), same);
          at != listeners_.end()) {
        at->routes.push_back(i);
        continue;
      }
      Listener listener{socket(AF_INET, SOCK_STREAM, 0), settings_.routes[i].port, {i}};
      listeners_.push_back(listener);
      const int on = 1;
      setsockopt(listener.fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
      sockaddr_in at{};
      at.sin_family = AF_INET;
      at.sin_port = htons(listener.port);
      at.sin_addr = address;
      if (listener.fd < 0 || bind(listener.fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
          listen(listener.fd, kListenBacklog) != 0 || !NonBlocking(listener.fd)) {
        log_(fmt::format("cannot listen on {}:{}: {}", settings_.listen, listener.port,
                         std::strerror(errno)));
        return false;
      }
      log_(fmt::format("listening on {}:{} ({})", settings_.listen, listener.port,
                       ProtocolText(settings_.routes[i].protocol)));
    }
    return true;
  }

  void Run(const std::function<bool()>& ending) {
    Microseconds nextStats = Now() + StatsInterval();
    while (!ending()) {
      const bool busy = PollSockets();
      bool frames = false;
      tav::h1eth::FrameBytes frame;
      for (int i = 0; i < kMostFramesPerRound && link_.Receive(frame, 0); ++i) {
        layer_.TakeFrame(frame, Now());
        frames = true;
      }
      if (!busy && !frames && Now() >= spinUntil_) Wait();
      layer_.Tick(Now());
      Serve();
      if (options_.statsIntervalSeconds > 0 && Now() >= nextStats) {
        Stats();
        nextStats = Now() + StatsInterval();
      }
    }
    Shutdown();
  }

 private:
  static Microseconds Now() { return SteadyMicroseconds(); }
  Microseconds StatsInterval() const {
    return Microseconds{options_.statsIntervalSeconds} * 1'000'000;
  }

  // Until a socket or the link has something or a timer is due. A request that comes while the
  // loop waits on the link alone would wait out the link's time: where the link has a descriptor,
  // the sockets and the link are waited on together.
  void Wait() {
    const int link = link_.ReadableDescriptor();
    const Microseconds longest = link < 0 ? kLongestWait : kLongestPollWait;
    const Microseconds wait = std::clamp(layer_.NextDeadline() - Now(), Microseconds{0}, longest);
    if (link < 0) {
      tav::h1eth::FrameBytes frame;
      if (link_.Receive(frame, wait)) layer_.TakeFrame(frame, Now());
      return;
    }
    std::vector<pollfd> fds = Watched();
    fds.push_back({link, POLLIN, 0});
    const timespec until{static_cast<time_t>(wait / 1'000'000),
                         static_cast<long>(wait % 1'000'000 * 1'000)};
    ppoll(fds.data(), fds.size(), &until, nullptr);
  }

  // The listening sockets, then each client's, with what the loop waits for on it.
  std::vector<pollfd> Watched() const {
    std::vector<pollfd> fds;
    for (const Listener& listener : listeners_) fds.push_back({listener.fd, POLLIN, 0});
    for (const Client& client : clients_) {
      short events = 0;
      if (!client.session.relaying() && !client.session.ended()) events |= POLLIN;
      if (!client.out.empty()) events |= POLLOUT;
      fds.push_back({client.fd, events, 0});
    }
    return fds;
  }

  // Accepts, reads and writes what the sockets have; whether anything happened.
  bool PollSockets() {
    std::vector<pollfd> fds = Watched();
    if (poll(fds.data(), fds.size(), 0) <= 0) return false;
    size_t at = 0;
    for (Listener& listener : listeners_) {
      if (fds[at++].revents & POLLIN) Accept(listener);
    }
    for (auto client = clients_.begin(); at < fds.size(); ++client, ++at) {
      if (fds[at].revents & (POLLIN | POLLHUP | POLLERR)) Read(*client);
      if (!client->gone && (fds[at].revents & POLLOUT)) Write(*client);
    }
    return true;
  }

  void Accept(Listener& listener) {
    sockaddr_in from{};
    socklen_t length = sizeof from;
    const int fd = accept(listener.fd, reinterpret_cast<sockaddr*>(&from), &length);
    if (fd < 0) return;
    const std::string peer = PeerText(from);
    const uint32_t address = ntohl(from.sin_addr.s_addr);
    const bool allowed = std::any_of(listener.routes.begin(), listener.routes.end(),
                                     [&](size_t route) { return Allows(route, address); });
    if (!allowed) return Refuse(fd, peer, fmt::format("not in the allow list of port {}",
                                                      listener.port));
    if (clients_.size() >= settings_.mostClients) {
      return Refuse(fd, peer, fmt::format("{} clients already (most_clients)", clients_.size()));
    }
    NonBlocking(fd);
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    const RouteSettings& first = settings_.routes[listener.routes.front()];
    Client& client = clients_.emplace_back(fd, from, listener, first.protocol, Now());
    if (first.protocol == Protocol::kFetchWrite) Route(client, listener.routes.front(), {});
  }

  bool Allows(size_t route, uint32_t address) const {
    const std::vector<ClientNetwork>& allow = settings_.routes[route].allow;
    return allow.empty() || std::any_of(allow.begin(), allow.end(), [&](const ClientNetwork& n) {
             return n.Holds(address);
           });
  }

  void Refuse(int fd, const std::string& peer, const std::string& why) {
    log_(fmt::format("client {} refused: {}", peer, why));
    close(fd);
  }

  void Read(Client& client) {
    uint8_t chunk[kReadChunk];
    const ssize_t got = recv(client.fd, chunk, sizeof chunk, 0);
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
      return Close(client, "the client went");
    }
    if (got < 0) return;
    client.session.TakeFromClient(ByteView(chunk, static_cast<size_t>(got)));
    Drive(client);
  }

  void Write(Client& client) {
    const ssize_t sent = send(client.fd, client.out.data(), client.out.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      return Close(client, "the client went");
    }
    if (sent > 0) client.out.erase(client.out.begin(), client.out.begin() + sent);
  }

  // What the session asks for after it took something.
  void Drive(Client& client) {
    if (client.gone) return;
    if (std::optional<ConnectRequest> request = client.session.TakeConnectRequest()) {
      if (!RouteByTsap(client, *request)) return;
    }
    Relay(client);
    Bytes& answer = client.session.toClient();
    client.out.insert(client.out.end(), answer.begin(), answer.end());
    answer.clear();
    if (client.out.size() > kMostOutputBytes) return Close(client, "it stopped reading its answers");
    if (!client.out.empty()) Write(client);
    if (client.gone) return;
    if (client.session.ended()) Close(client, *client.session.ended());
  }

  // ISO: the route on the client's port that leads to the TSAP it called.
  bool RouteByTsap(Client& client, const ConnectRequest& request) {
    std::optional<size_t> chosen;
    for (size_t route : client.listener->routes) {
      const std::optional<Tsap>& tsap = settings_.routes[route].remoteTsap;
      if (tsap && CallsStation(request.calledTsap, *tsap)) chosen = route;
      if (!tsap && !chosen) chosen = route;
    }
    if (settings_.routes[client.listener->routes.front()].protocol != Protocol::kS7) {
      chosen = client.listener->routes.front();
    }
    if (!chosen) {
      Close(client, fmt::format("no route on port {} for TSAP {}", client.listener->port,
                                tav::HexText(request.calledTsap)));
      return false;
    }
    if (!Allows(*chosen, client.peer)) {
      Close(client, fmt::format("not in the allow list of the route on line {}",
                                settings_.routes[*chosen].line));
      return false;
    }
    return Route(client, *chosen, request);
  }

  // Opens the station's connections for the client's route.
  bool Route(Client& client, size_t index, const ConnectRequest& request) {
    const RouteSettings& route = settings_.routes[index];
    if (totals_[index].clients >= route.mostClients) {
      Close(client, fmt::format("{} clients on the route on line {} already (most_clients)",
                                totals_[index].clients, route.line));
      return false;
    }
    client.route = index;
    ++totals_[index].clients;
    client.session.SetReadOnly(route.readOnly);
    const tav::h1eth::Endpoints endpoints{link_.Address(), route.station};
    if (route.protocol == Protocol::kS7) {
      client.main = layer_.Connect(endpoints, route.localTsap.value_or(request.callingTsap),
                                   route.remoteTsap.value_or(request.calledTsap), Now());
    } else {
      client.main = layer_.Connect(endpoints, *route.localTsap, route.readTsap, Now());
      client.write = layer_.Connect(endpoints, *route.localTsap, route.writeTsap, Now());
    }
    if (!client.main || (route.protocol != Protocol::kS7 && !client.write)) {
      Close(client, "no H1 connection free");
      return false;
    }
    return true;
  }

  TransportConnection* Connection(const std::optional<ConnectionId>& id) {
    return id ? layer_.Connection(*id) : nullptr;
  }

  void Relay(Client& client) {
    if (!client.stationOpen) return;
    std::deque<gateway::Relay>& relays = client.session.toStation();
    while (!relays.empty()) {
      TransportConnection* connection =
          Connection(relays.front().channel == Channel::kMain ? client.main : client.write);
      if (connection == nullptr || !connection->Send(relays.front().tsdu, Now())) return;
      relays.pop_front();
      spinUntil_ = Now() + kAwaitingSpin;
    }
  }

  // The station's side of every client: connections opened or ended, TSDUs in; and the CR's
  // time-out.
  void Serve() {
    const Microseconds now = Now();
    for (Client& client : clients_) {
      if (client.gone) continue;
      if (!client.route) {
        if (now - client.acceptedAt > Microseconds{settings_.connectSeconds} * 1'000'000) {
          Close(client, fmt::format("no CR within {} s", settings_.connectSeconds));
        }
        continue;
      }
      ServeStation(client);
    }
    clients_.remove_if([](const Client& client) { return client.gone; });
  }

  void ServeStation(Client& client) {
    for (const std::optional<ConnectionId>* id : {&client.main, &client.write}) {
      if (!*id) continue;
      TransportConnection* connection = Connection(*id);
      const ConnectionState state =
          connection != nullptr ? connection->state() : ConnectionState::kClosed;
      if (state == ConnectionState::kConnecting) return;
      if (state != ConnectionState::kOpen) {
        const std::string why =
            connection != nullptr ? tav::h1eth::DescribeTransportEnd(*connection) : "released";
        client.session.Disconnect();
        return Close(client, fmt::format("station {} {}", StationText(client), why));
      }
    }
    if (!client.stationOpen) {
      client.stationOpen = true;
      log_(fmt::format("client {} connected to station {}", client.peerText, StationText(client)));
      client.session.StationOpen();
    }
    for (const std::optional<ConnectionId>* id : {&client.main, &client.write}) {
      TransportConnection* connection = Connection(*id);
      if (connection == nullptr) continue;
      while (std::optional<tav::h1eth::Bytes> tsdu = connection->Receive()) {
        client.session.TakeFromStation(*tsdu);
      }
    }
    Drive(client);
  }

  std::string StationText(const Client& client) const {
    return tav::EthernetAddressText(settings_.routes[*client.route].station);
  }

  // Ends a client: one log line (before the client can see its connection end), its station
  // connections released (DR), its socket closed.
  void Close(Client& client, const std::string& why) {
    if (client.gone) return;
    client.gone = true;
    log_(fmt::format("client {} closed: {}", client.peerText, why));
    if (!client.session.ended()) client.session.Disconnect();
    Bytes& last = client.session.toClient();
    client.out.insert(client.out.end(), last.begin(), last.end());
    if (!client.out.empty()) {
      send(client.fd, client.out.data(), client.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    }
    for (const std::optional<ConnectionId>* id : {&client.main, &client.write}) {
      if (*id) layer_.Forget(**id, Now());
    }
    close(client.fd);
    if (client.route) {
      --totals_[*client.route].clients;
      Add(totals_[*client.route].closed, client.session.counters());
    }
  }

  void Stats() {
    for (size_t i = 0; i < settings_.routes.size(); ++i) {
      SessionCounters sum = totals_[i].closed;
      for (const Client& client : clients_) {
        if (client.route == i) Add(sum, client.session.counters());
      }
      const RouteSettings& route = settings_.routes[i];
      if (options_.json) {
        stats_(nlohmann::json{{"route", route.line},
                              {"port", route.port},
                              {"protocol", ProtocolText(route.protocol)},
                              {"clients", totals_[i].clients},
                              {"requests", sum.requests},
                              {"refusals", sum.refusals},
                              {"bytesIn", sum.bytesFromClient},
                              {"bytesOut", sum.bytesToClient}}
                   .dump());
      } else {
        stats_(fmt::format("route {} port {} {}: clients {} requests {} refusals {} bytes in {} "
                           "out {}",
                           route.line, route.port, ProtocolText(route.protocol),
                           totals_[i].clients, sum.requests, sum.refusals, sum.bytesFromClient,
                           sum.bytesToClient));
      }
    }
  }

  void Shutdown() {
    size_t releasing = 0;
    for (Client& client : clients_) {
      releasing += (client.main ? 1 : 0) + (client.write ? 1 : 0);
      Close(client, "the gateway ends");
    }
    clients_.clear();
    log_(fmt::format("ending: {} H1 connections released", releasing));
    const Microseconds until = Now() + kReleaseWait;
    tav::h1eth::FrameBytes frame;
    while (layer_.releasingConnections() > 0 && Now() < until) {
      if (link_.Receive(frame, kLongestWait)) layer_.TakeFrame(frame, Now());
      layer_.Tick(Now());
    }
  }

  const GatewaySettings& settings_;
  const RuntimeOptions& options_;
  tav::h1eth::Link& link_;
  tav::h1eth::TransportLayer layer_;
  const LogLine& log_;
  const StatsLine& stats_;
  std::vector<Listener> listeners_;
  std::list<Client> clients_;
  std::vector<RouteTotals> totals_;
  Microseconds spinUntil_ = 0;  // the loop does not sleep before this (a request at its station)
};

}  // namespace

bool RunGateway(const GatewaySettings& settings, const RuntimeOptions& options,
                tav::h1eth::Link& link, const tav::h1eth::TransportSettings& transport,
                const std::function<bool()>& ending, const LogLine& log,
                const StatsLine& stats) {
  Gateway gateway(settings, options, link, transport, log, stats);
  if (!gateway.Open()) return false;
  gateway.Run(ending);
  return true;
}

}  // namespace tavhost::gateway
