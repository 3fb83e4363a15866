// Sockets without a network, for libh1tcp's connection logic in the tests and the fuzzer: one
// socket whose connect ends as the script says, that keeps what the connection sends, and
// receives what the script (or a station answering what was sent) puts in. No threads, no
// waiting: Wait answers at once whether something is there.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "sockets.h"

namespace tav::h1tcp::test {

class ScriptedSockets final : public Sockets {
 public:
  using Bytes = std::vector<uint8_t>;
  // Called with everything sent so far that it has not seen yet; may add to `incoming`.
  using Station = std::function<void(const Bytes& sent, ScriptedSockets& sockets)>;

  Io connect = Io::kDone;  // what StartConnect answers
  Io finish = Io::kDone;   // what FinishConnect answers
  SocketFailure why = SocketFailure::kNone;
  std::set<std::string> unknownHosts;
  Bytes incoming;                 // what the station has sent and the connection not yet taken
  bool closeWhenDrained = false;  // after `incoming`, the station closes
  bool resetWhenDrained = false;  // after `incoming`, the station resets
  Bytes sent;                     // everything the connection sent
  Station station;
  int64_t now = 0;

  std::optional<Endpoint> Resolve(const std::string& host, uint16_t /*port*/) override {
    if (unknownHosts.contains(host)) return std::nullopt;
    Endpoint endpoint;
    endpoint.size = 1;
    return endpoint;
  }
  Io StartConnect(const Endpoint& /*endpoint*/, Socket& socket, SocketFailure& failure) override {
    socket = connect == Io::kFailed ? kNoSocket : 1;
    failure = why;
    return connect;
  }
  Io FinishConnect(Socket /*socket*/, SocketFailure& failure) override {
    failure = why;
    return finish;
  }
  Io SendSome(Socket /*socket*/, const uint8_t* bytes, size_t size, size_t& count) override {
    const size_t seen = sent.size();
    sent.insert(sent.end(), bytes, bytes + size);
    count = size;
    if (station) station(Bytes(sent.begin() + static_cast<ptrdiff_t>(seen), sent.end()), *this);
    return Io::kDone;
  }
  Io ReceiveSome(Socket /*socket*/, uint8_t* bytes, size_t size, size_t& received) override {
    received = std::min(size, incoming.size());
    if (received == 0) {
      if (resetWhenDrained) return Io::kFailed;
      return closeWhenDrained ? Io::kClosed : Io::kWouldBlock;
    }
    std::memcpy(bytes, incoming.data(), received);
    incoming.erase(incoming.begin(), incoming.begin() + static_cast<ptrdiff_t>(received));
    return Io::kDone;
  }
  bool Wait(Socket /*socket*/, bool write, int /*milliseconds*/) override {
    return write || !incoming.empty() || closeWhenDrained || resetWhenDrained;
  }
  void Close(Socket /*socket*/) override {}
  int64_t NowMilliseconds() override { return now; }
};

}  // namespace tav::h1tcp::test
