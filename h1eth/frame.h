// The H1 frame: an IEEE 802.3 frame with a length field, LLC type 1 with the ISO network layer's
// service access points (DSAP 0xFE, SSAP 0xFE, UI), the inactive network layer (the single octet
// 0x00 of ISO 8473's inactive subset), and one transport protocol data unit of ISO 8073 class 4.
// EncodeFrame builds a whole frame, padded to Ethernet's minimum; DecodeFrame reads one back and
// returns nothing for any frame that is not H1.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <type_traits>

#include "plc_sessions/cotp.h"
#include "vocabulary/ethernet_address.h"

namespace tav::h1eth {

using Bytes = cotp::Bytes;
using ByteView = cotp::ByteView;

inline constexpr uint8_t kIsoNetworkSap = 0xFE;          // DSAP and SSAP
inline constexpr uint8_t kUnnumberedInformation = 0x03;  // LLC type 1's control octet
inline constexpr uint8_t kInactiveNetworkLayer = 0x00;   // ISO 8473's inactive subset
inline constexpr size_t kMinimumFrameBytes = 60;         // without the frame check sequence
inline constexpr size_t kLargestLengthField = 1500;      // a larger value is an EtherType
inline constexpr size_t kLlcAndNetworkBytes = 4;         // DSAP, SSAP, control, network layer
// The largest TPDU one frame carries, and the largest TPDU size code (1,024 octets) it fits.
inline constexpr size_t kLargestTpduBytes = kLargestLengthField - kLlcAndNetworkBytes;
inline constexpr uint8_t kLargestTpduSizeCode = 10;

// The octets ahead of the TPDU, as they lie in the frame. The length field counts the octets
// from DSAP to the end of the TPDU, padding excluded, most significant octet first.
struct FrameHeader {
  EthernetAddress destination;
  EthernetAddress source;
  std::array<uint8_t, 2> length;
  uint8_t dsap;
  uint8_t ssap;
  uint8_t control;
  uint8_t networkLayer;
};
static_assert(offsetof(FrameHeader, destination) == 0);
static_assert(offsetof(FrameHeader, source) == 6);
static_assert(offsetof(FrameHeader, length) == 12);
static_assert(offsetof(FrameHeader, dsap) == 14);
static_assert(offsetof(FrameHeader, ssap) == 15);
static_assert(offsetof(FrameHeader, control) == 16);
static_assert(offsetof(FrameHeader, networkLayer) == 17);
static_assert(sizeof(FrameHeader) == 18);
static_assert(std::is_trivially_copyable_v<FrameHeader>);

inline constexpr size_t kFrameHeaderBytes = sizeof(FrameHeader);

// A decoded H1 frame; `tpdu` points into the bytes it was decoded from.
struct Frame {
  EthernetAddress destination{};
  EthernetAddress source{};
  ByteView tpdu;
};

// The frame from `source` to `destination` carrying `tpdu`, padded with zeros to 60 octets.
// Returns an empty vector when the TPDU is longer than kLargestTpduBytes.
Bytes EncodeFrame(const EthernetAddress& destination, const EthernetAddress& source, ByteView tpdu);
// The same into `frame`, whose storage is used again: a sender of many frames allocates none.
void EncodeFrame(const EthernetAddress& destination, const EthernetAddress& source, ByteView tpdu,
                 Bytes& frame);

// The H1 frame in `frame` (without frame check sequence): nothing when it is shorter than its
// header, its length field is an EtherType, shorter than the LLC and network octets or runs past
// the frame, or its LLC or network octets are not H1's. Padding beyond the length is ignored.
std::optional<Frame> DecodeFrame(ByteView frame);

}  // namespace tav::h1eth
