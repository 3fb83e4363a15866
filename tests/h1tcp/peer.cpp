#include "peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "vocabulary/byte_order.h"

namespace tav::h1tcp::test {

namespace {

constexpr int kTimeoutMs = 5000;

}  // namespace

int ListenOnFreePort(uint16_t& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::listen(fd, 16);
  socklen_t size = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  port = ntohs(address.sin_port);
  return fd;
}

int ConnectToLoopback(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
  ::close(fd);
  return -1;
}

PeerSocket::~PeerSocket() {
  Close();
}

void PeerSocket::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void PeerSocket::Reset() {
  linger hard{1, 0};
  setsockopt(fd_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  Close();
}

std::optional<Bytes> PeerSocket::Read(size_t size) {
  if (fd_ < 0) return std::nullopt;
  Bytes bytes(size);
  size_t at = 0;
  while (at < size) {
    pollfd entry{fd_, POLLIN, 0};
    if (::poll(&entry, 1, kTimeoutMs) <= 0) return std::nullopt;
    const ssize_t count = ::recv(fd_, bytes.data() + at, size - at, 0);
    if (count <= 0) return std::nullopt;
    at += static_cast<size_t>(count);
  }
  return bytes;
}

std::optional<Bytes> PeerSocket::ReadTpkt() {
  std::optional<Bytes> header = Read(kTpktHeaderBytes);
  if (!header) return std::nullopt;
  const size_t size = LoadBe16(&(*header)[2]);
  if (size < kTpktHeaderBytes) return std::nullopt;
  std::optional<Bytes> rest = Read(size - kTpktHeaderBytes);
  if (!rest) return std::nullopt;
  header->insert(header->end(), rest->begin(), rest->end());
  return header;
}

std::optional<Bytes> PeerSocket::ReadData() {
  std::optional<Bytes> packet = ReadTpkt();
  if (!packet) return std::nullopt;
  std::optional<Tpdu> tpdu = ParseTpdu(*packet);
  if (!tpdu || tpdu->kind != TpduKind::kData) return std::nullopt;
  return Bytes(tpdu->payload.begin(), tpdu->payload.end());
}

void PeerSocket::Send(ByteView bytes) {
  (void)::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

std::optional<Bytes> PeerSocket::AcceptIso() {
  std::optional<Bytes> request = ReadTpkt();
  if (request) Confirm();
  return request;
}

void PeerSocket::Confirm() {
  // Connection confirm: length, code, destination and source references, class, TPDU size.
  const Bytes confirm{3, 0, 0, 14, 9, 0xD0, 0, 1, 0, 2, 0, 0xC0, 1, 0x0A};
  Send(confirm);
}

bool PeerSocket::AcceptSetup(uint16_t pdu, uint16_t jobs) {
  std::optional<Bytes> setup = ReadData();
  if (!setup || setup->size() < 18) return false;
  Bytes parameter{0xF0, 0, 0, 0, 0, 0, 0, 0};
  StoreBe16(&parameter[2], jobs);
  StoreBe16(&parameter[4], jobs);
  StoreBe16(&parameter[6], pdu);
  SendData(S7AckData(LoadBe16(&(*setup)[4]), parameter, {}));
  return true;
}

Peer::Peer(Script script) {
  listener_ = ListenOnFreePort(port_);
  thread_ = std::thread([this, script = std::move(script)] { script(*this); });
}

Peer::~Peer() {
  ending_ = true;
  thread_.join();
  StopListening();
}

void Peer::StopListening() {
  if (listener_ >= 0) ::close(listener_);
  listener_ = -1;
}

std::optional<PeerSocket> Peer::Accept() {
  for (int waited = 0; waited < kTimeoutMs && !ending_; waited += 10) {
    pollfd entry{listener_, POLLIN, 0};
    if (::poll(&entry, 1, 10) > 0) {
      const int fd = ::accept(listener_, nullptr, nullptr);
      if (fd >= 0) return PeerSocket(fd);
    }
  }
  return std::nullopt;
}

Bytes S7AckData(uint16_t reference, ByteView parameter, ByteView data, uint16_t error) {
  Bytes pdu{0x32, 0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  StoreBe16(&pdu[4], reference);
  StoreBe16(&pdu[6], static_cast<uint16_t>(parameter.size()));
  StoreBe16(&pdu[8], static_cast<uint16_t>(data.size()));
  StoreBe16(&pdu[10], error);
  pdu.reserve(pdu.size() + parameter.size() + data.size());
  pdu.insert(pdu.end(), parameter.begin(), parameter.end());
  pdu.insert(pdu.end(), data.begin(), data.end());
  return pdu;
}

Bytes S7ReadAnswer(uint16_t reference, uint8_t itemCode, ByteView bytes) {
  Bytes data{itemCode, 0x04, 0, 0};
  StoreBe16(&data[2], static_cast<uint16_t>(bytes.size() * 8));
  data.insert(data.end(), bytes.begin(), bytes.end());
  const Bytes parameter{0x04, 0x01};
  return S7AckData(reference, parameter, data);
}

Bytes S7WriteAnswer(uint16_t reference, uint8_t itemCode) {
  const Bytes parameter{0x05, 0x01};
  const Bytes data{itemCode};
  return S7AckData(reference, parameter, data);
}

}  // namespace tav::h1tcp::test
