#include "raw_link.h"

#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tav::h1eth::test {
namespace {

constexpr size_t kHeaderBytes = 14;
constexpr uint8_t kLlcAndNetwork[] = {0xFE, 0xFE, 0x03, 0x00};
constexpr size_t kMinimumData = 46;

}  // namespace

RawLink::RawLink(const std::string& interface) {
  index_ = static_cast<int>(if_nametoindex(interface.c_str()));
  if (index_ == 0) {
    error_ = "no interface " + interface;
    return;
  }
  const int fd = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(ETH_P_ALL));
  if (fd < 0) {
    error_ = std::string("AF_PACKET socket: ") + std::strerror(errno);
    return;
  }
  sockaddr_ll bound{};
  bound.sll_family = AF_PACKET;
  bound.sll_protocol = htons(ETH_P_ALL);
  bound.sll_ifindex = index_;
  packet_mreq promiscuous{};
  promiscuous.mr_ifindex = index_;
  promiscuous.mr_type = PACKET_MR_PROMISC;
  const int one = 1;
  const int buffer = 4 << 20;  // bursts of thousands of frames, with the kernel's overhead on each
  ifreq request{};
  std::strncpy(request.ifr_name, interface.c_str(), IFNAMSIZ - 1);
  if (bind(fd, reinterpret_cast<sockaddr*>(&bound), sizeof bound) != 0 ||
      setsockopt(fd, SOL_PACKET, PACKET_ADD_MEMBERSHIP, &promiscuous, sizeof promiscuous) != 0 ||
      setsockopt(fd, SOL_PACKET, PACKET_IGNORE_OUTGOING, &one, sizeof one) != 0 ||
      setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer) != 0 ||
      ioctl(fd, SIOCGIFHWADDR, &request) != 0) {
    error_ = std::string("AF_PACKET set-up on ") + interface + ": " + std::strerror(errno);
    close(fd);
    return;
  }
  std::memcpy(address_.data(), request.ifr_hwaddr.sa_data, address_.size());
  fd_ = fd;
}

RawLink::~RawLink() {
  if (fd_ >= 0) close(fd_);
}

bool RawLink::Send(std::span<const uint8_t> frame) const {
  sockaddr_ll to{};
  to.sll_family = AF_PACKET;
  to.sll_ifindex = index_;
  to.sll_halen = 6;
  std::memcpy(to.sll_addr, frame.data(), 6);
  return sendto(fd_, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
         static_cast<ssize_t>(frame.size());
}

std::optional<Frame> RawLink::Receive(std::chrono::microseconds wait) const {
  pollfd entry{fd_, POLLIN, 0};
  timespec timeout{static_cast<time_t>(wait.count() / 1'000'000),
                   static_cast<long>(wait.count() % 1'000'000 * 1000)};
  if (ppoll(&entry, 1, &timeout, nullptr) <= 0) return std::nullopt;
  Frame frame(2048);
  const ssize_t got = recv(fd_, frame.data(), frame.size(), MSG_DONTWAIT);
  if (got <= 0) return std::nullopt;
  frame.resize(static_cast<size_t>(got));
  return frame;
}

Frame H1Frame(const std::array<uint8_t, 6>& destination, const std::array<uint8_t, 6>& source,
              std::span<const uint8_t> tpdu) {
  Frame frame(destination.begin(), destination.end());
  frame.insert(frame.end(), source.begin(), source.end());
  const size_t length = sizeof kLlcAndNetwork + tpdu.size();
  frame.push_back(static_cast<uint8_t>(length >> 8));
  frame.push_back(static_cast<uint8_t>(length));
  frame.insert(frame.end(), std::begin(kLlcAndNetwork), std::end(kLlcAndNetwork));
  frame.insert(frame.end(), tpdu.begin(), tpdu.end());
  if (frame.size() < kHeaderBytes + kMinimumData) frame.resize(kHeaderBytes + kMinimumData);
  return frame;
}

std::span<const uint8_t> TpduOf(std::span<const uint8_t> frame) {
  if (frame.size() < kHeaderBytes + sizeof kLlcAndNetwork) return {};
  const size_t length = size_t{frame[12]} << 8 | frame[13];
  if (length > 1500 || length < sizeof kLlcAndNetwork || kHeaderBytes + length > frame.size() ||
      std::memcmp(frame.data() + kHeaderBytes, kLlcAndNetwork, sizeof kLlcAndNetwork) != 0) {
    return {};
  }
  return frame.subspan(kHeaderBytes + sizeof kLlcAndNetwork, length - sizeof kLlcAndNetwork);
}

}  // namespace tav::h1eth::test
