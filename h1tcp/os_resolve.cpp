// Looking up a host name, the same on both systems: getaddrinfo, whichever address family the
// name has (the socket is made for the family of the address found).
#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <sys/socket.h>
#endif

#include <cstring>
#include <optional>
#include <string>

#include "os.h"

namespace tav::h1tcp {

std::optional<Endpoint> Resolve(const std::string& host, uint16_t port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0 || found == nullptr) {
    return std::nullopt;
  }
  Endpoint endpoint;
  if (found->ai_addrlen <= endpoint.address.size()) {
    std::memcpy(endpoint.address.data(), found->ai_addr, found->ai_addrlen);
    endpoint.size = static_cast<uint32_t>(found->ai_addrlen);
  }
  freeaddrinfo(found);
  if (endpoint.size == 0) return std::nullopt;
  return endpoint;
}

}  // namespace tav::h1tcp
