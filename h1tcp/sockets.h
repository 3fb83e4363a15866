// The sockets a connection of libh1tcp talks to, as an interface: the operating system's (os.h
// behind OsSockets) in the library, scripted ones in the tests and the fuzzer, so that the
// connection's logic runs without a network or threads.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace tav::h1tcp {

using Socket = intptr_t;
inline constexpr Socket kNoSocket = -1;

enum class Io : uint8_t {
  kDone,        // some bytes went or came (or the connect finished)
  kWouldBlock,  // nothing now; wait for the socket
  kClosed,      // the peer closed the connection (receive)
  kFailed,      // refused, reset or any other error
};

// Why a connect or a transfer failed, as far as the operating system says.
enum class SocketFailure : uint8_t { kNone, kRefused, kUnreachable, kTimedOut, kReset, kOther };

// A resolved address to connect to: the operating system's socket address, as bytes.
struct Endpoint {
  std::array<uint8_t, 128> address{};
  uint32_t size = 0;
};

class Sockets {
 public:
  virtual ~Sockets() = default;
  // The address of `host` and `port`; nothing when the name does not resolve.
  virtual std::optional<Endpoint> Resolve(const std::string& host, uint16_t port) = 0;
  // Starts a non-blocking connect. kDone when it connected at once, kWouldBlock while it goes
  // on, kFailed otherwise (`socket` is then kNoSocket and `why` says why).
  virtual Io StartConnect(const Endpoint& endpoint, Socket& socket, SocketFailure& why) = 0;
  // After the socket became writable: whether the connect succeeded.
  virtual Io FinishConnect(Socket socket, SocketFailure& why) = 0;
  virtual Io SendSome(Socket socket, const uint8_t* bytes, size_t size, size_t& sent) = 0;
  virtual Io ReceiveSome(Socket socket, uint8_t* bytes, size_t size, size_t& received) = 0;
  // Waits up to `milliseconds` for the socket to become readable, or writable when `write`;
  // true when it did, or when it has an error to report.
  virtual bool Wait(Socket socket, bool write, int milliseconds) = 0;
  virtual void Close(Socket socket) = 0;
  // Milliseconds on a monotonic clock.
  virtual int64_t NowMilliseconds() = 0;
};

// The operating system's sockets.
Sockets& OsSockets();

}  // namespace tav::h1tcp
