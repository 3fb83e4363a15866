#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "os.h"

namespace tav::h1tcp {

namespace {

SOCKET Handle(Socket socket) {
  return static_cast<SOCKET>(socket);
}

bool WouldBlock() {
  const int error = WSAGetLastError();
  return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS || error == WSAEINTR;
}

}  // namespace

bool StartSockets() {
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void StopSockets() {
  WSACleanup();
}

SocketFailure FailureOf(int error) {
  switch (error) {
    case WSAECONNREFUSED:
      return SocketFailure::kRefused;
    case WSAENETUNREACH:
    case WSAEHOSTUNREACH:
      return SocketFailure::kUnreachable;
    case WSAETIMEDOUT:
      return SocketFailure::kTimedOut;
    case WSAECONNRESET:
      return SocketFailure::kReset;
    default:
      return SocketFailure::kOther;
  }
}

Io StartConnect(const Endpoint& endpoint, Socket& socket, SocketFailure& why) {
  socket = kNoSocket;
  sockaddr_storage address{};
  std::memcpy(&address, endpoint.address.data(), endpoint.size);
  const SOCKET handle = ::socket(address.ss_family, SOCK_STREAM, IPPROTO_TCP);
  if (handle == INVALID_SOCKET) {
    why = FailureOf(WSAGetLastError());
    return Io::kFailed;
  }
  u_long nonBlocking = 1;
  ioctlsocket(handle, FIONBIO, &nonBlocking);
  // Requests are small and answered one by one: send each at once.
  const BOOL on = TRUE;
  setsockopt(handle, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  const int result = ::connect(handle, reinterpret_cast<const sockaddr*>(&address),
                               static_cast<int>(endpoint.size));
  if (result == 0) {
    socket = static_cast<Socket>(handle);
    return Io::kDone;
  }
  if (WouldBlock()) {
    socket = static_cast<Socket>(handle);
    return Io::kWouldBlock;
  }
  why = FailureOf(WSAGetLastError());
  closesocket(handle);
  return Io::kFailed;
}

Io FinishConnect(Socket socket, SocketFailure& why) {
  int error = 0;
  int size = sizeof error;
  if (getsockopt(Handle(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) !=
      0) {
    why = FailureOf(WSAGetLastError());
    return Io::kFailed;
  }
  if (error == WSAEWOULDBLOCK || error == WSAEINPROGRESS || error == WSAEALREADY) {
    return Io::kWouldBlock;
  }
  if (error == 0) return Io::kDone;
  why = FailureOf(error);
  return Io::kFailed;
}

Io SendSome(Socket socket, const uint8_t* bytes, size_t size, size_t& sent) {
  const int count =
      ::send(Handle(socket), reinterpret_cast<const char*>(bytes), static_cast<int>(size), 0);
  if (count != SOCKET_ERROR) {
    sent = static_cast<size_t>(count);
    return Io::kDone;
  }
  sent = 0;
  return WouldBlock() ? Io::kWouldBlock : Io::kFailed;
}

Io ReceiveSome(Socket socket, uint8_t* bytes, size_t size, size_t& received) {
  const int count =
      ::recv(Handle(socket), reinterpret_cast<char*>(bytes), static_cast<int>(size), 0);
  received = count > 0 ? static_cast<size_t>(count) : 0;
  if (count > 0) return Io::kDone;
  if (count == 0) return Io::kClosed;
  return WouldBlock() ? Io::kWouldBlock : Io::kFailed;
}

bool Wait(Socket socket, bool write, int milliseconds) {
  WSAPOLLFD entry{Handle(socket), static_cast<short>(write ? POLLIN | POLLOUT : POLLIN), 0};
  return WSAPoll(&entry, 1, milliseconds) > 0;
}

void CloseSocket(Socket socket) {
  if (socket != kNoSocket) closesocket(Handle(socket));
}

int64_t NowMilliseconds() {
  return static_cast<int64_t>(GetTickCount64());
}

}  // namespace tav::h1tcp
