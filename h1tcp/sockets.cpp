#include "sockets.h"

#include "os.h"

namespace tav::h1tcp {

namespace {

class SystemSockets final : public Sockets {
 public:
  std::optional<Endpoint> Resolve(const std::string& host, uint16_t port) override {
    return h1tcp::Resolve(host, port);
  }
  Io StartConnect(const Endpoint& endpoint, Socket& socket, SocketFailure& why) override {
    return h1tcp::StartConnect(endpoint, socket, why);
  }
  Io FinishConnect(Socket socket, SocketFailure& why) override {
    return h1tcp::FinishConnect(socket, why);
  }
  Io SendSome(Socket socket, const uint8_t* bytes, size_t size, size_t& sent) override {
    return h1tcp::SendSome(socket, bytes, size, sent);
  }
  Io ReceiveSome(Socket socket, uint8_t* bytes, size_t size, size_t& received) override {
    return h1tcp::ReceiveSome(socket, bytes, size, received);
  }
  bool Wait(Socket socket, bool write, int milliseconds) override {
    return h1tcp::Wait(socket, write, milliseconds);
  }
  void Close(Socket socket) override { CloseSocket(socket); }
  int64_t NowMilliseconds() override { return h1tcp::NowMilliseconds(); }
};

}  // namespace

Sockets& OsSockets() {
  static SystemSockets sockets;
  return sockets;
}

}  // namespace tav::h1tcp
