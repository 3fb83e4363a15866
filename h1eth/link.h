// The Ethernet link H1 frames travel over: send one frame, receive one frame waiting at most a
// given time, and the interface's own Ethernet address. The transport sees nothing but this
// interface, so the tests run it over a link in memory and the library over a packet socket.
//
// The packet link is the operating system's, one file each: on Linux (link_linux.cpp) a raw
// packet socket (AF_PACKET) bound to one named interface for IEEE 802.3 frames with an LLC
// header, which needs the capability CAP_NET_RAW, filtered in the kernel and read from a
// memory-mapped ring; on Windows (link_win32.cpp) an adapter opened
// through the packet-capture DLL that Npcap installs (wpcap.dll, loaded when the link opens),
// named by its friendly name, its Npcap device name or its MAC address. Either keeps only H1
// frames (DSAP FE, SSAP FE, control 03 UI) and, unless it is promiscuous, only those addressed to
// the interface, never its own; no interface is ever chosen by default.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "vocabulary/ethernet_address.h"

namespace tav::h1eth {

using FrameBytes = std::vector<uint8_t>;
using FrameView = std::span<const uint8_t>;

// The largest Ethernet frame without its frame check sequence.
inline constexpr size_t kLargestH1Frame = 1514;

class Link {
 public:
  virtual ~Link() = default;
  // One whole frame, from the destination address on (no preamble, no frame check sequence).
  // False when the interface refused it.
  virtual bool Send(FrameView frame) = 0;
  // The next frame into `frame`, waiting at most `waitMicroseconds` (0: only what is there);
  // false when none came in that time.
  virtual bool Receive(FrameBytes& frame, int64_t waitMicroseconds) = 0;
  virtual EthernetAddress Address() const = 0;
  // A descriptor that polls readable when a frame may have come (the packet socket), for an
  // owner that waits on its own sockets and the link at once; -1 where there is none.
  virtual int ReadableDescriptor() const { return -1; }
};

// Whether a frame is an H1 frame: IEEE 802.3 with a length field, LLC DSAP FE, SSAP FE, UI.
bool IsH1Frame(FrameView frame);

enum class LinkFailure : uint8_t {
  kNone,
  kNoInterfaceNamed,  // no interface was named
  kNoPermission,      // the process lacks CAP_NET_RAW, or Npcap admits administrators only
  kNoSuchInterface,   // the named interface does not exist
  kNoCaptureLibrary,  // Windows: no packet-capture DLL (Npcap) could be loaded
  kOther,             // any other error of the operating system (detail: its text)
};

struct LinkOpening {
  std::unique_ptr<Link> link;  // null when opening failed
  LinkFailure failure = LinkFailure::kNone;
  // The operating system's words for kOther; for kNoSuchInterface on Windows, the adapters there
  // are.
  std::string detail;
};

struct PacketLinkOptions {
  // Also receive frames addressed to other stations (the interface in promiscuous mode): for a
  // station that answers for many addresses on one interface.
  bool promiscuous = false;
};

LinkOpening OpenPacketLink(const std::string& interfaceName, const PacketLinkOptions& options = {});

// What failed and what to do about it, as one log line says it (without a prefix).
std::string DescribeLinkFailure(const LinkOpening& opening, const std::string& interfaceName);

// Whether the host process is ending with the library still loaded: on Windows the process's
// other threads are gone by then (ExitProcess ends them before the libraries' destructors run),
// and a lock one of them held stays held, so the library must neither wait for them nor take a
// lock. Never on Linux, where the destructors run while the threads still do.
bool HostProcessEnding();

}  // namespace tav::h1eth
