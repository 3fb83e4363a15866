#include "link.h"

#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

namespace tav::h1eth {

namespace {

constexpr size_t kHeaderBytes = 14;  // destination, source, length

class PacketLink final : public Link {
 public:
  PacketLink(int socket, int interfaceIndex, EthernetAddress address, bool promiscuous)
      : socket_(socket),
        interfaceIndex_(interfaceIndex),
        address_(address),
        promiscuous_(promiscuous) {}
  ~PacketLink() override { ::close(socket_); }
  PacketLink(const PacketLink&) = delete;
  PacketLink& operator=(const PacketLink&) = delete;

  bool Send(FrameView frame) override {
    if (frame.size() < kHeaderBytes) return false;
    sockaddr_ll to{};
    to.sll_family = AF_PACKET;
    to.sll_ifindex = interfaceIndex_;
    to.sll_halen = ETH_ALEN;
    std::copy_n(frame.begin(), ETH_ALEN, to.sll_addr);
    const ssize_t sent = ::sendto(socket_, frame.data(), frame.size(), 0,
                                  reinterpret_cast<const sockaddr*>(&to), sizeof to);
    return sent == static_cast<ssize_t>(frame.size());
  }

  bool Receive(FrameBytes& frame, int64_t waitMicroseconds) override {
    timespec until{};
    clock_gettime(CLOCK_MONOTONIC, &until);
    AddMicroseconds(until, std::max<int64_t>(waitMicroseconds, 0));
    for (;;) {
      if (TakeOne(frame)) return true;
      timespec now{};
      clock_gettime(CLOCK_MONOTONIC, &now);
      const int64_t left =
          (until.tv_sec - now.tv_sec) * 1'000'000 + (until.tv_nsec - now.tv_nsec) / 1'000;
      if (left <= 0) return false;
      const timespec wait{static_cast<time_t>(left / 1'000'000),
                          static_cast<long>(left % 1'000'000 * 1'000)};
      pollfd entry{socket_, POLLIN, 0};
      if (::ppoll(&entry, 1, &wait, nullptr) < 0 && errno != EINTR) return false;
    }
  }

  EthernetAddress Address() const override { return address_; }

 private:
  static void AddMicroseconds(timespec& time, int64_t microseconds) {
    time.tv_sec += static_cast<time_t>(microseconds / 1'000'000);
    time.tv_nsec += static_cast<long>(microseconds % 1'000'000 * 1'000);
    if (time.tv_nsec >= 1'000'000'000) {
      time.tv_sec += 1;
      time.tv_nsec -= 1'000'000'000;
    }
  }

  // One waiting H1 frame for this interface, skipping every other frame that waits.
  bool TakeOne(FrameBytes& frame) {
    frame.resize(kLargestH1Frame);
    for (;;) {
      sockaddr_ll from{};
      socklen_t fromBytes = sizeof from;
      const ssize_t received = ::recvfrom(socket_, frame.data(), frame.size(), MSG_DONTWAIT,
                                          reinterpret_cast<sockaddr*>(&from), &fromBytes);
      if (received < 0) {
        if (errno == EINTR) continue;
        frame.clear();
        return false;
      }
      const auto bytes = static_cast<size_t>(received);
      if (from.sll_pkttype == PACKET_OUTGOING) continue;
      if (!promiscuous_ && from.sll_pkttype != PACKET_HOST) continue;
      if (!IsH1Frame(FrameView(frame.data(), bytes))) continue;
      frame.resize(bytes);
      return true;
    }
  }

  int socket_;
  int interfaceIndex_;
  EthernetAddress address_;
  bool promiscuous_;
};

LinkOpening Failed(LinkFailure failure, int error = 0) {
  LinkOpening opening;
  opening.failure = failure;
  if (error != 0) opening.detail = std::strerror(error);
  return opening;
}

}  // namespace

bool HostProcessEnding() {
  return false;
}

LinkOpening OpenPacketLink(const std::string& interfaceName, const PacketLinkOptions& options) {
  if (interfaceName.empty()) return Failed(LinkFailure::kNoInterfaceNamed);
  const unsigned index = ::if_nametoindex(interfaceName.c_str());
  if (index == 0 || interfaceName.size() >= IFNAMSIZ) return Failed(LinkFailure::kNoSuchInterface);
  // ETH_P_802_2: the kernel hands this socket every frame with an 802.3 length and an LLC header.
  const int fd = ::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(ETH_P_802_2));
  if (fd < 0) {
    return Failed(
        errno == EPERM || errno == EACCES ? LinkFailure::kNoPermission : LinkFailure::kOther,
        errno);
  }
  const auto fail = [fd](LinkFailure failure, int error) {
    ::close(fd);
    return Failed(failure, error);
  };

  ifreq request{};
  std::memcpy(request.ifr_name, interfaceName.c_str(), interfaceName.size());
  if (::ioctl(fd, SIOCGIFHWADDR, &request) < 0) return fail(LinkFailure::kOther, errno);
  EthernetAddress address{};
  std::memcpy(address.data(), request.ifr_hwaddr.sa_data, address.size());

  sockaddr_ll bound{};
  bound.sll_family = AF_PACKET;
  bound.sll_protocol = htons(ETH_P_802_2);
  bound.sll_ifindex = static_cast<int>(index);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&bound), sizeof bound) < 0) {
    return fail(LinkFailure::kOther, errno);
  }
  if (options.promiscuous) {
    packet_mreq membership{};
    membership.mr_ifindex = static_cast<int>(index);
    membership.mr_type = PACKET_MR_PROMISC;
    if (::setsockopt(fd, SOL_PACKET, PACKET_ADD_MEMBERSHIP, &membership, sizeof membership) < 0) {
      return fail(LinkFailure::kOther, errno);
    }
  }
  LinkOpening opening;
  opening.link =
      std::make_unique<PacketLink>(fd, static_cast<int>(index), address, options.promiscuous);
  return opening;
}

std::string DescribeLinkFailure(const LinkOpening& opening, const std::string& interfaceName) {
  switch (opening.failure) {
    case LinkFailure::kNone:
      break;
    case LinkFailure::kNoInterfaceNamed:
      return "no network interface: set TAV_H1_INTERFACE to the interface of the H1 network";
    case LinkFailure::kNoPermission:
      return "no right to raw Ethernet frames on " + interfaceName +
             ": CAP_NET_RAW is missing; run the host program as root or grant it with "
             "'setcap cap_net_raw+ep' on the host program";
    case LinkFailure::kNoSuchInterface:
      return "network interface '" + interfaceName + "' (TAV_H1_INTERFACE) not found";
    case LinkFailure::kNoCaptureLibrary:  // Windows only
    case LinkFailure::kOther:
      return "cannot open network interface " + interfaceName + ": " + opening.detail;
  }
  return "network interface " + interfaceName + " open";
}

}  // namespace tav::h1eth
