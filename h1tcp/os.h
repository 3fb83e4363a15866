// What libh1tcp needs from the operating system: name lookup, non-blocking TCP sockets, waiting
// for one socket with a bound, and a monotonic clock. One implementation per OS (os_posix.cpp,
// os_win32.cpp); OsSockets (sockets.cpp) puts the socket part behind the Sockets interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "sockets.h"

namespace tav::h1tcp {

// Sets the sockets layer up (Winsock); false when it cannot be used.
bool StartSockets();
void StopSockets();

std::optional<Endpoint> Resolve(const std::string& host, uint16_t port);
Io StartConnect(const Endpoint& endpoint, Socket& socket, SocketFailure& why);
Io FinishConnect(Socket socket, SocketFailure& why);
Io SendSome(Socket socket, const uint8_t* bytes, size_t size, size_t& sent);
Io ReceiveSome(Socket socket, uint8_t* bytes, size_t size, size_t& received);
bool Wait(Socket socket, bool write, int milliseconds);
void CloseSocket(Socket socket);

int64_t NowMilliseconds();

}  // namespace tav::h1tcp
