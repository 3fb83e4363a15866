#include "link.h"

#include <arpa/inet.h>
#include <linux/filter.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <mutex>
#include <vector>

#include "vocabulary/byte_order.h"

namespace tav::h1eth {

namespace {

constexpr size_t kHeaderBytes = 14;  // destination, source, length

// The receive ring the kernel writes arriving frames into and this process reads without a
// system call: every frame that has arrived is taken in one pass. TPACKET_V2, one frame a slot:
// V3's blocks are handed over when full or when their timer runs out, which delays an answer.
constexpr unsigned kRingSlotBytes = 2048;  // the slot's header, the sender's address, a frame
constexpr unsigned kRingBlockBytes = 1U << 16;
constexpr unsigned kRingBlocks = 16;  // 512 frames: a burst of a full credit many times over
constexpr unsigned kRingSlots = kRingBlockBytes / kRingSlotBytes * kRingBlocks;
constexpr size_t kRingBytes = size_t{kRingBlockBytes} * kRingBlocks;
// Where the kernel puts the sender's address in a slot, after the slot's own header.
constexpr size_t kSlotAddressOffset = TPACKET_ALIGN(sizeof(tpacket2_hdr));
static_assert(kSlotAddressOffset + sizeof(sockaddr_ll) + kLargestH1Frame + 2 * TPACKET_ALIGNMENT <=
                  kRingSlotBytes,
              "a slot holds its header, the sender's address and the largest H1 frame");
static_assert(kRingBlockBytes % kRingSlotBytes == 0, "a block holds whole slots");

// The kernel's filter: only H1 frames (an 802.3 length, DSAP FE, SSAP FE, UI) for this interface
// ever reach the ring or wake the library; those for other stations, other protocols and the
// copies of what this socket sent itself stop in the kernel. The link still judges every frame
// it takes, for the frames that came in before the filter was attached.
//
// The filter is a row of tests, each a load and a comparison; a frame that fails one is dropped.
struct FilterTest {
  sock_filter load;
  uint16_t comparison;  // BPF_JEQ or BPF_JGE
  uint32_t value;
  bool dropWhenTrue;  // the comparison holding fails the test
};

using FrameFilter = std::vector<sock_filter>;

constexpr sock_filter Load(uint16_t size, uint32_t offset) {
  return BPF_STMT(BPF_LD | size | BPF_ABS, offset);
}

FrameFilter H1FrameFilter(const EthernetAddress& address, bool promiscuous) {
  constexpr uint32_t kPacketType = SKF_AD_OFF + SKF_AD_PKTTYPE;
  std::vector<FilterTest> tests;
  if (promiscuous) {
    tests.push_back({Load(BPF_B, kPacketType), BPF_JEQ, PACKET_OUTGOING, true});
  } else {
    tests.push_back({Load(BPF_B, kPacketType), BPF_JEQ, PACKET_HOST, false});
    tests.push_back({Load(BPF_W, 0), BPF_JEQ, LoadBe32(address.data()), false});
    tests.push_back({Load(BPF_H, 4), BPF_JEQ, LoadBe16(address.data() + 4), false});
  }
  tests.push_back({Load(BPF_H, 12), BPF_JGE, 0x600, true});  // an EtherType, not a length
  tests.push_back({Load(BPF_H, kHeaderBytes), BPF_JEQ, 0xFEFE, false});
  tests.push_back({Load(BPF_B, kHeaderBytes + 2), BPF_JEQ, 0x03, false});
  FrameFilter code;
  for (size_t i = 0; i < tests.size(); ++i) {
    const FilterTest& test = tests[i];
    // From the comparison to the drop: the tests after it, two instructions each, and the accept.
    const auto toDrop = static_cast<uint8_t>(2 * (tests.size() - i - 1) + 1);
    code.push_back(test.load);
    code.push_back(BPF_JUMP(BPF_JMP | test.comparison | BPF_K, test.value,
                            test.dropWhenTrue ? toDrop : uint8_t{0},
                            test.dropWhenTrue ? uint8_t{0} : toDrop));
  }
  code.push_back(BPF_STMT(BPF_RET | BPF_K, 0xFFFF));  // the whole frame
  code.push_back(BPF_STMT(BPF_RET | BPF_K, 0));
  return code;
}

class PacketLink final : public Link {
 public:
  PacketLink(int socket, int interfaceIndex, EthernetAddress address, bool promiscuous,
             uint8_t* ring)
      : socket_(socket),
        interfaceIndex_(interfaceIndex),
        address_(address),
        promiscuous_(promiscuous),
        ring_(ring) {}
  ~PacketLink() override {
    ::munmap(ring_, kRingBytes);
    ::close(socket_);
  }
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
    if (TakeOne(frame)) return true;
    if (waitMicroseconds <= 0) return false;
    timespec until{};
    clock_gettime(CLOCK_MONOTONIC, &until);
    AddMicroseconds(until, waitMicroseconds);
    for (;;) {
      timespec now{};
      clock_gettime(CLOCK_MONOTONIC, &now);
      const int64_t left =
          (until.tv_sec - now.tv_sec) * 1'000'000 + (until.tv_nsec - now.tv_nsec) / 1'000;
      if (left <= 0) return false;
      const timespec wait{static_cast<time_t>(left / 1'000'000),
                          static_cast<long>(left % 1'000'000 * 1'000)};
      pollfd entry{socket_, POLLIN, 0};
      if (::ppoll(&entry, 1, &wait, nullptr) < 0 && errno != EINTR) return false;
      if (TakeOne(frame)) return true;
    }
  }

  EthernetAddress Address() const override { return address_; }
  int ReadableDescriptor() const override { return socket_; }

 private:
  static void AddMicroseconds(timespec& time, int64_t microseconds) {
    time.tv_sec += static_cast<time_t>(microseconds / 1'000'000);
    time.tv_nsec += static_cast<long>(microseconds % 1'000'000 * 1'000);
    if (time.tv_nsec >= 1'000'000'000) {
      time.tv_sec += 1;
      time.tv_nsec -= 1'000'000'000;
    }
  }

  // Whether the link hands a frame on: an H1 frame for this interface (or, promiscuous, for
  // anyone), never one this socket sent, never one cut short.
  bool Wanted(const tpacket2_hdr& slot, const sockaddr_ll& from, FrameView bytes) const {
    if (slot.tp_len != slot.tp_snaplen || bytes.size() > kLargestH1Frame) return false;
    if (from.sll_pkttype == PACKET_OUTGOING) return false;
    if (!promiscuous_ && from.sll_pkttype != PACKET_HOST) return false;
    return IsH1Frame(bytes);
  }

  // The next H1 frame for this interface from the ring, handing every slot it reads back to the
  // kernel; false when the ring holds no more. Two threads may ask at once (the library's timer
  // thread and a caller awaiting its answer): one at a time reads the ring.
  bool TakeOne(FrameBytes& frame) {
    const std::lock_guard lock(ringMutex_);
    for (;;) {
      uint8_t* base = ring_ + size_t{next_} * kRingSlotBytes;
      auto& slot = *reinterpret_cast<tpacket2_hdr*>(base);
      if ((__atomic_load_n(&slot.tp_status, __ATOMIC_ACQUIRE) & TP_STATUS_USER) == 0) return false;
      const auto& from = *reinterpret_cast<const sockaddr_ll*>(base + kSlotAddressOffset);
      const bool inSlot = size_t{slot.tp_mac} + slot.tp_snaplen <= kRingSlotBytes;
      const bool wanted =
          inSlot && Wanted(slot, from, FrameView(base + slot.tp_mac, slot.tp_snaplen));
      if (wanted) frame.assign(base + slot.tp_mac, base + slot.tp_mac + slot.tp_snaplen);
      __atomic_store_n(&slot.tp_status, TP_STATUS_KERNEL, __ATOMIC_RELEASE);
      next_ = (next_ + 1) % kRingSlots;
      if (wanted) return true;
    }
  }

  int socket_;
  int interfaceIndex_;
  EthernetAddress address_;
  bool promiscuous_;
  uint8_t* ring_;
  std::mutex ringMutex_;
  unsigned next_ = 0;  // the slot to look at next; under ringMutex_
};

LinkOpening Failed(LinkFailure failure, int error = 0) {
  LinkOpening opening;
  opening.failure = failure;
  if (error != 0) opening.detail = std::strerror(error);
  return opening;
}

// The receive ring in this process's memory, mapped from the socket; nullptr when the kernel
// refused it (errno says why).
uint8_t* MapReceiveRing(int fd) {
  const int version = TPACKET_V2;
  tpacket_req ring{};
  ring.tp_block_size = kRingBlockBytes;
  ring.tp_block_nr = kRingBlocks;
  ring.tp_frame_size = kRingSlotBytes;
  ring.tp_frame_nr = kRingSlots;
  if (::setsockopt(fd, SOL_PACKET, PACKET_VERSION, &version, sizeof version) < 0 ||
      ::setsockopt(fd, SOL_PACKET, PACKET_RX_RING, &ring, sizeof ring) < 0) {
    return nullptr;
  }
  void* mapped = ::mmap(nullptr, kRingBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  return mapped == MAP_FAILED ? nullptr : static_cast<uint8_t*>(mapped);
}

}  // namespace

bool HostProcessEnding() {
  return false;
}

LinkOpening OpenPacketLink(const std::string& interfaceName, const PacketLinkOptions& options) {
  if (interfaceName.empty()) return Failed(LinkFailure::kNoInterfaceNamed);
  const unsigned index = ::if_nametoindex(interfaceName.c_str());
  if (index == 0 || interfaceName.size() >= IFNAMSIZ) return Failed(LinkFailure::kNoSuchInterface);
  // No protocol until the filter and the ring are in place: bound to ETH_P_802_2 below, the
  // kernel hands this socket every frame with an 802.3 length and an LLC header.
  const int fd = ::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0);
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

  FrameFilter code = H1FrameFilter(address, options.promiscuous);
  const sock_fprog filter{static_cast<unsigned short>(code.size()), code.data()};
  if (::setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &filter, sizeof filter) < 0) {
    return fail(LinkFailure::kOther, errno);
  }
  // What this socket sends never comes back to it (kernels before 4.20 lack the option: there the
  // filter drops the copies).
  const int one = 1;
  ::setsockopt(fd, SOL_PACKET, PACKET_IGNORE_OUTGOING, &one, sizeof one);
  uint8_t* ring = MapReceiveRing(fd);
  if (ring == nullptr) return fail(LinkFailure::kOther, errno);
  const auto failMapped = [&](int error) {
    ::munmap(ring, kRingBytes);
    return fail(LinkFailure::kOther, error);
  };

  sockaddr_ll bound{};
  bound.sll_family = AF_PACKET;
  bound.sll_protocol = htons(ETH_P_802_2);
  bound.sll_ifindex = static_cast<int>(index);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&bound), sizeof bound) < 0) {
    return failMapped(errno);
  }
  if (options.promiscuous) {
    packet_mreq membership{};
    membership.mr_ifindex = static_cast<int>(index);
    membership.mr_type = PACKET_MR_PROMISC;
    if (::setsockopt(fd, SOL_PACKET, PACKET_ADD_MEMBERSHIP, &membership, sizeof membership) < 0) {
      return failMapped(errno);
    }
  }
  LinkOpening opening;
  opening.link =
      std::make_unique<PacketLink>(fd, static_cast<int>(index), address, options.promiscuous, ring);
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
