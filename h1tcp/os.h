// What libh1tcp needs from the operating system: non-blocking TCP sockets, waiting for one socket
// with a bound, a monotonic clock, and where the library's own file lies. One implementation
// per OS (os_posix.cpp, os_win32.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
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

// Sets the sockets layer up (Winsock); false when it cannot be used.
bool StartSockets();
void StopSockets();

// Resolves `host` and starts a non-blocking connect to it. kDone when it connected at once,
// kWouldBlock while it goes on, kFailed otherwise (`socket` is then kNoSocket).
Io StartConnect(const std::string& host, uint16_t port, Socket& socket);
// After the socket became writable: whether the connect succeeded.
Io FinishConnect(Socket socket);
Io SendSome(Socket socket, const uint8_t* bytes, size_t size, size_t& sent);
Io ReceiveSome(Socket socket, uint8_t* bytes, size_t size, size_t& received);
// Waits up to `milliseconds` for the socket to become readable, or writable when `write`; true
// when it did, or when it has an error to report.
bool Wait(Socket socket, bool write, int milliseconds);
void CloseSocket(Socket socket);

// Milliseconds on a monotonic clock.
int64_t NowMilliseconds();
// The folder of the file this library was loaded from, with a trailing separator; empty when
// unknown.
std::string LibraryFolder();
// The value of an environment variable; empty when unset.
std::string Environment(const char* name);

}  // namespace tav::h1tcp
