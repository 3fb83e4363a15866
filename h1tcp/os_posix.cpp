#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "os.h"

namespace tav::h1tcp {

namespace {

int Fd(Socket socket) {
  return static_cast<int>(socket);
}

}  // namespace

bool StartSockets() {
  return true;
}

void StopSockets() {}

SocketFailure FailureOf(int error) {
  switch (error) {
    case ECONNREFUSED:
      return SocketFailure::kRefused;
    case ENETUNREACH:
    case EHOSTUNREACH:
      return SocketFailure::kUnreachable;
    case ETIMEDOUT:
      return SocketFailure::kTimedOut;
    case ECONNRESET:
      return SocketFailure::kReset;
    default:
      return SocketFailure::kOther;
  }
}

Io StartConnect(const Endpoint& endpoint, Socket& socket, SocketFailure& why) {
  socket = kNoSocket;
  sockaddr_storage address{};
  std::memcpy(&address, endpoint.address.data(), endpoint.size);
  const int fd = ::socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    why = FailureOf(errno);
    return Io::kFailed;
  }
  // Requests are small and answered one by one: send each at once.
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  const int result = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), endpoint.size);
  const int error = errno;
  if (result == 0) {
    socket = fd;
    return Io::kDone;
  }
  if (error == EINPROGRESS) {
    socket = fd;
    return Io::kWouldBlock;
  }
  ::close(fd);
  why = FailureOf(error);
  return Io::kFailed;
}

Io FinishConnect(Socket socket, SocketFailure& why) {
  int error = 0;
  socklen_t size = sizeof error;
  if (getsockopt(Fd(socket), SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
    why = FailureOf(errno);
    return Io::kFailed;
  }
  if (error == EINPROGRESS || error == EALREADY) return Io::kWouldBlock;
  if (error == 0) return Io::kDone;
  why = FailureOf(error);
  return Io::kFailed;
}

Io SendSome(Socket socket, const uint8_t* bytes, size_t size, size_t& sent) {
  const ssize_t count = ::send(Fd(socket), bytes, size, MSG_NOSIGNAL);
  if (count >= 0) {
    sent = static_cast<size_t>(count);
    return Io::kDone;
  }
  sent = 0;
  return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? Io::kWouldBlock : Io::kFailed;
}

Io ReceiveSome(Socket socket, uint8_t* bytes, size_t size, size_t& received) {
  const ssize_t count = ::recv(Fd(socket), bytes, size, 0);
  received = count > 0 ? static_cast<size_t>(count) : 0;
  if (count > 0) return Io::kDone;
  if (count == 0) return Io::kClosed;
  return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? Io::kWouldBlock : Io::kFailed;
}

bool Wait(Socket socket, bool write, int milliseconds) {
  pollfd entry{Fd(socket), static_cast<short>(write ? POLLIN | POLLOUT : POLLIN), 0};
  return ::poll(&entry, 1, milliseconds) > 0;
}

void CloseSocket(Socket socket) {
  if (socket != kNoSocket) ::close(Fd(socket));
}

int64_t NowMilliseconds() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace tav::h1tcp
